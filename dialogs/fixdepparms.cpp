// The fixation-dependent parameters dialog: image width, acuity and the polar
// plot of the visual field, shown in the dialog and chosen from its menu: a
// plot image, or a perimetry result made into the plot (field/), one eye or,
// after a second import of the other eye, both.
#include <optional>

#include "dialogs/dialogs.hpp"
#include "dialogs/dialogs_common.hpp"
#include "field/polarplot.hpp"
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
    handles.source = PlotSource{find_data_file(handles.polarfln), {}, std::nullopt};
    handles.polarim = imread(handles.source.file, kMaxPolarPlotSide);
    gui::set_string(handles[tag::text_polarfln], handles.polarfln);
    if (!varargin.empty()) {
        if (varargin.size() < 2) detail::too_few_values("fixdepparms", "width and mar", varargin.size());
        handles.width = gui::number(varargin[0]);
        handles.mar = gui::number(varargin[1]);
        handles.photo = detail::photo_argument(varargin, 2);
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
    const PlotSource& src = handles->source;
    Results r{handles->width, handles->mar, handles->polarim, src.file, src.other_eye,
              std::string(src.eye ? field::eye_name(*src.eye) : "")};
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
    handles.source = PlotSource{full, {}, std::nullopt};
    handles.imported.reset();
    gui::guidata(hObject, handles);
    gui::set_string(handles[tag::text_polarfln], choice.filename);
    show_plot(handles[tag::figure1], image);
}

constexpr const char* kImportTitle = "Import perimetry";

const char* eye_words(field::Eye eye) { return eye == field::Eye::OD ? "right eye (OD)" : "left eye (OS)"; }

std::string file_name_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The eye of an imported measurement: the file's, else the person's answer
// (nothing when the question was closed).
std::optional<field::Eye> eye_of(const field::Measurement& m, const std::string& name) {
    if (m.eye) return m.eye;
    const std::string right = "Right eye (OD)", left = "Left eye (OS)";
    const std::string a = gui::platform().question(
        "Which eye was the field in " + name + " measured on? The file does not say.", kImportTitle,
        {right, left, "Cancel"}, right);
    if (a == right) return field::Eye::OD;
    if (a == left) return field::Eye::OS;
    return std::nullopt;
}

// Import perimetry: a measurement file (CSV, JSON, DICOM) made into the polar
// plot and shown like an opened plot. When the import before it was of the
// other eye, a question offers the binocular field of both. A cancelled
// chooser or question, or a file that cannot be read, changes nothing.
OCU_HEAD(ImportMenuItem_Callback)
void ImportMenuItem_Callback(Handle hObject, const Value&, S handles) {
    const gui::FileChoice choice =
        gui::platform().get_file("*.csv;*.json;*.dcm", "perimetry files (*.csv,*.json,*.dcm)");
    if (choice.cancelled) return;
    const std::string full = choice.pathname + choice.filename;
    field::Measurement m = field::read_measurement(full);
    const std::optional<field::Eye> eye = eye_of(m, choice.filename);
    if (!eye) return;
    m.eye = eye;

    PlotSource source{full, {}, eye};
    std::string shown = choice.filename;
    std::optional<field::PolarPlot> plot;
    if (handles.imported && handles.imported->eye != eye) {
        const field::Measurement& first = *handles.imported;
        const std::string both = "Both eyes", one = "This eye only";
        const std::string a = gui::platform().question(
            "Combine " + choice.filename + " (" + eye_words(*eye) + ") with " + file_name_of(first.source) + " (" +
                eye_words(*first.eye) + ") into the binocular field, the better eye at each place?",
            kImportTitle, {both, one}, both);
        if (a.empty()) return;
        if (a == both) {
            plot = field::binocular_polar_plot(first, m);
            source = PlotSource{first.source, full, first.eye};
            shown = file_name_of(first.source) + " + " + choice.filename + " (both eyes)";
        }
    }
    if (!plot) plot = field::polar_plot(m);
    AnyImage image(std::move(plot->image));
    fixdep::check_polar_plot(image);
    handles.polarim = image;
    handles.polarfln = shown;
    handles.pathname = choice.pathname;
    handles.source = std::move(source);
    handles.imported = std::move(m);
    gui::guidata(hObject, handles);
    gui::set_string(handles[tag::text_polarfln], shown);
    show_plot(handles[tag::figure1], image);
}

// Save polar plot as: the plot shown, as an image file (a 24-bit BMP for .bmp).
OCU_HEAD(SavePlotMenuItem_Callback)
void SavePlotMenuItem_Callback(Handle, const Value&, S handles) {
    const gui::FileChoice c = gui::platform().put_file(handles.pathname.value_or("") + "polar*.bmp", "Save polar plot");
    if (c.cancelled) return;
    imwrite(handles.polarim, c.pathname + c.filename);
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
    ops.output("fixdepparms_OutputFcn", &fixdepparms_OutputFcn, fixdepparms_OutputFcn_line, 6);
    OCU_EDIT_FIELD(ops, tag::edit_width, &S::width);
    OCU_ACUITY_FIELD(ops, tag::edit_mar, &S::mar);
    OCU_PHOTO_BUTTON(ops, tag::edit_width, &S::width, &S::photo);
    OCU_GUI_CALLBACK(ops, pushbutton_fixdepparms_Callback);
    OCU_GUI_CALLBACK(ops, FileMenu_Callback);
    OCU_GUI_CALLBACK(ops, OpenMenuItem_Callback);
    OCU_GUI_CALLBACK(ops, ImportMenuItem_Callback);
    OCU_GUI_CALLBACK(ops, SavePlotMenuItem_Callback);
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

FixdepValues fixdepparms(double width, double mar, const std::string& photo) {
    const gui::Results r = fixdepparms(gui::Args{width, mar, photo}, 6);
    PlotSource source{gui::text(r.at(3)), gui::text(r.at(4)), field::parse_eye(gui::text(r.at(5)))};
    return FixdepValues{gui::number(r.at(0)), gui::number(r.at(1)), gui::image(r.at(2)), std::move(source)};
}

}  // namespace ocu::dlg
