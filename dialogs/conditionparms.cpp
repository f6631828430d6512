// The condition dialog of the combined simulation: the main window's current
// values, a built-in preset or a scenario file; the steps to run; scenario
// files opened and saved.
#include <optional>
#include <string>
#include <vector>

#include "dialogs/dialogs.hpp"
#include "dialogs/dialogs_common.hpp"
#include "toolkit/gui/platform.hpp"

namespace ocu::dlg {

namespace {

using gui::Args;
using gui::Handle;
using gui::Results;
using gui::Value;
using S = ConditionState;

constexpr const char* kCurrentEntry = "Current settings";
constexpr const char* kCurrentDescription =
    "The values of the other dialogs as they are now: width, acuity and contrast, glare, colour "
    "vision and the visual field.";
constexpr const char* kNoStep =
    "Choose at least one step: glare, acuity and contrast, colour vision or visual field.";

// The steps' check boxes.
struct StepBox {
    bool scenario::Steps::*flag;
    gui::Tag tag;
};
constexpr StepBox kStepBoxes[] = {{&scenario::Steps::glare, tag::checkbox_glare},
                                  {&scenario::Steps::acuity, tag::checkbox_acuity},
                                  {&scenario::Steps::colour, tag::checkbox_colour},
                                  {&scenario::Steps::field, tag::checkbox_field}};

std::string file_name_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A preset's entry in the list: its name and the condition its description
// names before the colon.
std::string preset_entry(const scenario::Scenario& s) {
    const std::string what = s.description.substr(0, s.description.find(':'));
    return what.empty() ? s.name : s.name + " \u2014 " + what;
}

// The entries of the list: the current settings, the presets, the opened file.
std::vector<std::string> entries(const S& handles) {
    std::vector<std::string> list{kCurrentEntry};
    for (const scenario::Scenario& s : scenario::presets()) list.push_back(preset_entry(s));
    if (handles.opened) list.push_back("File: " + handles.opened_file);
    return list;
}

// A scenario to run from the dialog: what it lacks for a step that can be
// switched on (colour, field) comes from the current settings.
scenario::Scenario completed(scenario::Scenario s, const scenario::Scenario& current) {
    if (!s.colour) s.colour = current.colour;
    if (!s.field) s.field = current.field;
    return s;
}

// The values of `s` in one line per group, as the dialog lists them.
std::string values_text(const scenario::Scenario& s) {
    std::string t = "Width: " + (s.width_photo ? std::string("from the photo") : gui::num2str(s.width.value_or(viewing::kDefaultWidth)) + "\u00B0");
    t += "\nAcuity: " + gui::num2str(s.acuity);
    if (!s.acuity_text.empty()) t += " (" + s.acuity_text + ")";
    t += s.contrast.kind == scenario::Contrast::Kind::LogCS
             ? "\nContrast: log CS " + gui::num2str(s.contrast.value) + " (factor " + gui::num2str(s.contrast.factor()) + ")"
             : "\nContrast: factor " + gui::num2str(s.contrast.value);
    t += "\nGlare: " + gui::num2str(s.glare);
    if (s.colour)
        t += "\nColour vision: " + std::string(colour::deficiency_name(s.colour->type)) + ", severity " +
             gui::num2str(s.colour->severity * 100) + " %";
    if (s.field) {
        t += "\nVisual field: " + file_name_of(s.field->file);
        if (!s.field->other_eye.empty()) t += " + " + file_name_of(s.field->other_eye) + " (both eyes)";
    }
    return t;
}

// Shows the chosen scenario: its description, values and steps.
void show_scenario(const S& handles, const std::string& description) {
    gui::set_string(handles[tag::text_description], description);
    gui::set_string(handles[tag::text_values], values_text(handles.scenario));
    for (const StepBox& b : kStepBoxes) gui::set_value(handles[b.tag], handles.scenario.steps.*(b.flag) ? 1 : 0);
}

std::string description_of(const scenario::Scenario& s) {
    return s.description.empty() ? (s.name.empty() ? std::string("(no description)") : s.name) : s.description;
}

OCU_HEAD(conditionparms_OpeningFcn)
void conditionparms_OpeningFcn(Handle hObject, const Value&, S handles, const Args& varargin) {
    if (varargin.empty()) detail::too_few_values("conditionparms", "the current settings", 0);
    handles.current = scenario::parse_scenario(gui::text(varargin[0]), "the current settings", "");
    handles.scenario = handles.current;
    handles.opened.reset();
    handles.opened_file.clear();
    gui::set_string_list(handles[tag::popup_condition], entries(handles));
    gui::set_value(handles[tag::popup_condition], 1);
    show_scenario(handles, kCurrentDescription);
    gui::guidata(hObject, handles);
    gui::uiwait(handles[tag::figure1]);
}

OCU_HEAD(conditionparms_OutputFcn)
Results conditionparms_OutputFcn(Handle, const Value&, const std::optional<S>& handles) {
    if (!handles) detail::closed_without_ok("conditionparms");
    Results r{scenario::to_json(handles->scenario, "")};
    gui::delete_object((*handles)[tag::figure1]);
    return r;
}

// An entry chosen: the current settings, a preset, or the file opened.
OCU_HEAD(popup_condition_Callback)
void popup_condition_Callback(Handle hObject, const Value&, S handles) {
    const auto index = static_cast<std::size_t>(gui::get_value(hObject));  // 1-based
    const std::size_t npresets = scenario::presets().size();
    std::string description = kCurrentDescription;
    if (index <= 1) {
        handles.scenario = handles.current;
    } else if (index <= 1 + npresets) {
        const scenario::Scenario& p = scenario::presets()[index - 2];
        handles.scenario = completed(p, handles.current);
        description = p.description + " Not clinical advice.";
    } else if (handles.opened) {
        handles.scenario = completed(*handles.opened, handles.current);
        description = description_of(*handles.opened);
    }
    show_scenario(handles, description);
    gui::guidata(hObject, handles);
}

// The step check boxes.
void tick(const Handle& hObject, S handles, bool scenario::Steps::*flag) {
    handles.scenario.steps.*flag = gui::get_value(hObject) != 0;
    gui::guidata(hObject, handles);
}
OCU_HEAD(checkbox_glare_Callback)
void checkbox_glare_Callback(Handle h, const Value&, S handles) { tick(h, std::move(handles), &scenario::Steps::glare); }
OCU_HEAD(checkbox_acuity_Callback)
void checkbox_acuity_Callback(Handle h, const Value&, S handles) { tick(h, std::move(handles), &scenario::Steps::acuity); }
OCU_HEAD(checkbox_colour_Callback)
void checkbox_colour_Callback(Handle h, const Value&, S handles) { tick(h, std::move(handles), &scenario::Steps::colour); }
OCU_HEAD(checkbox_field_Callback)
void checkbox_field_Callback(Handle h, const Value&, S handles) { tick(h, std::move(handles), &scenario::Steps::field); }

// Open scenario: a scenario file becomes the last entry and is chosen. A
// cancelled chooser or a file with a mistake changes nothing (the message
// names the file and the key).
OCU_HEAD(pushbutton_open_Callback)
void pushbutton_open_Callback(Handle hObject, const Value&, S handles) {
    const gui::FileChoice c = gui::platform().get_file("*.json", "scenario files (*.json)");
    if (c.cancelled) return;
    scenario::Scenario s = scenario::read_scenario(c.pathname + c.filename);
    handles.scenario = completed(s, handles.current);
    handles.opened = std::move(s);
    handles.opened_file = c.filename;
    const std::vector<std::string> list = entries(handles);
    gui::set_string_list(handles[tag::popup_condition], list);
    gui::set_value(handles[tag::popup_condition], static_cast<double>(list.size()));
    show_scenario(handles, description_of(*handles.opened));
    gui::guidata(hObject, handles);
}

// Save scenario: the scenario as chosen and ticked, as a file that Open
// scenario and ocumbra-sim scenario read back (file names relative to its
// folder where they lie inside it).
OCU_HEAD(pushbutton_save_Callback)
void pushbutton_save_Callback(Handle, const Value&, S handles) {
    if (!handles.scenario.steps.any()) throw Error(kNoStep);
    const gui::FileChoice c = gui::platform().put_file("scenario.json", "Save scenario");
    if (c.cancelled) return;
    scenario::write_scenario(handles.scenario, c.pathname + c.filename);
}

// OK: runs the scenario as chosen, once a step is on.
OCU_HEAD(pushbutton_condition_Callback)
void pushbutton_condition_Callback(Handle, const Value&, S handles) {
    if (!handles.scenario.steps.any()) throw Error(kNoStep);
    gui::uiresume(handles[tag::figure1]);
}

gui::LocalOps<S> make_ops() {
    gui::LocalOps<S> ops("conditionparms");
    OCU_GUI_OPENING(ops, conditionparms_OpeningFcn);
    ops.output("conditionparms_OutputFcn", &conditionparms_OutputFcn, conditionparms_OutputFcn_line, 1);
    OCU_GUI_CALLBACK(ops, popup_condition_Callback);
    OCU_GUI_CALLBACK(ops, checkbox_glare_Callback);
    OCU_GUI_CALLBACK(ops, checkbox_acuity_Callback);
    OCU_GUI_CALLBACK(ops, checkbox_colour_Callback);
    OCU_GUI_CALLBACK(ops, checkbox_field_Callback);
    OCU_GUI_CALLBACK(ops, pushbutton_open_Callback);
    OCU_GUI_CALLBACK(ops, pushbutton_save_Callback);
    OCU_GUI_CALLBACK(ops, pushbutton_condition_Callback);
    OCU_CANCEL_BUTTON(ops);
    return ops;
}

}  // namespace

gui::Results conditionparms(const gui::Args& varargin, int nargout) {
    static const gui::LocalOps<S> ops = [] {
        // The controls' callback texts call the window function by name.
        gui::register_window_function("conditionparms",
                                      [](const gui::Args& a, int n) { return conditionparms(a, n); });
        return make_ops();
    }();
    return gui::gui_mainfcn(detail::description("conditionparms", varargin), ops, varargin, nargout);
}

scenario::Scenario conditionparms(const scenario::Scenario& current) {
    const gui::Results r = conditionparms(gui::Args{scenario::to_json(current, "")}, 1);
    return scenario::parse_scenario(gui::text(r.at(0)), "the Condition dialog", "");
}

}  // namespace ocu::dlg
