#pragma once
// The fixation-independent simulation from a stored image to the displayed
// result, shared by the window's command and `ocumbra-sim fixindep`.
//
// Unit chain (sx = number of columns of the image):
//   pixdist = (sx / 2) / tan(0.5 * width * pi / 180)   viewing distance in pixels
//   marpix  = (1 / mar) / 60 / 180 * pi * pixdist       minimum angle of resolution in pixels
//   lum     = (stored value / full scale) ^ powcam      linear luminance
//   lumt    = locblurim(lum, marpix, contrastf * 0.05)
//   imt     = (lumt: minimum with 1, then maximum with 0) ^ (1 / powmon)
//
// Shared rules for this header:
//  - width must lie strictly between 0 and 180 degrees; mar, contrastf,
//    powcam and powmon must be positive finite numbers. Anything else is
//    refused with ocu::Error (whose text names the parameter).
//  - Full scale of a stored sample: 255 for 8-bit images (the usual case),
//    65535 for 16-bit images, 1 for logical images; double images are taken as
//    intensities 0..1, must be finite, and are clipped to 0..1.
//  - Images must be 2-D or have three planes (see locblurim.hpp).
#include <cstddef>

#include "fixindep/locblurim.hpp"
#include "toolkit/array.hpp"

namespace ocu::fixindep {

struct FixIndepParams {
    double width = 20.0;     // angular width of the image, degrees
    double mar = 1.0;        // decimal visual acuity
    double contrastf = 1.0;  // contrast factor; the coarsest threshold is contrastf * 0.05
    double powcam = 2.0;     // stored value -> linear luminance exponent
    double powmon = 2.0;     // linear luminance -> displayed value exponent
};

// Viewing distance in pixels at which sx columns span `width` degrees.
double pixdist(std::size_t sx, double width);

// Minimum angle of resolution (1 / mar minutes of arc) as a length in pixels
// at viewing distance `pixdist`.
double marpix(double mar, double pixdist);

// Linear luminance of a stored image: (sample / full scale) ^ powcam.
ArrayD luminance(const AnyImage& im, double powcam);

// Displayed result of the simulation: imt of the stored image `im`.
ArrayD fixindep_image(const AnyImage& im, const FixIndepParams& params,
                      Filtering filtering = Filtering::Separable);
ArrayD fixindep_image(const AnyImage& im, double width, double mar, double contrastf,
                      double powcam = 2.0, double powmon = 2.0,
                      Filtering filtering = Filtering::Separable);

}  // namespace ocu::fixindep
