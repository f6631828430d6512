// The View menu's display entries: Fit to window and Actual pixels. They
// change only how the image area shows its image (toolkit/gui/imshow.hpp),
// store nothing and stay usable while work runs (work.hpp).
#include "app/ocumbra.hpp"
#include "toolkit/gui/imshow.hpp"

namespace ocu::app {

using gui::Handle;
using gui::Value;

namespace {

gui::ImageArea* area_of(const OcumbraState& handles) { return gui::image_area(handles[tag::axes1]); }

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

void add_view_commands(Ops& ops) {
    OCU_GUI_CALLBACK(ops, actualpixels_menu_Callback);
    OCU_GUI_CALLBACK(ops, fittowindow_menu_Callback);
}

}  // namespace ocu::app
