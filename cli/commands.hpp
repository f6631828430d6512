#pragma once
// The subcommands of ocumbra-sim. Each takes the arguments after its name and
// returns the process exit status: 0 success, 1 error (one line on stderr, no
// output file written), 2 usage error.
#include <string>
#include <vector>

namespace ocu::cli {

using Args = std::vector<std::string>;

int run_fixindep(const Args& args);
int run_fixdep(const Args& args);
int run_glare(const Args& args);
int run_convert(const Args& args);

}  // namespace ocu::cli
