#include <cstdio>

#include "cli/commands.hpp"

namespace ocu::cli {

int run_convert(const Args&) {
    std::fputs("ocumbra-sim: the convert simulation is not available yet\n", stderr);
    return 1;
}

}  // namespace ocu::cli
