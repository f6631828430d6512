#pragma once
// The subcommands of ocumbra-sim, in one table that feeds both the dispatcher
// (main.cpp) and the usage and help texts. Adding a subcommand is one file
// cmd_<name>.cpp with its run function and one entry in the table
// (commands.cpp).
//
// Each run function takes the arguments after the subcommand's name and
// returns the process exit status: 0 success, 1 error (one line on stderr, no
// output file written), 2 usage error (see run_guarded in output.hpp).
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ocu::cli {

using Args = std::vector<std::string>;

struct Command {
    std::string_view name;     // the subcommand, e.g. "glare"
    std::string_view usage;    // options and files after the name, for the usage text
    std::string_view summary;  // one line for --help
    int (*run)(const Args& args);
};

// Every subcommand, in the order the usage text lists them.
std::span<const Command> commands();

// The subcommand called `name`, or nullptr.
const Command* find_command(std::string_view name);

// "usage:" and one line per subcommand, "  ocumbra-sim <name> <usage>", the
// names padded to one width. Printed after a usage error.
const char* usage_text();

// "  <name>  <summary>" per subcommand, the names padded to one width.
std::string summaries_text();

// The usage part of --help, in the form man-page tools read: "Usage: " and
// the first subcommand's line, "  or:  " and each further one's, then the
// help and version forms.
std::string help_usage_text();

// The help of one subcommand (`ocumbra-sim <name> --help`): its usage line,
// its summary, and the lines of `options_help` that describe the options its
// usage line names. An option's lines are the one starting with "  --<option> "
// and the more deeply indented lines that follow it.
std::string command_help(const Command& c, std::string_view options_help);

int run_fixindep(const Args& args);
int run_fixdep(const Args& args);
int run_glare(const Args& args);
int run_convert(const Args& args);
int run_colour(const Args& args);
int run_field(const Args& args);
int run_scenario(const Args& args);
int run_presets(const Args& args);

}  // namespace ocu::cli
