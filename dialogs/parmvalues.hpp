#pragma once
// The value rules the parameter dialogs and the simulation commands share:
// reading a typed text as a number, writing a number into a field, the glare
// slider's bands, and the check a command makes on the values a dialog
// returned before it starts computing.
#include <string>
#include <string_view>

namespace ocu::dlg {

// A typed text as a double. What reads as a number, after leading and trailing
// blanks (space, tab, line breaks) are dropped:
//   [sign] digits [. [digits]] [exponent]   e.g. 2, -3., +0.5, 1e-1, 2.5E+3
//   [sign] . digits [exponent]              e.g. .5, -.25e2
//   [sign] Inf | Infinity | NaN             (letters in any case)
// where sign is '+' or '-' and exponent is 'e' or 'E', an optional sign and at
// least one digit. A magnitude beyond the double range reads as +-Inf, one
// below it as +-0. Everything else -- an empty text, a comma ("0,5"), letters,
// two numbers, hexadecimal -- gives NaN. The current locale plays no part.
double text_to_double(std::string_view text);

// The text a field shows for a value. A whole number below 1e15 in magnitude
// is written without a decimal point ("20", "-3", "0"); other finite values in
// the shortest form that reads back as the same double ("0.5", "0.1",
// "1e-05"); NaN as "NaN", infinities as "Inf" and "-Inf". text_to_double reads
// every one of these back to the same value.
std::string number_text(double v);

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
