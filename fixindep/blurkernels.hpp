#pragma once
// Blur kernels of the contrast-dependent local blur, and blurring with them.
//
// Shared rules for this header:
//  - A kernel is a square matrix of side 2w+1, centred, symmetric in both axes
//    and under transposition: the outer product of a profile ys (length 2w+1)
//    with itself, divided by the sum of all its elements (so it sums to 1).
//  - The half-width is w = round(3.5 s + 0.5), halves away from zero, s the
//    scale of the widest Gaussian in the kernel.
//  - A scale must be a finite number of at least kMinBlurScale pixels;
//    anything else (0, negative, NaN, infinite, or so small that its square
//    underflows) is refused with ocu::Error instead of giving a kernel of NaN.
//  - Size limits, so that a huge scale gives an error and never an enormous
//    allocation or an endless computation:
//      * a two-dimensional kernel has at most half-width kMaxKernelHalfWidth2D;
//      * a profile has at most half-width kMaxProfileHalfWidth;
//      * blurring an image of R x C pixels allows at most half-width
//        max_blur_halfwidth(R, C) = 2 * max(R, C) + 64. Beyond the image's
//        larger side every output pixel already sees every input pixel, so a
//        wider kernel only spreads the image into a near-constant haze.
//  - Blurring is the same-size correlation with a zero border. The "fast"
//    forms filter with the normalised profile ys / sum(ys) as a column pass and
//    a row pass; the "2d" forms correlate with the full kernel. Both agree up
//    to rounding. Results do not depend on the thread count.
#include <cstddef>
#include <vector>

#include "toolkit/array.hpp"

namespace ocu::fixindep {

inline constexpr double kMinBlurScale = 1e-100;
inline constexpr std::size_t kMaxKernelHalfWidth2D = 1024;
inline constexpr std::size_t kMaxProfileHalfWidth = std::size_t{1} << 22;

// Normal density with mean m and standard deviation s, element by element:
// (1/sqrt(2))/sqrt(pi)/s * exp(-0.5 (x - m)^2 / s^2). s must be finite and
// positive with a square that does not underflow.
double gauss(double x, double m, double s);
ArrayD gauss(const ArrayD& x, double m, double s);

// round(3.5 s + 0.5) for a valid scale s (see above), as a double so that
// absurd scales can be compared against the limits before any allocation.
double blur_halfwidth(double s);

// The largest half-width allowed when blurring an image of rows x cols.
std::size_t max_blur_halfwidth(std::size_t rows, std::size_t cols);

// Normalised Gaussian kernel of standard deviation sig, side 2w+1 with
// w = round(3.5 sig + 0.5).
ArrayD gaussblurkern(double sig);

// Normalised kernel with a steeper cut-off than a Gaussian: the profile is
// 2 gauss(x, 0, sig) - gauss(x, 0, sqrt(2) sig), with w = round(3.5 sqrt(2) sig + 0.5).
ArrayD steepblurkern(double sig);

// The profiles of the two kernels divided by their sum (length 2w+1, sums to
// 1 up to rounding); the kernel is their outer product with themselves.
std::vector<double> gaussblurprofile(double sig);
std::vector<double> steepblurprofile(double sig);

// The half (centre first, then one side) of the normalised profile used to
// blur an image of rows x cols, refused when the kernel exceeds the image's limit.
enum class BlurKind { Gauss, Steep };
std::vector<double> half_profile_for_image(BlurKind kind, double sig, std::size_t rows,
                                           std::size_t cols);

// Blurs one plane (2-D) with steepblurkern(sig); result of the plane's size.
ArrayD steepblurfast(const ArrayD& im, double sig);
ArrayD steepblurfast(View<const double> im, double sig);
// The same with the two-dimensional kernel (slow; for comparison).
ArrayD steepblur2d(View<const double> im, double sig);

// Blurs one plane with gaussblurkern(sig), fast and two-dimensional forms.
ArrayD gaussblurfast(View<const double> im, double sig);
ArrayD gaussblur2d(View<const double> im, double sig);

}  // namespace ocu::fixindep
