#pragma once
// The resolution map of the fixation-dependent simulation.
//
// For every position of the visual field relative to the fixated pixel the map
// holds the resolution seen there: 1 is the full resolution of the image's
// pixel grid, smaller is proportionally coarser, 0 is blind. It combines
//  - standresmap: normal vision, falling with eccentricity (capped at 1);
//  - degradationmapim: the patient's field, read from a polar plot;
//  - minresmap: the limit set by the patient's acuity (not capped).
//
// Shared rules for this header:
//  - Maps are sy rows x sx columns of doubles. A map pixel at 1-based row y and
//    column x lies X = x - centre column to the right of the centre and
//    Y = y - centre row below it; rd = sqrt(X^2 + Y^2) pixels.
//  - Centre: (round(sy / 2), round(sx / 2)) for standresmap and minresmap,
//    (sy / 2, sx / 2) unrounded for degradationmapim. For the even sizes that
//    resmaptotim uses (twice the image) all three are the image's (rows, cols).
//  - Eccentricity: ecc = atan(rd / pixdist) in degrees; pixdist is the viewing
//    distance in pixels (the picture is flat, the eye on the perpendicular
//    through the fixated pixel).
//  - Rounding takes halves away from zero.
//  - Polar plot: three planes, at least 376 x 376. Its pixel (200, 200), 1-based,
//    is the fixation; 90 degrees of eccentricity lie 176.2774 plot pixels away;
//    right is right and up is up. Plane 3 (blue) / 255 is the relative
//    sensitivity (1 normal, 0 blind); planes 1 and 2 are not read.
//  - Errors (ocu::Error): a polar plot of the wrong shape, a viewing distance
//    or minimum angle of resolution that is not a positive finite number.
#include <cstddef>

#include "toolkit/array.hpp"

namespace ocu::fixdep {

// Smallest polar plot that every lookup fits into (rows and columns).
inline constexpr std::size_t kPolarMinSize = 376;

// Throws a message naming the size found and the size needed unless `polar`
// has three planes and at least kPolarMinSize rows and columns.
void check_polar_plot(const AnyImage& polar);

// Resolution map of normal vision, `sy` x `sx`, values in (0, 1].
ArrayD standresmap(std::size_t sx, std::size_t sy, double pixdist);

// Visual field from the polar plot `im`, `sy` x `sx`, plane 3 / 255 looked up
// at the plot pixel of each map pixel's direction and eccentricity.
ArrayD degradationmapim(const AnyImage& im, std::size_t sx, std::size_t sy, double pixdist);

// Resolution allowed by a minimum angle of resolution of `minmar` minutes of
// arc, `sy` x `sx`; values above 1 are kept.
ArrayD minresmap(double minmar, std::size_t sx, std::size_t sy, double pixdist);

// The combined map for an image of `sx` columns and `sy` rows: 2*sy x 2*sx,
// element-wise min(standresmap * degradationmapim, minresmap), all three on
// the doubled size. Computed in one pass without the three separate maps.
ArrayD resmaptotim(const AnyImage& im, std::size_t sx, std::size_t sy, double pixdist,
                   double minmar);

}  // namespace ocu::fixdep
