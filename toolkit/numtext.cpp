#include "toolkit/numtext.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include <QLocale>
#include <QString>

namespace ocu {

std::string num2str(double x) {
    if (std::isnan(x)) return "NaN";
    if (std::isinf(x)) return x > 0 ? "Inf" : "-Inf";
    char buf[64];
    if (x == std::trunc(x) && std::fabs(x) < 1e15) {
        std::snprintf(buf, sizeof buf, "%.0f", x);
        return buf;
    }
    const int lead = std::max(static_cast<int>(std::ceil(std::log10(std::fabs(x)))), 1);
    std::snprintf(buf, sizeof buf, "%.*g", lead + 4, x);
    return buf;
}

std::string size_text(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + " \u00D7 " + std::to_string(height);
}

double str2double(std::string_view s) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    std::string t(s.substr(b, e - b));
    if (t.empty()) return nan;
    // Only decimal notation: no hexadecimal numbers, no "nan(...)" forms.
    for (char c : t) {
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '+' || c == '-' || c == 'e' ||
              c == 'E' || std::isalpha(static_cast<unsigned char>(c))))
            return nan;
        if (c == 'x' || c == 'X' || c == 'p' || c == 'P' || c == '(') return nan;
    }
    std::string lower = t;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t sign = (lower[0] == '+' || lower[0] == '-') ? 1 : 0;
    const std::string body = lower.substr(sign);
    if (body == "inf" || body == "infinity") return lower[0] == '-' ? -HUGE_VAL : HUGE_VAL;
    if (body == "nan") return nan;
    // Decimal point is '.', whatever the locale.
    QLocale c(QLocale::C);
    bool ok = false;
    const double v = c.toDouble(QString::fromStdString(t), &ok);
    return ok ? v : nan;
}

}  // namespace ocu
