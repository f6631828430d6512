#pragma once
// What the image area shows, and the View menu's display entries
// (view_commands.cpp).
//
// The area shows the source image or the result; with View -> "Side by side"
// checked it shows the source and the result next to each other at one scale
// (when the result belongs to the source), and with View -> "Show fixation"
// checked a small cross on the fixation point in fixation mode, on both.
#include <array>
#include <cstdint>
#include <optional>

#include <QImage>
#include <QPointF>
#include <QSize>

#include "app/ocumbra.hpp"

namespace ocu::app {

// The checkable View entries (false when the layout has none).
bool follow_pointer_on(const OcumbraState& handles);
bool side_by_side_on(const OcumbraState& handles);
bool show_fixation_on(const OcumbraState& handles);

// Shows the result `imt` of the record `handles` (its picture made elsewhere
// at `step`, or none), beside the source when side by side is on; the
// fixation cross as the record and the View menu say.
// `shrunk`: the picture already scaled to the size it is painted at (see
// planes_picture), or none.
void show_result(const OcumbraState& handles, const Shared<AnyImage>& imt, QImage picture = {}, int step = 0,
                 QImage shrunk = {});

// How a result of the record `handles` is shown now: the reduction of its
// picture (ImageArea::picture_step) and the device pixels it is painted in.
// Asked on the window's thread, for a picture made on a worker.
struct PictureSize {
    int step = 1;
    QSize shown;
};
PictureSize result_picture_size(const OcumbraState& handles);

// The picture of a rendering's planes (fixdep/render.hpp) through `table` at
// `size.step`, and the same scaled smoothly to `size.shown` when it is painted
// smaller: what the image area would make while painting, made on a worker.
struct PlanesPicture {
    QImage picture, shrunk;
};
PlanesPicture planes_picture(const ArrayU8& planes, const std::array<std::uint8_t, 256>& table, PictureSize size);
// The half of the image area that shows the result (1 side by side, else 0).
int result_half(const OcumbraState& handles);
// The fixation cross at `at`, else at the record's fixation point, when the
// View menu and fixation mode ask for it; none otherwise.
void show_marker(const OcumbraState& handles, std::optional<QPointF> at = std::nullopt);

}  // namespace ocu::app
