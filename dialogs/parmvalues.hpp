#pragma once
// The value rules the parameter dialogs and the simulation commands share:
// the glare slider's bands, and the checks a command makes on the values a
// dialog returned before it starts computing. (Typed text is read with
// gui::str2double and numbers are written with gui::num2str.)

namespace ocu::dlg {

// The glare slider covers positions 0..1; a position v stands for the glare
// factor max(0, round(11 v - 0.501)) with halves rounded away from zero
// (eleven bands, 0 below about 0.091, 10 from about 0.9092). A NaN position
// gives 0.
double glare_factor(double v);
// The slider position for a glare factor: min(max(factor / 10, 0), 1), where
// a NaN factor counts as 0.
double slider_position(double factor);

// The checks a simulation command makes on a dialog's results before the
// busy status. Each throws ocu::Error naming the field and the value:
//   width: a finite number of degrees greater than 0 and less than 180
//          (a flat picture spans less than half the visual field);
//   acuity (mar): a finite number greater than 0;
//   contrast factor: a finite number greater than 0.
// (The glare factor needs no check: the glare dialog always returns an
// integer 0..10.)
void check_width(double width);
void check_acuity(double mar);
void check_contrast(double contrastf);

}  // namespace ocu::dlg
