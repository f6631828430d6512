#include "dialogs/parmvalues.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "toolkit/error.hpp"

namespace ocu::dlg {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

bool is_blank(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f';
}
bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

bool equals_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (x != b[i]) return false;
    }
    return true;
}

// True when `s` (no sign, no blanks) is digits [. [digits]] [exponent] or
// . digits [exponent].
bool is_decimal(std::string_view s) {
    std::size_t i = 0;
    std::size_t mantissa_digits = 0;
    while (i < s.size() && is_digit(s[i])) ++i, ++mantissa_digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && is_digit(s[i])) ++i, ++mantissa_digits;
    }
    if (mantissa_digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exp_digits = 0;
        while (i < s.size() && is_digit(s[i])) ++i, ++exp_digits;
        if (exp_digits == 0) return false;
    }
    return i == s.size();
}

std::string shortest(double v) {
    std::array<char, 64> buf{};
    const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    return std::string(buf.data(), res.ptr);
}

}  // namespace

double text_to_double(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (equals_nocase(text, "inf") || equals_nocase(text, "infinity")) {
        return negative ? -kInf : kInf;
    }
    if (equals_nocase(text, "nan")) return kNaN;
    if (!is_decimal(text)) return kNaN;

    double v = 0.0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), v,
                                     std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // from_chars leaves v untouched here; tell overflow from underflow by
        // the decimal exponent of the leading non-zero digit.
        long int_digits = 0, digits_before_nonzero = 0;
        bool seen_point = false, seen_nonzero = false;
        std::size_t i = 0;
        for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
            if (text[i] == '.') {
                seen_point = true;
                continue;
            }
            if (!seen_point) ++int_digits;
            if (!seen_nonzero && text[i] != '0') seen_nonzero = true;
            if (!seen_nonzero) ++digits_before_nonzero;
        }
        long exponent = 0;
        if (i < text.size()) {
            std::string_view e = text.substr(i + 1);
            const bool eneg = !e.empty() && e.front() == '-';
            if (!e.empty() && (e.front() == '+' || e.front() == '-')) e.remove_prefix(1);
            // A huge written exponent decides the answer on its own; clamp it.
            for (char ch : e) {
                if (exponent < 100000) exponent = exponent * 10 + (ch - '0');
            }
            if (eneg) exponent = -exponent;
        }
        const long lead = int_digits - 1 - digits_before_nonzero + exponent;
        v = lead > 0 ? kInf : 0.0;
    } else if (res.ec != std::errc() || res.ptr != text.data() + text.size()) {
        return kNaN;
    }
    return negative ? -v : v;
}

std::string number_text(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "Inf" : "-Inf";
    if (v == std::trunc(v) && std::fabs(v) < 1e15) {
        // Whole numbers print without a point; -0 prints as 0.
        return std::to_string(static_cast<long long>(v));
    }
    return shortest(v);
}

double glare_factor(double v) {
    // max ignores a NaN operand, as the slider mapping expects.
    return std::fmax(0.0, std::round(11.0 * v - 0.501));
}

double slider_position(double factor) {
    return std::fmin(std::fmax(factor / 10.0, 0.0), 1.0);
}

void check_width(double width) {
    if (!(width > 0.0 && width < 180.0)) {
        throw Error("Invalid image width (width): " + number_text(width) +
                    ". Enter the image's width in degrees, a number greater than 0 and less "
                    "than 180.");
    }
}

void check_acuity(double mar) {
    if (!(mar > 0.0) || std::isinf(mar)) {
        throw Error("Invalid visual acuity (mar): " + number_text(mar) +
                    ". Enter the decimal acuity, a number greater than 0 (for example 1 or "
                    "0.5).");
    }
}

void check_contrast(double contrastf) {
    if (!(contrastf > 0.0) || std::isinf(contrastf)) {
        throw Error("Invalid contrast factor (contrastf): " + number_text(contrastf) +
                    ". Enter a number greater than 0 (1 is normal contrast sensitivity).");
    }
}

}  // namespace ocu::dlg
