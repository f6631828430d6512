#include "dialogs/dialogs_common.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "clinical/photo.hpp"
#include "clinical/units.hpp"
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

std::string trimmed(const std::string& typed) {
    std::string t = typed;
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!t.empty() && blank(static_cast<unsigned char>(t.back()))) t.pop_back();
    t.erase(t.begin(), std::find_if_not(t.begin(), t.end(), blank));
    return t;
}

double acuity_value(const std::string& typed) {
    const double plain = gui::str2double(typed);
    if (!std::isnan(plain)) return plain;
    try {
        return clinical::parse_acuity(trimmed(typed), "visual acuity");
    } catch (const Error&) {
        return plain;  // NaN: OK says why (field_message)
    }
}

namespace {

// Why the acuity parser refuses `t` (its text after the part that quotes the
// value), or empty when it reads.
std::string acuity_problem(const std::string& t) {
    constexpr const char* kField = "visual acuity";
    try {
        (void)clinical::parse_acuity(t, kField);
    } catch (const Error& e) {
        const std::string text = e.what();
        const std::string quoted = std::string("Invalid ") + kField + ": \"" + t + "\". ";
        std::string why = text.rfind(quoted, 0) == 0 ? text.substr(quoted.size()) : text;
        if (!why.empty()) why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
        return why;
    }
    return {};
}

}  // namespace

double width_from_photo(const gui::Handle& width_field, const std::string& photo) {
    std::string label = gui::label_of(width_field);
    if (label.empty()) label = "Image width";
    if (photo.empty()) throw Error(label + ": there is no photo file to take the width from; open an image first.");
    double width = 0;
    try {
        width = clinical::photo_width_degrees(photo);
    } catch (const Error& e) {
        throw Error(label + ": " + e.what());
    }
    gui::set_string(width_field, gui::num2str(width));
    return width;
}

std::string photo_argument(const gui::Args& varargin, std::size_t index) {
    if (varargin.size() <= index || gui::is_empty(varargin[index])) return {};
    return gui::text(varargin[index]);
}

std::string field_message(const std::string& label, const std::string& typed, const viewing::InvalidValue& e) {
    const std::string t = trimmed(typed);
    if (t.empty()) return label + ": the field is empty; " + e.rule() + ".";
    if (!std::isnan(e.value())) return label + ": '" + t + "' is out of range; " + e.rule() + ".";
    // A decimal comma is the likeliest reason a number does not read.
    if (t.find(',') != std::string::npos)
        return label + ": '" + t + "' is not a number; use a point as decimal separator.";
    if (e.field() == viewing::Field::Acuity) {
        const std::string why = acuity_problem(t);
        if (!why.empty()) return label + ": '" + t + "' is not an acuity; " + why;
    }
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
