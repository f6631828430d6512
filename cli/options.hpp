#pragma once
// Command-line parsing shared by the subcommands of ocumbra-sim.
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "toolkit/array.hpp"
#include "toolkit/error.hpp"

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

// The switches: options that take no value (is_flag), recorded with the
// value "" when given.
inline constexpr const char* kSideBySide = "--side-by-side";  // write the input and the result side by side
bool is_flag(const std::string& name);

// Parses "--name VALUE" and "--name=VALUE" for the allowed option names (a
// switch stands alone) and
// collects the rest as positional arguments; exactly `npositional` are required.
// A lone "--" ends the options: every argument after it is positional (a file
// whose name starts with "--").
Parsed parse_args(const std::vector<std::string>& args, const std::set<std::string>& allowed,
                  std::size_t npositional);
// The same with min_positional to max_positional positional arguments.
Parsed parse_args(const std::vector<std::string>& args, const std::set<std::string>& allowed,
                  std::size_t min_positional, std::size_t max_positional);

// A whole finite number in plain decimal notation, e.g. "20", "0.1", "1e-3",
// "-2.5"; anything else (hexadecimal, blanks before or after, "inf", "nan",
// a trailing letter) is a usage error naming the option.
double parse_number(const std::string& text, const std::string& option);

// Runs `check` (a simulation's check of an option value, which throws
// ocu::Error) and turns its error into a usage error naming the option, so
// that every out-of-range value exits with status 2.
template <class F>
auto checked_option(const std::string& option, F&& check) {
    try {
        return check();
    } catch (const Error& e) {
        throw UsageError(option + ": " + e.what());
    }
}

// --width: a number of degrees (checked as every simulation checks it), or
// "photo": the angle the photo in `input` spans, from its EXIF focal length
// (clinical/photo.hpp; a photo without one is an error, exit status 1).
double parse_width_option(const std::string& text, const std::string& input);

// --acuity in any clinical notation: decimal, Snellen "20/40", "logMAR 0.3".
double parse_acuity_option(const std::string& text);

// The result to write: with --side-by-side the input as read and the result
// next to each other (toolkit/side_by_side.hpp), else the result itself.
ArrayD output_of(const Parsed& p, const AnyImage& input, ArrayD result);

// The contrast factor from --contrast F or --logcs S (a Pelli-Robson score,
// factor 10^(1.95 - S)); both at once is a usage error. `fallback` when
// neither is given.
double parse_contrast_options(const Parsed& p, double fallback);

// "X,Y" as two numbers (1-based column and row, may be fractional).
std::pair<double, double> parse_point(const std::string& text, const std::string& option);

}  // namespace ocu::cli
