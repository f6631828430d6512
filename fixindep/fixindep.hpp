#pragma once
// The fixation-independent simulation from a stored image to the displayed
// result, shared by the window's command and `ocumbra-sim fixindep`:
//
//   fixindep::Params p;      // width 20, acuity 1, contrast 1, exponents 2
//   p.mar = 0.1;
//   ArrayD imt = fixindep::run(im, p);
//
// Unit chain (sx = number of columns of the image):
//   pixdist = viewing::viewing_distance(sx, width)      viewing distance in pixels
//   marpix  = (1 / mar) / 60 / 180 * pi * pixdist       minimum angle of resolution in pixels
//   lum     = (stored value / full scale) ^ powcam      linear luminance
//   lumt    = locblurim(lum, marpix, contrastf * 0.05)
//   imt     = (lumt: minimum with 1, then maximum with 0) ^ (1 / powmon)
//
// Shared rules for this header:
//  - The viewing parameters (width, mar, contrastf) are checked as
//    toolkit/viewing.hpp says; powcam and powmon must be positive finite
//    numbers. Anything else is refused with ocu::Error (whose text names the
//    parameter), before any work is done.
//  - Full scale of a stored sample: 255 for 8-bit images (the usual case),
//    65535 for 16-bit images, 1 for logical images; double images are taken as
//    intensities 0..1, must be finite, and are clipped to 0..1.
//  - Images must be 2-D or have three planes (see locblurim.hpp).
#include <cstddef>

#include "fixindep/locblurim.hpp"
#include "toolkit/array.hpp"
#include "toolkit/progress.hpp"
#include "toolkit/viewing.hpp"

namespace ocu::fixindep {

// The parameters of one run; the defaults are the main window's.
struct Params {
    double width = viewing::kDefaultWidth;         // angular width of the image, degrees
    double mar = viewing::kDefaultAcuity;          // decimal visual acuity
    double contrastf = viewing::kDefaultContrast;  // contrast factor; coarsest threshold contrastf * 0.05
    double powcam = 2.0;                           // stored value -> linear luminance exponent
    double powmon = 2.0;                           // linear luminance -> displayed value exponent
    // How the blurs are computed: the separable filters, or the direct 2-D
    // ones (slower; results agree to rounding). The program uses Separable.
    Filtering filtering = Filtering::Separable;
};

// Checks every parameter of `p` (width, acuity, contrast factor, then the
// exponents) and throws for the first that is refused.
void check(const Params& p);

// The simulation: the displayed result imt of the stored image `im`, with the
// size of `im` (one plane for a gray image or a colour image whose planes
// agree, three otherwise; see locblurim.hpp). Calls check(p) first.
// `progress` hears of each band of rows and may stop the run there
// (toolkit/progress.hpp: Stopped); the result does not depend on it.
ArrayD run(const AnyImage& im, const Params& p, const Progress* progress = nullptr);

// Minimum angle of resolution (1 / mar minutes of arc) as a length in pixels
// at viewing distance `pixdist` (viewing::viewing_distance).
double marpix(double mar, double pixdist);

// std::pow(v, e) to the bit for v in 0..1, the square (the default camera
// exponent) mostly without calling pow.
double pow_of_unit(double v, double e);

// Linear luminance of a stored image: (sample / full scale) ^ powcam.
ArrayD luminance(const AnyImage& im, double powcam);

}  // namespace ocu::fixindep
