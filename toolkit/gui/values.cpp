// The window framework over Qt Widgets (see framework.hpp): the values passed to and
// returned from window functions.
#include "toolkit/gui/framework.hpp"

#include <string>
#include <variant>
#include <vector>

namespace ocu::gui {

bool is_text(const Value& v) { return std::holds_alternative<std::string>(v); }
bool is_empty(const Value& v) {
    if (std::holds_alternative<Empty>(v)) return true;
    if (const auto* r = std::get_if<Record>(&v)) return r->empty();
    if (const auto* d = std::get_if<std::vector<double>>(&v)) return d->empty();
    return false;
}
const std::string& text(const Value& v) {
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    throw Error("A text was expected.");
}
double number(const Value& v) {
    if (const auto* d = std::get_if<double>(&v)) return *d;
    if (const auto* d = std::get_if<std::vector<double>>(&v); d && d->size() == 1) return (*d)[0];
    throw Error("A number was expected.");
}
Handle handle(const Value& v) {
    if (const auto* h = std::get_if<Handle>(&v)) return *h;
    throw Error("An object handle was expected.");
}
const AnyImage& image(const Value& v) {
    if (const auto* a = std::get_if<AnyImage>(&v)) return *a;
    throw Error("An image array was expected.");
}

}  // namespace ocu::gui
