#include "dialogs/dialogs_common.hpp"

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
