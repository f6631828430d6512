// The main window's file commands: open, save result, save resolution map,
// print, close, and the source and transformed views.
#include <QAction>

#include "app/ocumbra.hpp"
#include "app/startup.hpp"
#include "app/view.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/gui/platform.hpp"
#include "toolkit/imageio.hpp"

namespace ocu::app {

using gui::Handle;
using gui::Value;

namespace {

OCU_HEAD(FileMenu_Callback)
void FileMenu_Callback(Handle, const Value&, OcumbraState) {}

// The result, when there is one for the current image.
const Shared<AnyImage>& current_result(const OcumbraState& handles) {
    if (!has_pixels(handles.im)) throw Error(kOpenImageFirst);
    // A result made from the previous image does not belong to this one.
    if (!handles.imt_for_im) throw Error(kNoResultYet);
    return handles.imt;
}

// Reads pathname + filename and makes it the source image; the result of the
// previous image no longer belongs to it.
void open_source_image(const Handle& hObject, OcumbraState& handles, const std::string& pathname,
                       const std::string& filename) {
    handles.im = imread(pathname + filename);
    const Shared<AnyImage> im = handles.im;
    handles.filename = filename;
    handles.pathname = pathname;
    handles.prevtrans = Transform::None;
    handles.imt_for_im = false;
    handles.combined.reset();  // its intermediate image is of the previous image
    const Handle axes = handles[tag::axes1];
    store_state(hObject, std::move(handles));
    if (gui::ImageArea* a = gui::image_area(axes)) a->set_image(im.pointer());
}

// Open: choose a file, read it, make it the source image.
OCU_HEAD(OpenMenuItem_Callback)
void OpenMenuItem_Callback(Handle hObject, const Value&, OcumbraState handles) {
    const gui::FileChoice c = gui::platform().get_file("*.bmp;*.tif;*.jpg;*.jpeg;*.tiff;*.png",
                                                       "image files (*.bmp,*.tif,*.jpg)");
    if (c.cancelled) return;
    open_source_image(hObject, handles, c.pathname, c.filename);
}

// Save result: write imt under a chosen name, proposed "T" + file name.
OCU_HEAD(Save_as_Callback)
void Save_as_Callback(Handle, const Value&, OcumbraState handles) {
    current_result(handles);
    const std::string proposed = handles.pathname + "T" + handles.filename;
    const gui::FileChoice c = gui::platform().put_file(proposed, "Save transformed image");
    const std::string path = c.pathname + c.filename;
    if (!c.cancelled) imwrite(handles.imt, path);
}

// Save resolution map: only in fixation mode.
OCU_HEAD(Save_resmap_Callback)
void Save_resmap_Callback(Handle, const Value&, OcumbraState handles) {
    if (!handles.fixactive) return;
    const std::string proposed = handles.pathname + "res*.bmp";
    const gui::FileChoice c = gui::platform().put_file(proposed, "Save resmap");
    if (c.cancelled) return;
    if (!handles.restot) throw Error("There is no resolution map to save.");
    imwrite(AnyImage(*handles.restot), c.pathname + c.filename);
}

OCU_HEAD(PrintMenuItem_Callback)
void PrintMenuItem_Callback(Handle, const Value&, OcumbraState handles) {
    gui::platform().print_dialog(handles[tag::figure1]);
}

// Close: ask, then delete the main window unless the answer is "No".
OCU_HEAD(CloseMenuItem_Callback)
void CloseMenuItem_Callback(Handle, const Value&, OcumbraState handles) {
    const std::string name = gui::get_name(handles[tag::figure1]);
    const std::string answer =
        gui::platform().question("Close " + name + "?", "Close " + name + "...", {"Yes", "No"}, "Yes");
    if (answer == "No") return;
    gui::delete_object(handles[tag::figure1]);
}

// Source view: show im, leave fixation mode.
OCU_HEAD(original_menu_Callback)
void original_menu_Callback(Handle hObject, const Value&, OcumbraState handles) {
    handles.fixactive = false;
    const Handle axes = handles[tag::axes1];
    const Shared<AnyImage> im = handles.im;
    // The source alone, also after side by side.
    if (auto* a = qobject_cast<QAction*>(handles[tag::sidebyside_menu].data())) a->setChecked(false);
    store_state(hObject, std::move(handles));
    if (gui::ImageArea* a = gui::image_area(axes)) a->set_image(im.pointer());
}

// Transformed view: show imt, leave fixation mode.
OCU_HEAD(transformed_menu_Callback)
void transformed_menu_Callback(Handle hObject, const Value&, OcumbraState handles) {
    const Shared<AnyImage> imt = current_result(handles);
    handles.fixactive = false;
    show_result(handles, imt);
    store_state(hObject, std::move(handles));
}

}  // namespace

void open_image_file(const Handle& fig, const std::string& path) {
    std::optional<OcumbraState> handles = gui::guidata<OcumbraState>(fig);
    if (!handles) throw Error("The main window has no state record.");
    const auto slash = path.find_last_of('/');
    const std::string pathname = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    open_source_image(fig, *handles, pathname, path.substr(pathname.size()));
}

void add_file_commands(Ops& ops) {
    OCU_GUI_CALLBACK(ops, FileMenu_Callback);
    OCU_GUI_CALLBACK(ops, OpenMenuItem_Callback);
    OCU_GUI_CALLBACK(ops, Save_as_Callback);
    OCU_GUI_CALLBACK(ops, Save_resmap_Callback);
    OCU_GUI_CALLBACK(ops, PrintMenuItem_Callback);
    OCU_GUI_CALLBACK(ops, CloseMenuItem_Callback);
    OCU_GUI_CALLBACK(ops, original_menu_Callback);
    OCU_GUI_CALLBACK(ops, transformed_menu_Callback);
}

}  // namespace ocu::app
