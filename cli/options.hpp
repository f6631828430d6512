#pragma once
// Command-line parsing shared by the subcommands of ocumbra-sim.
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace ocu::cli {

// A usage error: the tool prints the text and the usage line, exit status 2.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& text) : std::runtime_error(text) {}
};

struct Parsed {
    std::map<std::string, std::vector<std::string>> options;  // "--width" -> values, in order
    std::vector<std::string> positional;
    bool has(const std::string& name) const { return options.count(name) != 0; }
    // The last value given for an option, or `fallback`.
    std::string last(const std::string& name, const std::string& fallback) const;
};

// Parses "--name VALUE" and "--name=VALUE" for the allowed option names and
// collects the rest as positional arguments; exactly `npositional` are required.
Parsed parse_args(const std::vector<std::string>& args, const std::set<std::string>& allowed,
                  std::size_t npositional);

// A whole finite decimal number, e.g. "20", "0.1", "1e-3"; anything else is a
// usage error naming the option.
double parse_number(const std::string& text, const std::string& option);

// "X,Y" as two numbers (1-based column and row, may be fractional).
std::pair<double, double> parse_point(const std::string& text, const std::string& option);

}  // namespace ocu::cli
