#include "dialogs/dialogs_common.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "toolkit/error.hpp"

namespace ocu::dlg::detail {

void edit_background(const gui::Handle& field) {
#ifdef _WIN32
    gui::set_background(field, gui::Rgb{1, 1, 1});
#else
    gui::set_background(field, gui::default_uicontrol_background());
#endif
}

void closed_without_ok(const std::string& window) {
    throw Error("The dialog " + window +
                " was closed without OK; the parameters and the image were left unchanged.");
}

void too_few_values(const std::string& window, const std::string& needed, std::size_t given) {
    throw Error("Index exceeds the number of arguments: " + window + " needs " + needed +
                ", but was given " + std::to_string(given) + ".");
}

std::string field_message(const std::string& label, const std::string& typed, const viewing::InvalidValue& e) {
    std::string t = typed;
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!t.empty() && blank(static_cast<unsigned char>(t.back()))) t.pop_back();
    t.erase(t.begin(), std::find_if_not(t.begin(), t.end(), blank));
    if (t.empty()) return label + ": the field is empty; " + e.rule() + ".";
    if (!std::isnan(e.value())) return label + ": '" + t + "' is out of range; " + e.rule() + ".";
    // A decimal comma is the likeliest reason a number does not read.
    if (t.find(',') != std::string::npos)
        return label + ": '" + t + "' is not a number; use a point as decimal separator.";
    return label + ": '" + t + "' is not a number; " + e.rule() + ".";
}

void confirm(const gui::Handle& fig, std::initializer_list<FieldTag> fields, const std::function<void()>& check) {
    try {
        check();
    } catch (const viewing::InvalidValue& e) {
        const gui::Controls controls = gui::guihandles(fig);
        for (const FieldTag& f : fields) {
            if (f.field != e.field() || !controls.has(f.tag.name)) continue;
            const gui::Handle field = controls(f.tag.name);
            std::string label = gui::label_of(field);
            if (label.empty()) label = std::string(f.tag.name);
            gui::focus_control(field);
            throw Error(field_message(label, gui::get_string(field), e));
        }
        throw;
    }
    gui::uiresume(fig);
}

gui::WindowDescription description(const std::string& name, const gui::Args& varargin) {
    gui::WindowDescription d;
    d.gui_Name = name;
    d.gui_Singleton = true;
    d.gui_OpeningFcn = name + "_OpeningFcn";
    d.gui_OutputFcn = name + "_OutputFcn";
    d.gui_LayoutFcn = nullptr;
    if (!varargin.empty() && gui::is_text(varargin[0])) d.gui_Callback = gui::text(varargin[0]);
    return d;
}

}  // namespace ocu::dlg::detail
