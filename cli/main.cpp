#include <cstdio>
#include <string>

#include "cli/commands.hpp"

namespace {
const char* kUsage =
    "usage:\n"
    "  ocumbra-sim fixindep [--width DEG] [--acuity DEC] [--contrast F] INPUT OUTPUT\n"
    "  ocumbra-sim fixdep   [--width DEG] [--acuity DEC] [--polar FILE] [--at X,Y]... [--resmap FILE] INPUT OUTPUT\n"
    "  ocumbra-sim glare    [--width DEG] [--glare N] INPUT OUTPUT\n"
    "  ocumbra-sim convert  INPUT OUTPUT\n";
}

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string cmd = argv[1];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    ocu::cli::Args args(argv + 2, argv + argc);
    if (cmd == "fixindep") return ocu::cli::run_fixindep(args);
    if (cmd == "fixdep") return ocu::cli::run_fixdep(args);
    if (cmd == "glare") return ocu::cli::run_glare(args);
    if (cmd == "convert") return ocu::cli::run_convert(args);
    std::fprintf(stderr, "ocumbra-sim: unknown command \"%s\"\n%s", cmd.c_str(), kUsage);
    return 2;
}
