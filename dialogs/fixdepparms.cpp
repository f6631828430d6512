// The fixation-dependent parameters dialog: image width, acuity and the polar
// plot of the visual field, shown in the dialog and chosen from its menu.
#include <optional>

#include "dialogs/dialogs.hpp"
#include "dialogs/dialogs_common.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/gui/platform.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/limits.hpp"
#include "toolkit/paths.hpp"

namespace ocu::dlg {

namespace {

using gui::Args;
using gui::Handle;
using gui::Results;
using gui::Value;
using S = FixdepState;

// Shows `image` in the dialog's current image area.
void show_plot(const Handle& fig, const AnyImage& image) {
    gui::figure(fig);
    gui::imshow(image);
}

OCU_HEAD(fixdepparms_OpeningFcn)
void fixdepparms_OpeningFcn(Handle hObject, const Value&, S handles, const Args& varargin) {
    handles.width = viewing::kDefaultWidth;
    handles.mar = viewing::kDefaultAcuity;
    handles.polarfln = fixdep::kDefaultPolarPlot;
    // The default plot: working folder first, then the program's data folder.
    handles.polarim = imread(find_data_file(handles.polarfln), kMaxPolarPlotSide);
    gui::set_string(handles[tag::text_polarfln], handles.polarfln);
    if (!varargin.empty()) {
        if (varargin.size() < 2) detail::too_few_values("fixdepparms", "width and mar", varargin.size());
        handles.width = gui::number(varargin[0]);
        handles.mar = gui::number(varargin[1]);
        gui::set_string(handles[tag::edit_width], gui::num2str(handles.width));
        gui::set_string(handles[tag::edit_mar], gui::num2str(handles.mar));
    }
    gui::guidata(hObject, handles);
    if (!gui::is_visible(hObject)) show_plot(hObject, handles.polarim);
    gui::uiwait(handles[tag::figure1]);
}

OCU_HEAD(fixdepparms_OutputFcn)
Results fixdepparms_OutputFcn(Handle, const Value&, const std::optional<S>& handles) {
    if (!handles) detail::closed_without_ok("fixdepparms");
    Results r{handles->width, handles->mar, handles->polarim};
    gui::delete_object((*handles)[tag::figure1]);
    return r;
}

// OK: ends the modal wait once the simulation accepts the values and the
// plot last stored.
OCU_HEAD(pushbutton_fixdepparms_Callback)
void pushbutton_fixdepparms_Callback(Handle, const Value&, S handles) {
    detail::confirm(handles[tag::figure1],
                    {{viewing::Field::Width, tag::edit_width}, {viewing::Field::Acuity, tag::edit_mar}},
                    [&] { fixdep::check(fixdep::Params{handles.width, handles.mar, handles.polarim}); });
}

OCU_HEAD(FileMenu_Callback)
void FileMenu_Callback(Handle, const Value&, S) {}

// Another polar plot: a cancelled chooser, an unreadable file or an image
// that is no polar plot changes nothing (the dialog stays as it was, with
// the values typed).
OCU_HEAD(OpenMenuItem_Callback)
void OpenMenuItem_Callback(Handle hObject, const Value&, S handles) {
    const gui::FileChoice choice = gui::platform().get_file("polar*.bmp", "polarplot files (*.bmp)");
    if (choice.cancelled) return;
    const std::string full = choice.pathname + choice.filename;
    AnyImage image = imread(full, kMaxPolarPlotSide);
    fixdep::check_polar_plot(image);
    handles.polarim = image;
    handles.polarfln = choice.filename;
    handles.pathname = choice.pathname;
    gui::guidata(hObject, handles);
    gui::set_string(handles[tag::text_polarfln], choice.filename);
    show_plot(handles[tag::figure1], image);
}

OCU_HEAD(PrintMenuItem_Callback)
void PrintMenuItem_Callback(Handle, const Value&, S handles) {
    gui::platform().print_dialog(handles[tag::figure1]);
}

OCU_HEAD(CloseMenuItem_Callback)
void CloseMenuItem_Callback(Handle, const Value&, S handles) {
    const std::string name = gui::get_name(handles[tag::figure1]);
    const std::string answer =
        gui::platform().question("Close " + name + "?", "Close " + name + "...", {"Yes", "No"}, "Yes");
    if (answer == "No") return;
    gui::delete_object(handles[tag::figure1]);
}

gui::LocalOps<S> make_ops() {
    gui::LocalOps<S> ops("fixdepparms");
    OCU_GUI_OPENING(ops, fixdepparms_OpeningFcn);
    ops.output("fixdepparms_OutputFcn", &fixdepparms_OutputFcn, fixdepparms_OutputFcn_line, 3);
    OCU_EDIT_FIELD(ops, tag::edit_width, &S::width);
    OCU_EDIT_FIELD(ops, tag::edit_mar, &S::mar);
    OCU_GUI_CALLBACK(ops, pushbutton_fixdepparms_Callback);
    OCU_GUI_CALLBACK(ops, FileMenu_Callback);
    OCU_GUI_CALLBACK(ops, OpenMenuItem_Callback);
    OCU_GUI_CALLBACK(ops, PrintMenuItem_Callback);
    OCU_GUI_CALLBACK(ops, CloseMenuItem_Callback);
    OCU_CANCEL_BUTTON(ops);
    return ops;
}

}  // namespace

gui::Results fixdepparms(const gui::Args& varargin, int nargout) {
    static const gui::LocalOps<S> ops = [] {
        // The controls' callback texts call the window function by name.
        gui::register_window_function("fixdepparms",
                                      [](const gui::Args& a, int n) { return fixdepparms(a, n); });
        return make_ops();
    }();
    return gui::gui_mainfcn(detail::description("fixdepparms", varargin), ops, varargin, nargout);
}

FixdepValues fixdepparms(double width, double mar) {
    const gui::Results r = fixdepparms(gui::Args{width, mar}, 3);
    return FixdepValues{gui::number(r.at(0)), gui::number(r.at(1)), gui::image(r.at(2))};
}

}  // namespace ocu::dlg
