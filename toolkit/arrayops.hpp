#pragma once
// Numeric array operations the simulations are written against.
//
// Shared rules for this header:
//  - Arrays are column-major (see array.hpp); indices here are 0-based.
//  - Rounding takes halves away from zero: round(2.5) = 3, round(-2.5) = -3.
//  - Conversion to uint8 rounds that way, then saturates at 0 and 255 (NaN gives 0).
//  - Operations return new arrays; view-taking kernels write into a caller-owned
//    output of the same size as their input.
//  - Results do not depend on the number of threads.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "toolkit/array.hpp"

namespace ocu {

inline double round_half_away(double x) { return std::round(x); }

inline std::uint8_t to_uint8(double x) {
    if (!(x > 0.0)) return 0;  // also NaN
    const double r = std::round(x);
    return r >= 255.0 ? std::uint8_t{255} : static_cast<std::uint8_t>(r);
}

ArrayU8 to_uint8(const ArrayD& a);

template <class T>
ArrayD to_double(const Array<T>& a) {
    ArrayD d(a.rows(), a.cols(), a.planes());
    for (std::size_t i = 0; i < a.numel(); ++i) d[i] = static_cast<double>(a[i]);
    return d;
}

// Element-wise minimum / maximum with a scalar, or of two arrays of one size.
ArrayD minimum(ArrayD a, double s);
ArrayD maximum(ArrayD a, double s);
ArrayD minimum(ArrayD a, const ArrayD& b);
ArrayD maximum(ArrayD a, const ArrayD& b);
// Smallest element (NaN elements are skipped; an empty array gives NaN).
double min_element(const ArrayD& a);
// Sum of all elements, summed column by column and then over the column sums.
double sum_all(const ArrayD& a);

// Grid of coordinates over 1..n (columns) and 1..m (rows): two m x n arrays,
// the first holding the column number, the second the row number (1-based values).
std::pair<ArrayD, ArrayD> meshgrid(std::size_t n, std::size_t m);

// Same-size correlation with a zero border: y(r, c) = sum over i, j of
// k(i, j) * x(r + i - (kr - 1)/2, c + j - (kc - 1)/2), elements outside x count
// as 0. x, k and y are 2-D; kernel extents must be odd; y has x's size.
void correlate_same(View<const double> x, View<const double> k, View<double> y);
ArrayD correlate_same(const ArrayD& x, const ArrayD& k);

// The same correlation for an outer-product kernel k(i, j) = kcol[i] * krow[j],
// as a column pass and a row pass. Equal to the 2-D form up to rounding.
void correlate_same_separable(View<const double> x, std::span<const double> kcol,
                              std::span<const double> krow, View<double> y);
ArrayD correlate_same_separable(const ArrayD& x, std::span<const double> kcol,
                                std::span<const double> krow);

// Gray value of a three-plane double image with the weights
// (0.298936021293775, 0.587043074451121, 0.114020904255103), clipped to 0..1.
inline constexpr std::array<double, 3> kGrayWeights = {0.298936021293775, 0.587043074451121,
                                                       0.114020904255103};
ArrayD rgb2gray(const ArrayD& x);

// The image resampled to rows x cols by area: element (r, c, p) is the mean
// of plane p over the part of the image that output pixel covers (an output
// pixel spans rows/`rows` input rows and cols/`cols` input columns; input
// pixels it covers in part count with the part covered). Reducing by a whole
// factor k gives the means of the k x k blocks. Rounded (halves away from
// zero) for integer samples, a logical one true when the mean is at least
// one half. The same size gives the image itself.
AnyImage area_mean(const AnyImage& im, std::size_t rows, std::size_t cols);

// Nearest-neighbour resize to m x n: output row k (0-based) reads input row
// floor((k + 0.5) * sc) with sc = rows / m + 2^-52 (likewise for columns).
std::vector<std::size_t> nearest_indices(std::size_t from, std::size_t to);
template <class T>
Array<T> imresize_nearest(const Array<T>& a, std::size_t m, std::size_t n) {
    const auto ri = nearest_indices(a.rows(), m);
    const auto ci = nearest_indices(a.cols(), n);
    Array<T> out(m, n, a.planes());
    for (std::size_t p = 0; p < a.planes(); ++p)
        for (std::size_t c = 0; c < n; ++c)
            for (std::size_t r = 0; r < m; ++r) out(r, c, p) = a(ri[r], ci[c], p);
    return out;
}

// The not-a-knot cubic spline through three points, i.e. the parabola through
// them, evaluated at xq. The x values must be distinct.
double spline3(const std::array<double, 3>& x, const std::array<double, 3>& y, double xq);

}  // namespace ocu
