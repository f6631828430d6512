// The glare parameters dialog: image width (typed or from the photo) and the
// glare factor slider.
#include <optional>

#include "dialogs/dialogs.hpp"
#include "dialogs/dialogs_common.hpp"
#include "dialogs/parmvalues.hpp"
#include "glare/glare.hpp"

namespace ocu::dlg {

namespace {

using gui::Args;
using gui::Handle;
using gui::Results;
using gui::Value;
using S = GlareState;

OCU_HEAD(glareparms2_OpeningFcn)
void glareparms2_OpeningFcn(Handle hObject, const Value&, S handles, const Args& varargin) {
    handles.width = viewing::kDefaultWidth;
    handles.mar = viewing::kDefaultGlare;
    if (!varargin.empty()) {
        if (varargin.size() < 2) detail::too_few_values("glareparms2", "width and glarefact", varargin.size());
        handles.width = gui::number(varargin[0]);
        handles.mar = gui::number(varargin[1]);
        handles.photo = detail::photo_argument(varargin, 2);
        gui::set_string(handles[tag::edit_width], gui::num2str(handles.width));
        const double v = slider_position(handles.mar);
        handles.mar = glare_factor(v);
        gui::set_string(handles[tag::text8], gui::num2str(handles.mar));
        gui::set_value(handles[tag::slider2], v);
    }
    gui::guidata(hObject, handles);
    gui::set_window_style(handles[tag::figure1], "modal");
    gui::uiwait(handles[tag::figure1]);
}

OCU_HEAD(glareparms2_OutputFcn)
Results glareparms2_OutputFcn(Handle, const Value&, const std::optional<S>& handles) {
    if (!handles) detail::closed_without_ok("glareparms2");
    Results r{handles->width, handles->mar};
    gui::delete_object((*handles)[tag::figure1]);
    return r;
}

OCU_HEAD(slider2_CreateFcn)
void slider2_CreateFcn(Handle hObject, const Value&, S) {
    gui::set_background(hObject, gui::Rgb{0.9, 0.9, 0.9});
}
// The slider's position picks the band; only the stored factor is an integer.
OCU_HEAD(slider2_Callback)
void slider2_Callback(Handle hObject, const Value&, S handles) {
    const double v = gui::get_value(hObject);
    handles.mar = glare_factor(v);
    gui::set_string(handles[tag::text8], gui::num2str(handles.mar));
    gui::guidata(hObject, handles);
}

// OK: ends the modal wait once the simulation accepts the values last stored.
OCU_HEAD(pushbutton_glareparms2_Callback)
void pushbutton_glareparms2_Callback(Handle, const Value&, S handles) {
    detail::confirm(handles[tag::figure1], {{viewing::Field::Width, tag::edit_width}},
                    [&] { glare::check({.width = handles.width, .glarefact = handles.mar}); });
}
OCU_HEAD(pushbutton_glareparms2_ButtonDownFcn)
void pushbutton_glareparms2_ButtonDownFcn(Handle, const Value&, S) {}

gui::LocalOps<S> make_ops() {
    gui::LocalOps<S> ops("glareparms2");
    OCU_GUI_OPENING(ops, glareparms2_OpeningFcn);
    ops.output("glareparms2_OutputFcn", &glareparms2_OutputFcn, glareparms2_OutputFcn_line, 2);
    OCU_EDIT_FIELD(ops, tag::edit_width, &S::width);
    OCU_PHOTO_BUTTON(ops, tag::edit_width, &S::width, &S::photo);
    OCU_GUI_CALLBACK(ops, slider2_CreateFcn);
    OCU_GUI_CALLBACK(ops, slider2_Callback);
    OCU_GUI_CALLBACK(ops, pushbutton_glareparms2_Callback);
    OCU_GUI_CALLBACK(ops, pushbutton_glareparms2_ButtonDownFcn);
    OCU_CANCEL_BUTTON(ops);
    return ops;
}

}  // namespace

gui::Results glareparms2(const gui::Args& varargin, int nargout) {
    static const gui::LocalOps<S> ops = [] {
        // The controls' callback texts call the window function by name.
        gui::register_window_function("glareparms2",
                                      [](const gui::Args& a, int n) { return glareparms2(a, n); });
        return make_ops();
    }();
    return gui::gui_mainfcn(detail::description("glareparms2", varargin), ops, varargin, nargout);
}

GlareValues glareparms2(double width, double glarefact, const std::string& photo) {
    const gui::Results r = glareparms2(gui::Args{width, glarefact, photo}, 2);
    return GlareValues{gui::number(r.at(0)), gui::number(r.at(1))};
}

}  // namespace ocu::dlg
