#include <cstdio>

#include "cli/commands.hpp"

namespace ocu::cli {

int run_fixindep(const Args&) {
    std::fputs("ocumbra-sim: the fixindep simulation is not available yet\n", stderr);
    return 1;
}

}  // namespace ocu::cli
