#pragma once
// What the image area shows, and the View menu's display entries
// (view_commands.cpp).
//
// The area shows the source image or the result; with View -> "Side by side"
// checked it shows the source and the result next to each other at one scale
// (when the result belongs to the source), and with View -> "Show fixation"
// checked a small cross on the fixation point in fixation mode, on both.
#include <optional>

#include <QImage>
#include <QPointF>

#include "app/ocumbra.hpp"

namespace ocu::app {

// The checkable View entries (false when the layout has none).
bool follow_pointer_on(const OcumbraState& handles);
bool side_by_side_on(const OcumbraState& handles);
bool show_fixation_on(const OcumbraState& handles);

// Shows the result `imt` of the record `handles` (its picture made elsewhere
// at `step`, or none), beside the source when side by side is on; the
// fixation cross as the record and the View menu say.
void show_result(const OcumbraState& handles, const Shared<AnyImage>& imt, QImage picture = {}, int step = 0);
// The half of the image area that shows the result (1 side by side, else 0).
int result_half(const OcumbraState& handles);
// The fixation cross at `at`, else at the record's fixation point, when the
// View menu and fixation mode ask for it; none otherwise.
void show_marker(const OcumbraState& handles, std::optional<QPointF> at = std::nullopt);

}  // namespace ocu::app
