// The fixation-independent parameters dialog: image width, acuity, contrast
// factor.
#include <optional>

#include "dialogs/dialogs.hpp"
#include "dialogs/dialogs_common.hpp"
#include "fixindep/fixindep.hpp"

namespace ocu::dlg {

namespace {

using gui::Args;
using gui::Handle;
using gui::Results;
using gui::Value;
using S = FixindepState;

OCU_HEAD(fixindepparms_OpeningFcn)
void fixindepparms_OpeningFcn(Handle hObject, const Value&, S handles, const Args& varargin) {
    handles.width = viewing::kDefaultWidth;
    handles.mar = viewing::kDefaultAcuity;
    handles.contrastf = viewing::kDefaultContrast;
    if (!varargin.empty()) {
        if (varargin.size() < 3) detail::too_few_values("fixindepparms", "width, mar and contrastf", varargin.size());
        handles.width = gui::number(varargin[0]);
        handles.mar = gui::number(varargin[1]);
        handles.contrastf = gui::number(varargin[2]);
        gui::set_string(handles[tag::edit_width], gui::num2str(handles.width));
        gui::set_string(handles[tag::edit_mar], gui::num2str(handles.mar));
        gui::set_string(handles[tag::edit_contrastfactor], gui::num2str(handles.contrastf));
    }
    gui::guidata(hObject, handles);
    gui::uiwait(handles[tag::figure1]);
}

OCU_HEAD(fixindepparms_OutputFcn)
Results fixindepparms_OutputFcn(Handle, const Value&, const std::optional<S>& handles) {
    if (!handles) detail::closed_without_ok("fixindepparms");
    Results r{handles->width, handles->mar, handles->contrastf};
    gui::delete_object((*handles)[tag::figure1]);
    return r;
}

// OK: ends the modal wait once the simulation accepts the values last stored.
OCU_HEAD(pushbutton_fixparms_Callback)
void pushbutton_fixparms_Callback(Handle, const Value&, S handles) {
    detail::confirm(handles[tag::figure1],
                    {{viewing::Field::Width, tag::edit_width},
                     {viewing::Field::Acuity, tag::edit_mar},
                     {viewing::Field::Contrast, tag::edit_contrastfactor}},
                    [&] {
                        fixindep::check({.width = handles.width, .mar = handles.mar, .contrastf = handles.contrastf});
                    });
}
OCU_HEAD(pushbutton_fixparms_ButtonDownFcn)
void pushbutton_fixparms_ButtonDownFcn(Handle, const Value&, S) {}

// The contrast-curve list and the radio button have no effect.
OCU_HEAD(csf_menu_Callback)
void csf_menu_Callback(Handle, const Value&, S) {}
OCU_HEAD(radiobutton1_Callback)
void radiobutton1_Callback(Handle, const Value&, S) {}

gui::LocalOps<S> make_ops() {
    gui::LocalOps<S> ops("fixindepparms");
    OCU_GUI_OPENING(ops, fixindepparms_OpeningFcn);
    ops.output("fixindepparms_OutputFcn", &fixindepparms_OutputFcn, fixindepparms_OutputFcn_line, 3);
    OCU_EDIT_FIELD(ops, tag::edit_width, &S::width);
    OCU_EDIT_FIELD(ops, tag::edit_mar, &S::mar);
    OCU_EDIT_FIELD(ops, tag::edit_contrastfactor, &S::contrastf);
    OCU_GUI_CALLBACK(ops, pushbutton_fixparms_Callback);
    OCU_GUI_CALLBACK(ops, pushbutton_fixparms_ButtonDownFcn);
    OCU_CANCEL_BUTTON(ops);
    OCU_GUI_CALLBACK(ops, csf_menu_Callback);
    OCU_GUI_CALLBACK(ops, radiobutton1_Callback);
    return ops;
}

}  // namespace

gui::Results fixindepparms(const gui::Args& varargin, int nargout) {
    static const gui::LocalOps<S> ops = [] {
        // The controls' callback texts call the window function by name.
        gui::register_window_function("fixindepparms",
                                      [](const gui::Args& a, int n) { return fixindepparms(a, n); });
        return make_ops();
    }();
    return gui::gui_mainfcn(detail::description("fixindepparms", varargin), ops, varargin, nargout);
}

FixindepValues fixindepparms(double width, double mar, double contrastf) {
    const gui::Results r = fixindepparms(gui::Args{width, mar, contrastf}, 3);
    return FixindepValues{gui::number(r.at(0)), gui::number(r.at(1)), gui::number(r.at(2))};
}

}  // namespace ocu::dlg
