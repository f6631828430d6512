#pragma once
// Clinical units: visual acuity as clinicians write it, and a Pelli-Robson
// score, turned into the values the simulations take (decimal acuity and the
// contrast factor).
//
// Acuity text, one of:
//   decimal   "0.5", "1", "2e-1"          the number itself
//   Snellen   "20/40", "6/12", any "a/b"  a / b (both parts greater than 0)
//   logMAR    "logMAR 0.3", "0.3 logMAR"  10^-logMAR, logMAR within -0.3..3
// "logMAR" in any letter case; spaces (or tabs) may stand between a number and
// "logMAR" or the '/', but not before or after the whole text: the batch tool
// passes its argument unchanged (as for its other numbers), the dialogs trim
// what was typed before they call this. Numbers are plain decimal notation
// with a point and an optional exponent: no hexadecimal, no "inf" or "nan",
// nothing after the number.
//
// Every error is an ocu::Error whose text starts with
//   Invalid <field>: "<text>".
// followed by what is wrong, where <field> is the caller's name for the field
// (for example "visual acuity (mar)" in a dialog, "--acuity" in the batch tool)
// and <text> the text as given.
#include <string>
#include <string_view>

namespace ocu::clinical {

// The decimal acuity `text` stands for, finite and greater than 0.
double parse_acuity(std::string_view text, std::string_view field);

// The normal Pelli-Robson score (log contrast sensitivity) of a young adult:
// the contrast factor 1 belongs to it. Scores of 1.80 and above are commonly
// taken as normal.
inline constexpr double kNormalLogCS = 1.95;

// The contrast factor of a Pelli-Robson score: 10^(reference - logcs), so each
// 0.3 log units below the reference doubles the contrast a detail needs.
// `logcs` and `reference` must lie within 0..2.4 (the chart's range); anything
// else, NaN included, is an ocu::Error naming the value.
double contrast_factor_from_logcs(double logcs, double reference = kNormalLogCS);

}  // namespace ocu::clinical
