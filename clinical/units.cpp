#include "clinical/units.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <string>

#include "toolkit/error.hpp"

namespace ocu::clinical {

namespace {

constexpr double kMinLogMar = -0.3;
constexpr double kMaxLogMar = 3.0;
constexpr double kMinLogCS = 0.0;
constexpr double kMaxLogCS = 2.4;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::size_t skip_blanks(std::string_view s, std::size_t pos) {
    while (pos < s.size() && is_blank(s[pos])) ++pos;
    return pos;
}

// Whether s[pos..] starts with "logmar" in any letter case.
bool at_logmar(std::string_view s, std::size_t pos) {
    constexpr std::string_view kWord = "logmar";
    if (s.size() - pos < kWord.size()) return false;
    for (std::size_t i = 0; i < kWord.size(); ++i)
        if (lower(s[pos + i]) != kWord[i]) return false;
    return true;
}

// Reads a number in plain decimal notation, [+-] digits [. digits] [e [+-] digits]
// (at least one digit before or after the point), at s[pos..]. Returns the
// position after it, or npos when there is none. A number beyond the range of
// double reads as infinity.
std::size_t read_number(std::string_view s, std::size_t pos, double& value) {
    std::size_t i = pos;
    const bool negative = i < s.size() && s[i] == '-';
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const std::size_t mantissa = i;
    std::size_t digits = 0;
    for (; i < s.size() && is_digit(s[i]); ++i) ++digits;
    if (i < s.size() && s[i] == '.')
        for (++i; i < s.size() && is_digit(s[i]); ++i) ++digits;
    if (digits == 0) return std::string_view::npos;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j == s.size() || !is_digit(s[j])) return std::string_view::npos;
        while (j < s.size() && is_digit(s[j])) ++j;
        i = j;
    }
    // from_chars reads the checked text the same way in every locale; it
    // takes no '+', so the sign is applied here.
    double v = 0;
    const auto r = std::from_chars(s.data() + mantissa, s.data() + i, v, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) v = std::numeric_limits<double>::infinity();
    value = negative ? -v : v;
    return i;
}

[[noreturn]] void fail(std::string_view field, std::string_view text, const char* why) {
    throw Error("Invalid " + std::string(field) + ": \"" + std::string(text) + "\". " + why);
}

std::string number_text(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "Inf" : "-Inf";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

enum class Form { decimal, snellen, logmar };

}  // namespace

double parse_acuity(std::string_view text, std::string_view field) {
    const auto none = [&] {
        if (text.find(',') != std::string_view::npos)
            fail(field, text, "Use a point as decimal separator (0.5, not 0,5).");
        if (!text.empty() && (std::isspace(static_cast<unsigned char>(text.front())) ||
                              std::isspace(static_cast<unsigned char>(text.back()))))
            fail(field, text, "Remove the spaces before and after the value.");
        fail(field, text,
             "Enter a decimal acuity (for example 0.5), a Snellen fraction (20/40, 6/12) or a logMAR "
             "value (logMAR 0.3, 0.3 logMAR).");
    };
    Form form = Form::decimal;
    double a = 0, b = 0;
    std::size_t pos = 0;
    if (at_logmar(text, 0)) {
        form = Form::logmar;
        pos = read_number(text, skip_blanks(text, 6), a);
    } else if ((pos = read_number(text, 0, a)) != std::string_view::npos && pos < text.size()) {
        const std::size_t next = skip_blanks(text, pos);
        if (next < text.size() && text[next] == '/') {
            form = Form::snellen;
            pos = read_number(text, skip_blanks(text, next + 1), b);
        } else if (at_logmar(text, next)) {
            form = Form::logmar;
            pos = next + 6;
        }
    }
    if (pos != text.size()) none();  // also npos: no number where one belongs

    double acuity = a;
    switch (form) {
        case Form::decimal:
            if (!(a > 0)) fail(field, text, "A decimal acuity must be greater than 0.");
            break;
        case Form::snellen:
            if (!(a > 0 && b > 0)) fail(field, text, "Both parts of a Snellen fraction must be greater than 0.");
            acuity = a / b;
            break;
        case Form::logmar:
            if (!(a >= kMinLogMar && a <= kMaxLogMar))
                fail(field, text, "A logMAR value must lie between -0.3 and 3.");
            acuity = std::pow(10.0, -a);
            break;
    }
    if (!std::isfinite(acuity) || !(acuity > 0))
        fail(field, text, "The number is too large or too small for an acuity.");
    return acuity;
}

double contrast_factor_from_logcs(double logcs, double reference) {
    const auto check = [](double v, const char* name) {
        if (!(v >= kMinLogCS && v <= kMaxLogCS)) {
            throw Error(std::string("Invalid ") + name + ": " + number_text(v) +
                        ". Enter a log contrast sensitivity between 0 and 2.4 (1.95 is normal).");
        }
    };
    check(logcs, "Pelli-Robson score (logCS)");
    check(reference, "normal Pelli-Robson score (reference logCS)");
    return std::pow(10.0, reference - logcs);
}

}  // namespace ocu::clinical
