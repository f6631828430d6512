#pragma once
// The polar plot of a visual field drawn from perimetry measurements.
//
// Shared rules for this header:
//  - The plot is 400 x 400 x 3 uint8 (red, green, blue), the geometry the
//    fixation-dependent simulation reads: fixation at row 200, column 200
//    (1-based); eccentricity grows linearly with the distance from that pixel,
//    90 degrees at 176.2774 pixels (1.9586 pixels per degree); right is the
//    patient's right, up is up. Pixel (row, col) lies at
//    x = (col - 200) / 1.9586..., y = (200 - row) / 1.9586... degrees.
//  - Inside the 90-degree circle, blue is round(255 * s), s the relative
//    sensitivity (sensitivity.hpp). Red and green only draw for a person: a
//    light background, a grid of circles every 10 degrees and radials every
//    30 degrees, the test points as small marks; they are never read.
//    Outside the circle (never read either) the plot is gray 235, 235, 235.
//  - The total deviation in dB (thresholds converted against the normal model
//    for the age; a not-seen point as a threshold of -1 dB) is interpolated
//    (interpolate.hpp), then converted to s. Outside the convex hull of the
//    test points it is continued along the direction from fixation
//    (Periphery::Hull) or taken as normal, s = 1 (Periphery::Normal).
//  - The physiological blind spot is added as an ellipse of s = 0 (kBlindSpot)
//    on the temporal side of the eye: to the patient's right for OD, to the
//    left for OS, unless a not-seen test point already lies inside it.
//  - Two fields, one per eye, combine into the binocular field by taking the
//    better sensitivity at each place.
//  - Errors (ocu::Error): the eye is not known (neither the file nor the
//    options say), the options name the other eye than the file, both fields
//    are of one eye, an age outside 0..120 years; and the interpolator's.
//  - A plot is written as a 24-bit BMP with ocu::imwrite (toolkit/imageio.hpp).
#include <cstddef>
#include <optional>

#include "field/measurement.hpp"
#include "toolkit/array.hpp"

namespace ocu::field {

inline constexpr std::size_t kPlotSize = 400;
inline constexpr double kPlotCentre = 200.0;          // 1-based row and column
inline constexpr double kPixelsAt90Degrees = 176.2774;
inline constexpr double kPixelsPerDegree = kPixelsAt90Degrees / 90.0;

// The physiological blind spot: an ellipse 5.5 degrees wide and 7.5 degrees
// high, centred 15 degrees temporal and 1.5 degrees below fixation.
struct BlindSpot {
    double temporal_deg = 15.0;
    double below_deg = 1.5;
    double width_deg = 5.5;
    double height_deg = 7.5;
};
inline constexpr BlindSpot kBlindSpot{};

// Whether (x, y) lies inside the blind spot of `eye` (boundary included).
bool in_blind_spot(Eye eye, double x, double y);

enum class Periphery { Hull, Normal };

struct PlotOptions {
    Periphery periphery = Periphery::Hull;
    std::optional<double> age;  // overrides the file's; default kNormalModel.default_age
    std::optional<Eye> eye;     // for a file that does not say; must agree with one that does
};

// Which eyes a plot came from.
enum class Eyes { OD, OS, Both };
const char* eyes_name(Eyes eyes);  // "OD", "OS", "OD+OS"

struct PolarPlot {
    ArrayU8 image;  // 400 x 400 x 3
    Eyes eyes = Eyes::OD;
};

// The eye a measurement is taken to be of under `opts` (see the errors above).
Eye resolve_eye(const Measurement& m, const PlotOptions& opts);

// The relative sensitivity s of one eye's field at every plot pixel
// (400 x 400), blind spot included; `eye` places the blind spot (opts.eye is
// not consulted here).
ArrayD sensitivity_map(const Measurement& m, Eye eye, const PlotOptions& opts);

// One eye's polar plot.
PolarPlot polar_plot(const Measurement& m, const PlotOptions& opts = {});

// The binocular polar plot of two fields, one of each eye: the better of the
// two sensitivities everywhere. opts.eye (if given) is the eye of `m`; a field
// whose eye neither the file nor the options give is taken as the other eye.
PolarPlot binocular_polar_plot(const Measurement& m, const Measurement& other_eye,
                     const PlotOptions& opts = {});

}  // namespace ocu::field
