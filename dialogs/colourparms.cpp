// The colour vision dialog: the type of deficiency (radio buttons) and its
// severity (a slider 0..100 %, shown beside it; achromatopsia has none).
#include <cmath>
#include <optional>
#include <string>

#include "dialogs/dialogs.hpp"
#include "dialogs/dialogs_common.hpp"

namespace ocu::dlg {

namespace {

using gui::Args;
using gui::Handle;
using gui::Results;
using gui::Value;
using S = ColourState;

// The radio button of each type, in the order of colour::Deficiency.
struct TypeButton {
    colour::Deficiency type;
    gui::Tag tag;
};
constexpr TypeButton kTypeButtons[] = {{colour::Deficiency::Protan, tag::radiobutton_protan},
                                       {colour::Deficiency::Deutan, tag::radiobutton_deutan},
                                       {colour::Deficiency::Tritan, tag::radiobutton_tritan},
                                       {colour::Deficiency::Achromat, tag::radiobutton_achromat}};

// "60 %": the severity as the slider's label shows it.
std::string percent_text(double severity) { return gui::num2str(std::round(100.0 * severity)) + " %"; }

// Shows the type and severity of `p` on the controls.
void show_params(const S& handles) {
    for (const TypeButton& b : kTypeButtons) gui::set_value(handles[b.tag], b.type == handles.params.type ? 1 : 0);
    const bool has_severity = handles.params.type != colour::Deficiency::Achromat;
    gui::set_enable(handles[tag::slider_severity], has_severity);
    gui::set_value(handles[tag::slider_severity], std::fmin(std::fmax(handles.params.severity, 0.0), 1.0));
    gui::set_string(handles[tag::text_severity], has_severity ? percent_text(handles.params.severity) : "-");
}

OCU_HEAD(colourparms_OpeningFcn)
void colourparms_OpeningFcn(Handle hObject, const Value&, S handles, const Args& varargin) {
    handles.params = colour::Params{};
    if (!varargin.empty()) {
        if (varargin.size() < 2) detail::too_few_values("colourparms", "type and severity", varargin.size());
        handles.params.type = colour::parse_deficiency(gui::text(varargin[0]));
        handles.params.severity = gui::number(varargin[1]);
    }
    show_params(handles);
    gui::guidata(hObject, handles);
    gui::uiwait(handles[tag::figure1]);
}

OCU_HEAD(colourparms_OutputFcn)
Results colourparms_OutputFcn(Handle, const Value&, const std::optional<S>& handles) {
    if (!handles) detail::closed_without_ok("colourparms");
    Results r{std::string(colour::deficiency_name(handles->params.type)), handles->params.severity};
    gui::delete_object((*handles)[tag::figure1]);
    return r;
}

// A type chosen: its button stays on (the others go off by themselves).
void choose_type(const Handle& hObject, S handles, colour::Deficiency type) {
    handles.params.type = type;
    show_params(handles);
    gui::guidata(hObject, handles);
}
OCU_HEAD(radiobutton_protan_Callback)
void radiobutton_protan_Callback(Handle h, const Value&, S handles) {
    choose_type(h, std::move(handles), colour::Deficiency::Protan);
}
OCU_HEAD(radiobutton_deutan_Callback)
void radiobutton_deutan_Callback(Handle h, const Value&, S handles) {
    choose_type(h, std::move(handles), colour::Deficiency::Deutan);
}
OCU_HEAD(radiobutton_tritan_Callback)
void radiobutton_tritan_Callback(Handle h, const Value&, S handles) {
    choose_type(h, std::move(handles), colour::Deficiency::Tritan);
}
OCU_HEAD(radiobutton_achromat_Callback)
void radiobutton_achromat_Callback(Handle h, const Value&, S handles) {
    choose_type(h, std::move(handles), colour::Deficiency::Achromat);
}

// The slider covers 0..1 in whole percent.
OCU_HEAD(slider_severity_Callback)
void slider_severity_Callback(Handle hObject, const Value&, S handles) {
    handles.params.severity = std::round(100.0 * gui::get_value(hObject)) / 100.0;
    gui::set_string(handles[tag::text_severity], percent_text(handles.params.severity));
    gui::guidata(hObject, handles);
}

// OK: ends the modal wait once the simulation accepts the values.
OCU_HEAD(pushbutton_colourparms_Callback)
void pushbutton_colourparms_Callback(Handle, const Value&, S handles) {
    detail::confirm(handles[tag::figure1], {}, [&] { colour::check(handles.params); });
}

gui::LocalOps<S> make_ops() {
    gui::LocalOps<S> ops("colourparms");
    OCU_GUI_OPENING(ops, colourparms_OpeningFcn);
    ops.output("colourparms_OutputFcn", &colourparms_OutputFcn, colourparms_OutputFcn_line, 2);
    OCU_GUI_CALLBACK(ops, radiobutton_protan_Callback);
    OCU_GUI_CALLBACK(ops, radiobutton_deutan_Callback);
    OCU_GUI_CALLBACK(ops, radiobutton_tritan_Callback);
    OCU_GUI_CALLBACK(ops, radiobutton_achromat_Callback);
    OCU_GUI_CALLBACK(ops, slider_severity_Callback);
    OCU_GUI_CALLBACK(ops, pushbutton_colourparms_Callback);
    OCU_CANCEL_BUTTON(ops);
    return ops;
}

}  // namespace

gui::Results colourparms(const gui::Args& varargin, int nargout) {
    static const gui::LocalOps<S> ops = [] {
        // The controls' callback texts call the window function by name.
        gui::register_window_function("colourparms",
                                      [](const gui::Args& a, int n) { return colourparms(a, n); });
        return make_ops();
    }();
    return gui::gui_mainfcn(detail::description("colourparms", varargin), ops, varargin, nargout);
}

colour::Params colourparms(const colour::Params& current) {
    const gui::Results r =
        colourparms(gui::Args{std::string(colour::deficiency_name(current.type)), current.severity}, 2);
    return colour::Params{colour::parse_deficiency(gui::text(r.at(0))), gui::number(r.at(1))};
}

}  // namespace ocu::dlg
