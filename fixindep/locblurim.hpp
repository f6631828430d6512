#pragma once
// Contrast-dependent local blur: the whole image degraded for a visual acuity
// and a contrast sensitivity, independent of where the viewer looks.
//
// Shared rules for this header:
//  - Images are double arrays, rows x cols (gray) or rows x cols x 3 (colour),
//    values nominally 0..1. Any other number of planes, an empty image or a
//    value that is not finite is refused with ocu::Error.
//  - `ac` (the minimum angle of resolution in pixels) must be finite and
//    positive; `ct10` and `ct3`, when given, finite and positive. The widest
//    kernel (the steep kernel of scale 2 ac) must fit the image's limit of
//    blurkernels.hpp (half-width at most 2 * max(rows, cols) + 64); a lower
//    acuity is refused before anything is allocated.
//  - Every band is blurred over the whole plane; the result lies in 0..1 and
//    does not depend on the thread count.
#include <array>
#include <cstddef>
#include <optional>

#include "toolkit/array.hpp"

namespace ocu::fixindep {

// How the blurs are computed: column pass + row pass (fast), or the plain
// two-dimensional correlation with the full kernels (slow, for comparison).
enum class Filtering { Separable, Direct2D };

// Contrast thresholds of bands 1..4: the parabola through the reference points
// (log2 [1, sqrt(10), 10] + 1, log2 [0.93, 0.12, 0.05]) at 1, 2, 3, 4, as powers
// of 2. ct10 replaces the third threshold and moves the middle one by seven
// tenths of that change (in log2); ct3 then replaces the middle one.
std::array<double, 4> band_levels(std::optional<double> ct10 = std::nullopt,
                                  std::optional<double> ct3 = std::nullopt);

// True when `lum` has three planes that are not all equal (plane 1 differs
// from plane 2 or from plane 3 somewhere): the image is then blurred in
// colour. Only a gray image stored as three equal planes is blurred in gray
// mode, from plane 1, with a one-plane result.
bool is_colour(const ArrayD& lum);

// Local root-mean-square contrast of a gray plane: with the Gaussian kernel of
// scale sig, local mean a and local mean square a2, sqrt(max(a2 - a*a, 0)) / (a + 0.01).
ArrayD local_contrast(const ArrayD& bwlum, double sig, Filtering filtering = Filtering::Separable);

// Refuses (ocu::Error) what locblurim would refuse for an image of this size
// before its values are looked at: bad ac, ct10, ct3, plane count, empty size,
// or kernels beyond the image's limit. Cheap; callers use it before preparing input.
void check_locblurim_args(std::size_t rows, std::size_t cols, std::size_t planes, double ac,
                          std::optional<double> ct10 = std::nullopt,
                          std::optional<double> ct3 = std::nullopt);

// locblurim(lum, ac[, ct10[, ct3]]): gray mode gives one plane, colour mode three.
ArrayD locblurim(const ArrayD& lum, double ac, std::optional<double> ct10 = std::nullopt,
                 std::optional<double> ct3 = std::nullopt,
                 Filtering filtering = Filtering::Separable);

}  // namespace ocu::fixindep
