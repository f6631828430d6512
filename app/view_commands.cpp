// The View menu's display entries: Follow pointer (live_view.hpp), Fit to
// window and Actual pixels. They change only how the image area shows its
// image (toolkit/gui/imshow.hpp) and store nothing; the zoom entries stay
// usable while work runs (work.hpp).
#include <QAction>

#include "app/live_view.hpp"
#include "app/view.hpp"
#include "toolkit/gui/imshow.hpp"

namespace ocu::app {

using gui::Handle;
using gui::Value;

namespace {

gui::ImageArea* area_of(const OcumbraState& handles) { return gui::image_area(handles[tag::axes1]); }

// Following the pointer: the live view watches the image area from now on;
// turned off, the area shows the stored result again instead of the last frame.
OCU_HEAD(followpointer_menu_Callback)
void followpointer_menu_Callback(Handle hObject, const Value&, OcumbraState handles) {
    const std::shared_ptr<LiveView> live = live_view(hObject);
    if (follow_pointer_on(handles)) return;
    live->stop();
    if (gui::ImageArea* a = area_of(handles); a && has_pixels(handles.imt)) a->set_image(handles.imt);
}

// One image pixel per screen pixel, around the centre of what was shown.
OCU_HEAD(actualpixels_menu_Callback)
void actualpixels_menu_Callback(Handle, const Value&, OcumbraState handles) {
    if (gui::ImageArea* a = area_of(handles)) a->set_zoom(gui::ZoomMode::Fixed, 1.0);
}

// The whole image in the area, as large as it fits.
OCU_HEAD(fittowindow_menu_Callback)
void fittowindow_menu_Callback(Handle, const Value&, OcumbraState handles) {
    if (gui::ImageArea* a = area_of(handles)) a->set_zoom(gui::ZoomMode::Fit);
}

}  // namespace

bool follow_pointer_on(const OcumbraState& handles) {
    if (!handles.controls.has(tag::followpointer_menu.name)) return false;
    const auto* a = qobject_cast<const QAction*>(handles.controls(tag::followpointer_menu.name).data());
    return a && a->isChecked();
}

void add_view_commands(Ops& ops) {
    OCU_GUI_CALLBACK(ops, followpointer_menu_Callback);
    OCU_GUI_CALLBACK(ops, actualpixels_menu_Callback);
    OCU_GUI_CALLBACK(ops, fittowindow_menu_Callback);
}

}  // namespace ocu::app
