#include "cli/options.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace ocu::cli {

std::string Parsed::last(const std::string& name, const std::string& fallback) const {
    auto it = options.find(name);
    return (it == options.end() || it->second.empty()) ? fallback : it->second.back();
}

Parsed parse_args(const std::vector<std::string>& args, const std::set<std::string>& allowed,
                  std::size_t npositional) {
    Parsed p;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 2 && a.rfind("--", 0) == 0) {
            std::string name = a, value;
            const auto eq = a.find('=');
            if (eq != std::string::npos) {
                name = a.substr(0, eq);
                value = a.substr(eq + 1);
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
    if (p.positional.size() != npositional) {
        throw UsageError("expected " + std::to_string(npositional) + " file arguments, got " +
                         std::to_string(p.positional.size()));
    }
    return p;
}

double parse_number(const std::string& text, const std::string& option) {
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v)) {
        throw UsageError(option + " needs a finite number, got \"" + text + "\"");
    }
    return v;
}

std::pair<double, double> parse_point(const std::string& text, const std::string& option) {
    const auto comma = text.find(',');
    if (comma == std::string::npos) throw UsageError(option + " needs X,Y, got \"" + text + "\"");
    return {parse_number(text.substr(0, comma), option), parse_number(text.substr(comma + 1), option)};
}

}  // namespace ocu::cli
