#include "cli/options.hpp"

#include "toolkit/side_by_side.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "clinical/photo.hpp"
#include "clinical/units.hpp"
#include "toolkit/viewing.hpp"

namespace ocu::cli {

std::string Parsed::last(const std::string& name, const std::string& fallback) const {
    auto it = options.find(name);
    return (it == options.end() || it->second.empty()) ? fallback : it->second.back();
}

Parsed parse_args(const std::vector<std::string>& args, const std::set<std::string>& allowed,
                  std::size_t npositional) {
    return parse_args(args, allowed, npositional, npositional);
}

bool is_flag(const std::string& name) { return name == kSideBySide; }

Parsed parse_args(const std::vector<std::string>& args, const std::set<std::string>& allowed,
                  std::size_t min_positional, std::size_t max_positional) {
    Parsed p;
    bool options_done = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!options_done && a == "--") {
            options_done = true;
        } else if (!options_done && a.size() > 2 && a.rfind("--", 0) == 0) {
            std::string name = a, value;
            const auto eq = a.find('=');
            if (eq != std::string::npos) {
                name = a.substr(0, eq);
                value = a.substr(eq + 1);
                if (is_flag(name)) throw UsageError("option " + name + " takes no value");
            } else if (is_flag(a)) {
                // A switch: present or not.
            } else {
                if (i + 1 >= args.size()) throw UsageError("option " + a + " needs a value");
                value = args[++i];
            }
            if (!allowed.count(name)) throw UsageError("unknown option " + name);
            p.options[name].push_back(value);
        } else {
            p.positional.push_back(a);
        }
    }
    const std::size_t n = p.positional.size();
    if (n < min_positional || n > max_positional) {
        const std::string wanted = min_positional == max_positional
                                       ? std::to_string(min_positional)
                                       : std::to_string(min_positional) + " or " + std::to_string(max_positional);
        throw UsageError("expected " + wanted + " file arguments, got " + std::to_string(n));
    }
    return p;
}

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Plain decimal notation: [+-] digits [. digits] [(e|E) [+-] digits], at least
// one digit in the mantissa; nothing before or after (no blanks, no "0x").
bool plain_decimal(const std::string& s) {
    std::size_t i = 0, digits = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    for (; i < s.size() && is_digit(s[i]); ++i) ++digits;
    if (i < s.size() && s[i] == '.')
        for (++i; i < s.size() && is_digit(s[i]); ++i) ++digits;
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (i == s.size() || !is_digit(s[i])) return false;
        while (i < s.size() && is_digit(s[i])) ++i;
    }
    return i == s.size();
}

}  // namespace

double parse_number(const std::string& text, const std::string& option) {
    errno = 0;
    char* end = nullptr;
    const double v = plain_decimal(text) ? std::strtod(text.c_str(), &end) : 0.0;
    if (!plain_decimal(text) || end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v)) {
        throw UsageError(option + " needs a finite number, got \"" + text + "\"");
    }
    return v;
}

std::pair<double, double> parse_point(const std::string& text, const std::string& option) {
    const auto comma = text.find(',');
    if (comma == std::string::npos) throw UsageError(option + " needs X,Y, got \"" + text + "\"");
    return {parse_number(text.substr(0, comma), option), parse_number(text.substr(comma + 1), option)};
}

double parse_width_option(const std::string& text, const std::string& input) {
    if (text == "photo") return clinical::photo_width_degrees(input);
    const double w = parse_number(text, "--width");
    checked_option("--width", [w] { viewing::check_width(w); });
    return w;
}

double parse_acuity_option(const std::string& text) {
    try {
        return clinical::parse_acuity(text, "--acuity");  // its message names --acuity
    } catch (const Error& e) {
        throw UsageError(e.what());
    }
}

double parse_contrast_options(const Parsed& p, double fallback) {
    if (p.has("--contrast") && p.has("--logcs")) throw UsageError("give --contrast or --logcs, not both");
    if (p.has("--logcs")) {
        const double s = parse_number(p.last("--logcs", ""), "--logcs");
        return checked_option("--logcs", [s] { return clinical::contrast_factor_from_logcs(s); });
    }
    if (p.has("--contrast")) {
        const double f = parse_number(p.last("--contrast", ""), "--contrast");
        checked_option("--contrast", [f] { viewing::check_contrast(f); });
        return f;
    }
    return fallback;
}

ArrayD output_of(const Parsed& p, const AnyImage& input, ArrayD result) {
    if (!p.has(kSideBySide)) return result;
    return side_by_side(input, result);
}

}  // namespace ocu::cli
