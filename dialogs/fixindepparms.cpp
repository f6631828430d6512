// The fixation-independent parameters dialog: image width (typed or from the
// photo), acuity (in any clinical notation), contrast factor or Pelli-Robson
// score.
#include <cmath>
#include <limits>
#include <optional>

#include "clinical/units.hpp"
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

// The contrast field's label in each unit (messages name the field by it).
constexpr const char* kFactorLabel = "Contrast factor";
constexpr const char* kLogCSLabel = "Contrast sensitivity (log CS)";

// The factor of a Pelli-Robson score, refused as a value of the contrast
// field when it lies outside the chart's range.
double factor_of_logcs(double logcs) {
    try {
        return clinical::contrast_factor_from_logcs(logcs);
    } catch (const Error& e) {
        throw viewing::InvalidValue(viewing::Field::Contrast, logcs, e.what(),
                                    "enter a Pelli-Robson score from 0 to 2.4 (1.95 is normal)");
    }
}

// The factor a score stands for, NaN when it is out of range.
double factor_or_nan(double logcs) {
    try {
        return factor_of_logcs(logcs);
    } catch (const viewing::InvalidValue&) {
        return std::numeric_limits<double>::quiet_NaN();
    }
}

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
        handles.photo = detail::photo_argument(varargin, 3);
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
                        if (handles.logcs_unit) (void)factor_of_logcs(handles.logcs);
                        fixindep::check({.width = handles.width, .mar = handles.mar, .contrastf = handles.contrastf});
                    });
}

// The contrast field: a factor, or a score in the log CS unit (then the
// factor follows from it).
OCU_HEAD(edit_contrastfactor_Callback)
void edit_contrastfactor_Callback(Handle hObject, const Value&, S handles) {
    const double v = gui::str2double(gui::get_string(hObject));
    if (handles.logcs_unit) {
        handles.logcs = v;
        handles.contrastf = factor_or_nan(v);
    } else {
        handles.contrastf = v;
    }
    gui::guidata(hObject, handles);
}
OCU_HEAD(edit_contrastfactor_CreateFcn)
void edit_contrastfactor_CreateFcn(Handle hObject, const Value&, S) { detail::edit_background(hObject); }

// The unit beside the contrast field (1 factor, 2 log CS): a value that
// stands converts to the other unit (the factor kept exact), the label
// follows; a value that does not is read in the new unit as it stands.
OCU_HEAD(popup_contrastunit_Callback)
void popup_contrastunit_Callback(Handle hObject, const Value&, S handles) {
    const bool logcs = gui::get_value(hObject) == 2;
    if (logcs == handles.logcs_unit) return;
    const Handle field = handles[tag::edit_contrastfactor];
    const std::string typed = gui::get_string(field);
    const bool valid = logcs ? (std::isfinite(handles.contrastf) && handles.contrastf > 0)
                             : !std::isnan(handles.contrastf) && std::isfinite(handles.logcs);
    handles.logcs_unit = logcs;
    if (logcs) {
        handles.logcs = valid ? clinical::kNormalLogCS - std::log10(handles.contrastf) : gui::str2double(typed);
        if (valid) gui::set_string(field, gui::num2str(handles.logcs));
        else handles.contrastf = factor_or_nan(handles.logcs);
    } else {
        if (valid) gui::set_string(field, gui::num2str(handles.contrastf));
        else handles.contrastf = gui::str2double(typed);
    }
    gui::set_string(handles[tag::text_contrastfactor], logcs ? kLogCSLabel : kFactorLabel);
    gui::guidata(hObject, handles);
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
    OCU_ACUITY_FIELD(ops, tag::edit_mar, &S::mar);
    OCU_GUI_CALLBACK(ops, edit_contrastfactor_Callback);
    OCU_GUI_CALLBACK(ops, edit_contrastfactor_CreateFcn);
    OCU_GUI_CALLBACK(ops, popup_contrastunit_Callback);
    OCU_PHOTO_BUTTON(ops, tag::edit_width, &S::width, &S::photo);
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

FixindepValues fixindepparms(double width, double mar, double contrastf, const std::string& photo) {
    const gui::Results r = fixindepparms(gui::Args{width, mar, contrastf, photo}, 3);
    return FixindepValues{gui::number(r.at(0)), gui::number(r.at(1)), gui::number(r.at(2))};
}

}  // namespace ocu::dlg
