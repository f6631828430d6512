#pragma once
// The glare slider's bands, shared by the glare dialog and its tests. (Typed
// text is read with gui::str2double and numbers are written with
// gui::num2str; the values a dialog returns are checked by the simulations,
// toolkit/viewing.hpp.)

namespace ocu::dlg {

// The glare slider covers positions 0..1; a position v stands for the glare
// factor max(0, round(11 v - 0.501)) with halves rounded away from zero
// (eleven bands, 0 below about 0.091, 10 from about 0.9092). A NaN position
// gives 0.
double glare_factor(double v);
// The slider position for a glare factor: min(max(factor / 10, 0), 1), where
// a NaN factor counts as 0.
double slider_position(double factor);

}  // namespace ocu::dlg
