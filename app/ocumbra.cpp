// The main window function, its opening and output steps and its small
// callbacks. The file commands are in file_commands.cpp, the simulation
// commands in simulation_commands.cpp.
#include "app/ocumbra.hpp"

#include <any>
#include <cstdio>

#include "app/fixation_click.hpp"

#include "toolkit/gui/imshow.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

namespace ocu::app {

using gui::Handle;
using gui::Value;

namespace {

// Opening step: defaults, and the default image when the window is new.
OCU_HEAD(ocumbra_OpeningFcn)
void ocumbra_OpeningFcn(Handle hObject, const Value&, OcumbraState handles, const gui::Args&) {
    std::fputs("Ocumbra opstarten...\n", stdout);
    std::fflush(stdout);

    handles.output = hObject;
    handles.prepfixdep = false;
    handles.prepglare = false;
    handles.powcam = 2;
    handles.powmon = 2;
    handles.prevtrans = Transform::None;
    handles.width = viewing::kDefaultWidth;
    handles.mar = viewing::kDefaultAcuity;
    handles.glarefact = viewing::kDefaultGlare;
    handles.contrastf = viewing::kDefaultContrast;
    handles.filename = kDefaultImage;
    handles.pathname.clear();
    handles.fixactive = false;
    handles.colour = colour::Params{};
    handles.steps = kDefaultSteps;
    handles.field_source.reset();  // the Condition dialog starts from the default plot again
    handles.combined.reset();
    store_state(hObject, handles);

    // A re-used window is visible: its image stays.
    if (!gui::is_visible(hObject)) {
        // The working folder first, then the program's own folder.
        AnyImage im = imread(find_data_file(kDefaultImage));
        gui::axes(handles[tag::axes1]);
        gui::imshow(im);
        gui::set_callback(Handle(gui::gca()), "ButtonDownFcn",
                          gui::callback_text("ocumbra", "axes1_ButtonDownFcn"));
        handles.im = std::move(im);
        handles.imt = handles.im;  // the same pixels
        handles.imt_for_im = true;
        store_state(hObject, std::move(handles));
    }
}

OCU_HEAD(ocumbra_OutputFcn)
gui::Results ocumbra_OutputFcn(Handle, const Value&, const std::optional<OcumbraState>& handles) {
    if (!handles) throw Error("The main window no longer exists.");
    return {Value(handles->output)};
}

// The selection list: six entries; choosing one has no effect.
OCU_HEAD(popupmenu1_CreateFcn)
void popupmenu1_CreateFcn(Handle hObject, const Value&, OcumbraState) {
    gui::set_string_list(hObject, {"plot(rand(5))", "plot(sin(1:0.01:25))", "comet(cos(1:.01:10))", "bar(1:10)",
                                   "plot(membrane)", "surf(peaks)"});
#ifdef _WIN32
    gui::set_background(hObject, gui::Rgb{1, 1, 1});
#else
    gui::set_background(hObject, gui::default_uicontrol_background());
#endif
}

OCU_HEAD(popupmenu1_Callback)
void popupmenu1_Callback(Handle, const Value&, OcumbraState) {}

OCU_HEAD(axes1_ButtonDownFcn)
void axes1_ButtonDownFcn(Handle, const Value&, OcumbraState) { sysbeep({Value(1.0)}); }

}  // namespace

void store_state(const Handle& h, OcumbraState handles) {
    // The converted image serves fixation mode only.
    if (!handles.fixactive) handles.fixdep_squared.reset();
    // Save resolution map does something only in fixation mode.
    if (handles.controls.has(tag::Save_resmap.name)) gui::set_enable(handles[tag::Save_resmap], handles.fixactive);
    // So does following the pointer, after a fixation-dependent run or a
    // combined run with a field step.
    if (handles.controls.has(tag::followpointer_menu.name))
        gui::set_enable(handles[tag::followpointer_menu],
                        handles.fixactive && (handles.fixdep_session.has_value() ||
                                              (handles.combined && handles.combined->session() != nullptr)));
    gui::guidata(h, gui::Record{std::any(std::move(handles))});
    if (QWidget* fig = gui::figure_of(h)) fixation_click(Handle(fig))->superseded(Handle(fig));
}

OCU_HEAD(sysbeep)
void sysbeep(const gui::Args& args) {
    check_arg_count("sysbeep", sysbeep_line, ArgKind::Inputs, args.size(), 2);
}

const Ops& ocumbra_ops() {
    static const Ops ops = [] {
        gui::register_window_function("ocumbra", [](const gui::Args& a, int n) { return ocumbra(a, n); });
        Ops o("ocumbra");
        OCU_GUI_OPENING(o, ocumbra_OpeningFcn);
        OCU_GUI_OUTPUT(o, ocumbra_OutputFcn);
        OCU_GUI_CALLBACK(o, popupmenu1_CreateFcn);
        OCU_GUI_CALLBACK(o, popupmenu1_Callback);
        OCU_GUI_CALLBACK(o, axes1_ButtonDownFcn);
        add_file_commands(o);
        add_simulation_commands(o);
        add_condition_commands(o);
        add_help_commands(o);
        add_view_commands(o);
        return o;
    }();
    return ops;
}

gui::Results ocumbra(const gui::Args& varargin, int nargout) {
    gui::WindowDescription d;
    d.gui_Name = "ocumbra";
    d.gui_Singleton = true;
    d.gui_OpeningFcn = "ocumbra_OpeningFcn";
    d.gui_OutputFcn = "ocumbra_OutputFcn";
    if (!varargin.empty() && gui::is_text(varargin[0])) d.gui_Callback = gui::text(varargin[0]);
    return gui::gui_mainfcn(d, ocumbra_ops(), varargin, nargout);
}

}  // namespace ocu::app
