#pragma once
// Colour vision deficiency: protan, deutan and tritan with a severity 0..1,
// and achromatopsia (rod monochromacy).
//
// Shared rules for this header:
//  - Images are the stored samples (any AnyImage sample type): 8-bit samples
//    are v / 255, 16-bit ones v / 65535, logical ones 0 or 1, double images
//    are taken as values 0..1 (they must be finite and are clipped to 0..1).
//    These are sRGB values (see srgb.hpp).
//  - A colour image (rows x cols x 3, red, green, blue) is decoded to linear
//    light, every pixel multiplied by a 3 x 3 matrix, clipped to 0..1 and
//    encoded again. A gray image (rows x cols) comes back unchanged as those
//    0..1 values: it has no colour to lose. Other plane counts are refused.
//  - Results are doubles 0..1 of the image's size: what the window shows.
//  - The matrices are those of Machado, Oliveira & Fernandes (2009), tabulated
//    for severities 0, 0.1, ..., 1 (0 = normal vision, 1 = dichromacy) and
//    interpolated linearly in between. Achromatopsia shows the luminance
//    Y = 0.2126 R + 0.7152 G + 0.0722 B (linear light) in all three planes; it
//    has no severity.
//  - Bad parameters are refused with ocu::Error, whose text names the value.
//  - Pure functions; results do not depend on the number of threads.
#include <array>
#include <cstdint>
#include <string_view>

#include "toolkit/array.hpp"

namespace ocu::colour {

enum class Deficiency {
    Protan,    // missing or shifted long-wavelength (red) cones
    Deutan,    // missing or shifted middle-wavelength (green) cones
    Tritan,    // missing or shifted short-wavelength (blue) cones
    Achromat,  // no working cones: rod monochromacy
};

struct Params {
    Deficiency type = Deficiency::Protan;
    double severity = 1;  // 0..1; not used for Achromat (but still checked)
};

// Refuses parameters the simulation cannot use (the severity, for every type);
// what the window's dialog and the batch tool call before any work.
void check(const Params& params);

// The simulation for `params`: check(params), then
// simulate_cvd(im, params.type, params.severity).
ArrayD run(const AnyImage& im, const Params& params);

// The simulation of `type` at `severity` (0..1); for Achromat the severity is
// checked and otherwise ignored, the result being simulate_achromatopsia(im).
ArrayD simulate_cvd(const AnyImage& im, Deficiency type, double severity);
ArrayD simulate_achromatopsia(const AnyImage& im);

// simulate_cvd for an 8-bit colour image given as a view (rows x cols x 3),
// written into `out` (the same extents), in whatever layout the two views
// have: the same values as simulate_cvd(im) gives. Pixels stored red, green,
// blue one after another in both (C order, as NumPy keeps images) are
// computed in place without reordering. Throws for other extents.
void simulate_cvd(View<const std::uint8_t> im, Deficiency type, double severity, View<double> out);

// A type by its name: exactly "protan", "deutan", "tritan" or "achromat"
// (lower case; no other spellings such as "protanopia" or "achromatopsia").
Deficiency parse_deficiency(std::string_view name);
// The name parse_deficiency accepts for `type`.
std::string_view deficiency_name(Deficiency type);

// Refuses a severity that is not a number from 0 to 1 (NaN included).
void check_severity(double severity);

// The matrix applied to linear RGB for `type` at `severity`, row by row
// ([R G B]_out = M [R G B]_in): between the tabulated severities k / 10 and
// (k + 1) / 10 it is (1 - w) M_k + w M_k+1 with w = 10 severity - k. For
// Achromat every row is the luminance row. Checks the severity.
using Matrix3 = std::array<double, 9>;
Matrix3 cvd_matrix(Deficiency type, double severity);

}  // namespace ocu::colour
