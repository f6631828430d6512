// ocumbra-sim's help: --version, --help, and `<command> --help` for every
// subcommand of the table, naming each option the command's usage line has.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/commands.hpp"
#include "cli_testutil.hpp"

namespace {

using namespace ocu::cli;
using ocu::testutil::run_command;
using ocu::testutil::run_tool;
using ocu::testutil::TempDir;
using ocu::testutil::ToolRun;

TEST(SimHelp, VersionAndUsageOfEveryCommand) {
    ToolRun r = run_tool({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("ocumbra-sim ") + OCU_VERSION + "\n");

    r = run_tool({"--help"});
    EXPECT_EQ(r.status, 0);
    // The form man-page tools read: "Usage:" with the first form, "or:" with each further one.
    const Command& first = commands().front();
    EXPECT_EQ(r.out.rfind(
                  "Usage: ocumbra-sim " + std::string(first.name) + " " + std::string(first.usage) + "\n", 0),
              0u)
        << r.out;
    for (const Command& c : commands().subspan(1)) {
        EXPECT_NE(
            r.out.find("\n  or:  ocumbra-sim " + std::string(c.name) + " " + std::string(c.usage) + "\n"),
            std::string::npos)
            << c.name;
    }
    EXPECT_NE(r.out.find("\n  or:  ocumbra-sim COMMAND --help\n"), std::string::npos);
}

// Every option a usage line names has its description in `ocumbra-sim <command> --help`.
TEST(SimHelp, EveryCommandDescribesItsOptions) {
    for (const Command& c : commands()) {
        const ToolRun r = run_command(std::string(c.name), {"--help"});
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(
            r.out.rfind("Usage: ocumbra-sim " + std::string(c.name) + " " + std::string(c.usage) + "\n", 0),
            0u)
            << r.out;
        EXPECT_NE(r.out.find(std::string(c.summary)), std::string::npos) << c.name;
        const std::string usage(c.usage);
        for (std::size_t i = usage.find("--"); i != std::string::npos; i = usage.find("--", i + 2)) {
            const std::string option = usage.substr(i, usage.find_first_of(" ]=", i) - i);
            EXPECT_NE(r.out.find("\n  " + option + " "), std::string::npos)
                << "ocumbra-sim " << c.name << " --help does not describe " << option << ":\n"
                << r.out;
        }
    }
}

TEST(SimHelp, HelpAnywhereAmongTheArgumentsWritesNothing) {
    TempDir dir;
    const ToolRun r = run_command("glare", {"NatIm13.jpg", dir.file("out.png"), "-h"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: ocumbra-sim glare ", 0), 0u) << r.out;
    EXPECT_TRUE(dir.empty());
}

TEST(CommandHelp, TakesAnOptionsContinuationLinesAndNoOtherOption) {
    const Command c{"demo", "[--alpha A] [--beta] IN OUT", "a demonstration", nullptr};
    const std::string options =
        "Options:\n"
        "  --alphabet X   not --alpha\n"
        "  --alpha A      the first line of alpha\n"
        "                 and its second line\n"
        "  --gamma G      not named by the usage\n"
        "  --beta         beta\n"
        "Trailing notes.\n";
    EXPECT_EQ(command_help(c, options),
              "Usage: ocumbra-sim demo [--alpha A] [--beta] IN OUT\n"
              "\n"
              "a demonstration\n"
              "\n"
              "Options:\n"
              "  --alpha A      the first line of alpha\n"
              "                 and its second line\n"
              "  --beta         beta\n"
              "\n"
              "See ocumbra-sim --help for the output formats and the exit status.\n");
    // A usage line without options gets no options part.
    const Command plain{"plain", "IN OUT", "no options", nullptr};
    EXPECT_EQ(command_help(plain, options).find("Options:"), std::string::npos);
}

}  // namespace
