// The fixation-independent parameters dialog: image width, acuity, contrast
// factor.
#include <optional>

#include "dialogs/dialogs.hpp"
#include "dialogs/dialogs_common.hpp"

namespace ocu::dlg {

namespace {

using gui::Args;
using gui::Handle;
using gui::Results;
using gui::Value;
using S = FixindepState;

OCU_HEAD(fixindepparms_OpeningFcn) void fixindepparms_OpeningFcn(Handle hObject, const Value&, S handles, const Args& varargin) {
    handles.width = 20;
    handles.mar = 1;
    handles.contrastf = 1;
    if (!varargin.empty()) {
        if (varargin.size() < 3) detail::too_few_values("fixindepparms", "width, mar and contrastf", varargin.size());
        handles.width = gui::number(varargin[0]);
        handles.mar = gui::number(varargin[1]);
        handles.contrastf = gui::number(varargin[2]);
        gui::set_string(handles["edit_width"], gui::num2str(handles.width));
        gui::set_string(handles["edit_mar"], gui::num2str(handles.mar));
        gui::set_string(handles["edit_contrastfactor"], gui::num2str(handles.contrastf));
    }
    gui::guidata(hObject, handles);
    gui::uiwait(handles["figure1"]);
}

OCU_HEAD(fixindepparms_OutputFcn) Results fixindepparms_OutputFcn(Handle, const Value&, const std::optional<S>& handles) {
    if (!handles) detail::closed_without_ok("fixindepparms");
    Results r{handles->width, handles->mar, handles->contrastf};
    gui::delete_object((*handles)["figure1"]);
    return r;
}

OCU_HEAD(edit_width_CreateFcn) void edit_width_CreateFcn(Handle hObject, const Value&, S) {
    detail::edit_background(hObject);
}
OCU_HEAD(edit_width_Callback) void edit_width_Callback(Handle hObject, const Value&, S handles) {
    handles.width = gui::str2double(gui::get_string(hObject));
    gui::guidata(hObject, handles);
}

OCU_HEAD(edit_mar_CreateFcn) void edit_mar_CreateFcn(Handle hObject, const Value&, S) {
    detail::edit_background(hObject);
}
OCU_HEAD(edit_mar_Callback) void edit_mar_Callback(Handle hObject, const Value&, S handles) {
    handles.mar = gui::str2double(gui::get_string(hObject));
    gui::guidata(hObject, handles);
}

OCU_HEAD(edit_contrastfactor_CreateFcn) void edit_contrastfactor_CreateFcn(Handle hObject, const Value&, S) {
    detail::edit_background(hObject);
}
OCU_HEAD(edit_contrastfactor_Callback) void edit_contrastfactor_Callback(Handle hObject, const Value&, S handles) {
    handles.contrastf = gui::str2double(gui::get_string(hObject));
    gui::guidata(hObject, handles);
}

// OK: ends the modal wait; the values are those last stored.
OCU_HEAD(pushbutton_fixparms_Callback) void pushbutton_fixparms_Callback(Handle, const Value&, S handles) {
    gui::uiresume(handles["figure1"]);
}
OCU_HEAD(pushbutton_fixparms_ButtonDownFcn) void pushbutton_fixparms_ButtonDownFcn(Handle, const Value&, S) {}

// The contrast-curve list and the radio button have no effect.
OCU_HEAD(csf_menu_Callback) void csf_menu_Callback(Handle, const Value&, S) {}
OCU_HEAD(radiobutton1_Callback) void radiobutton1_Callback(Handle, const Value&, S) {}

gui::LocalOps<S> make_ops() {
    gui::LocalOps<S> ops("fixindepparms");
    OCU_GUI_OPENING(ops, fixindepparms_OpeningFcn);
    ops.output("fixindepparms_OutputFcn", &fixindepparms_OutputFcn, fixindepparms_OutputFcn_line, 3);
    OCU_GUI_CALLBACK(ops, edit_width_CreateFcn);
    OCU_GUI_CALLBACK(ops, edit_width_Callback);
    OCU_GUI_CALLBACK(ops, edit_mar_CreateFcn);
    OCU_GUI_CALLBACK(ops, edit_mar_Callback);
    OCU_GUI_CALLBACK(ops, edit_contrastfactor_CreateFcn);
    OCU_GUI_CALLBACK(ops, edit_contrastfactor_Callback);
    OCU_GUI_CALLBACK(ops, pushbutton_fixparms_Callback);
    OCU_GUI_CALLBACK(ops, pushbutton_fixparms_ButtonDownFcn);
    OCU_GUI_CALLBACK(ops, csf_menu_Callback);
    OCU_GUI_CALLBACK(ops, radiobutton1_Callback);
    return ops;
}

}  // namespace

gui::Results fixindepparms(const gui::Args& varargin, int nargout) {
    static const gui::LocalOps<S> ops = [] {
        // The controls' callback texts call the window function by name.
        register_dialogs();
        return make_ops();
    }();
    return gui::gui_mainfcn(detail::description("fixindepparms", varargin), ops, varargin, nargout);
}

}  // namespace ocu::dlg
