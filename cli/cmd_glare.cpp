#include <cstdio>

#include "cli/commands.hpp"

namespace ocu::cli {

int run_glare(const Args&) {
    std::fputs("ocumbra-sim: the glare simulation is not available yet\n", stderr);
    return 1;
}

}  // namespace ocu::cli
