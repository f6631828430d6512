// The View menu's display entries: Follow pointer (live_view.hpp), Side by
// side, Show fixation, Fit to window and Actual pixels; and File -> Save side
// by side. The display entries change only how the image area shows the
// record (toolkit/gui/imshow.hpp) and store nothing; all but Follow pointer
// stay usable while work runs (work.hpp).
#include <QAction>

#include "app/live_view.hpp"
#include "app/view.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/gui/platform.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/side_by_side.hpp"

namespace ocu::app {

using gui::Handle;
using gui::Value;

namespace {

QAction* entry(const OcumbraState& handles, gui::Tag t) {
    if (!handles.controls.has(t.name)) return nullptr;
    return qobject_cast<QAction*>(handles.controls(t.name).data());
}

bool checked(const OcumbraState& handles, gui::Tag t) {
    const QAction* a = entry(handles, t);
    return a && a->isChecked();
}

gui::ImageArea* area_of(const OcumbraState& handles) { return gui::image_area(handles[tag::axes1]); }

bool displayable(const AnyImage& im) {
    const std::size_t p = image_planes(im);
    return has_pixels(im) && (p == 1 || p == 3);
}

}  // namespace

bool follow_pointer_on(const OcumbraState& handles) { return checked(handles, tag::followpointer_menu); }
bool side_by_side_on(const OcumbraState& handles) { return checked(handles, tag::sidebyside_menu); }
bool show_fixation_on(const OcumbraState& handles) { return checked(handles, tag::showfixation_menu); }

int result_half(const OcumbraState& handles) {
    const gui::ImageArea* a = area_of(handles);
    return a && a->is_pair() ? 1 : 0;
}

void show_marker(const OcumbraState& handles, std::optional<QPointF> at) {
    gui::ImageArea* a = area_of(handles);
    if (!a) return;
    if (!at && handles.fixpoint) at = QPointF(handles.fixpoint->x, handles.fixpoint->y);
    a->set_marker(show_fixation_on(handles) && handles.fixactive ? at : std::nullopt);
}

PictureSize result_picture_size(const OcumbraState& handles) {
    const gui::ImageArea* a = area_of(handles);
    if (!a) return {};
    return {a->picture_step(), (a->image_rect(result_half(handles)).size() * a->devicePixelRatioF()).toSize()};
}

PlanesPicture planes_picture(const ArrayU8& planes, const std::array<std::uint8_t, 256>& table, PictureSize size) {
    PlanesPicture p;
    p.picture = gui::display_picture(planes, table, size.step);
    if (!size.shown.isEmpty() && size.shown.width() < p.picture.width()) {
        p.shrunk = p.picture.scaled(size.shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return p;
}

void show_result(const OcumbraState& handles, const Shared<AnyImage>& imt, QImage picture, int step, QImage shrunk) {
    gui::ImageArea* a = area_of(handles);
    if (!a) throw Error("The handle is not an image area.");
    const bool pair = side_by_side_on(handles) && handles.imt_for_im && displayable(handles.im) &&
                      displayable(imt) && image_rows(handles.im) == image_rows(imt) &&
                      image_cols(handles.im) == image_cols(imt);
    // The area shares the images with the record.
    std::shared_ptr<const AnyImage> result = imt.has_value() ? imt.pointer() : std::make_shared<const AnyImage>();
    if (pair) {
        a->set_pair(handles.im.pointer(), result);
        if (!picture.isNull()) a->replace(1, std::move(result), std::move(picture), step, std::move(shrunk));
    } else {
        a->set_image(std::move(result), std::move(picture), step, std::move(shrunk));
    }
    show_marker(handles);
}

namespace {

// Following the pointer: the live view watches the image area from now on;
// turned off, the area shows the stored result again instead of the last frame.
OCU_HEAD(followpointer_menu_Callback)
void followpointer_menu_Callback(Handle hObject, const Value&, OcumbraState handles) {
    const std::shared_ptr<LiveView> live = live_view(hObject);
    if (follow_pointer_on(handles)) return;
    live->stop();
    if (has_pixels(handles.imt)) show_result(handles, handles.imt);
}

// Side by side: the source and the result at one scale, with the fixation
// cross; off again, the result alone.
OCU_HEAD(sidebyside_menu_Callback)
void sidebyside_menu_Callback(Handle, const Value&, OcumbraState handles) {
    if (side_by_side_on(handles)) {
        if (QAction* a = entry(handles, tag::showfixation_menu)) a->setChecked(true);
    }
    if (handles.imt_for_im && has_pixels(handles.imt)) show_result(handles, handles.imt);
}

OCU_HEAD(showfixation_menu_Callback)
void showfixation_menu_Callback(Handle, const Value&, OcumbraState handles) { show_marker(handles); }

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

// Save side by side: the source and the result in one image, proposed "S" + file name.
OCU_HEAD(Save_sidebyside_Callback)
void Save_sidebyside_Callback(Handle, const Value&, OcumbraState handles) {
    if (!has_pixels(handles.im)) throw Error(kOpenImageFirst);
    if (!handles.imt_for_im) throw Error(kNoResultYet);
    const ArrayD both = side_by_side(handles.im, handles.imt);  // refuses what it cannot put together
    const std::string proposed = handles.pathname + "S" + handles.filename;
    const gui::FileChoice c = gui::platform().put_file(proposed, "Save side by side");
    if (c.cancelled) return;
    imwrite(AnyImage(both), c.pathname + c.filename);
}

}  // namespace

void add_view_commands(Ops& ops) {
    OCU_GUI_CALLBACK(ops, followpointer_menu_Callback);
    OCU_GUI_CALLBACK(ops, sidebyside_menu_Callback);
    OCU_GUI_CALLBACK(ops, showfixation_menu_Callback);
    OCU_GUI_CALLBACK(ops, actualpixels_menu_Callback);
    OCU_GUI_CALLBACK(ops, fittowindow_menu_Callback);
    OCU_GUI_CALLBACK(ops, Save_sidebyside_Callback);
}

}  // namespace ocu::app
