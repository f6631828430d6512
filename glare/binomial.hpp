#pragma once
// Binomial pyramid filters: blur-and-halve and double-and-blur with mirrored
// borders, used to compute the glare veil on a coarse grid.
//
// Shared rules for this header:
//  - Arrays are two-dimensional doubles (one plane), column-major, 0-based here.
//  - Borders are mirrored without repeating the border sample: above/left of
//    sample 0 come samples 1, 2, ...; below/right of sample n-1 come n-2, n-3, ...
//  - The 2-D kernel is the outer product of binomialfilter(5) with itself,
//    (1 4 6 4 1)' (1 4 6 4 1) / 256; it is symmetric, so correlation and
//    convolution with it are the same.
//  - Arrays with fewer than 5 rows or columns are filtered through rconv2's
//    general rule: the smaller argument filters the larger, and an array that is
//    smaller than the kernel in one dimension only is an error.
//  - Results do not depend on the number of threads.
#include <cstddef>
#include <functional>
#include <optional>
#include <utility>

#include "toolkit/array.hpp"

namespace ocu::glare {

inline constexpr const char* kBinomialSizeError = "size argument must be larger than 1";
inline constexpr const char* kRconv2RoleError =
    "one arg must be larger than the other in both dimensions!";

// Column of `sz` binomial weights C(sz-1, i) / 2^(sz-1), i = 0..sz-1.
// Throws "size argument must be larger than 1" for sz < 2.
ArrayD binomialfilter(int sz);

// The 5 x 5 kernel binomialfilter(5) * binomialfilter(5)'.
ArrayD binomial_kernel5();

// Convolution of the larger of a, b with the smaller, the larger extended by
// mirror images of itself; the result has the larger one's size. `ctr` moves
// the split of the border between top/left and bottom/right:
// floor((size + ctr - 1) / 2) samples go below/right.
// Throws "one arg must be larger than the other in both dimensions!" when
// neither argument is at least as large as the other in both dimensions.
ArrayD rconv2(const ArrayD& a, const ArrayD& b, int ctr = 0);

// Blur with the binomial kernel and keep rows 0, 2, 4, ... and columns
// 0, 2, 4, ...: ceil(r/2) x ceil(c/2).
ArrayD corrdnzel(const ArrayD& im);

// Put the samples on the even rows and columns of a 2r x 2c array of zeros
// and blur with twice the binomial kernel: a constant v becomes v / 2.
ArrayD upconvzel(const ArrayD& im);

// corrdnzel `nlevs` times, each result multiplied by 2 (a constant v becomes
// v * 2^nlevs). nlevs <= 0 returns im unchanged.
ArrayD blurdnzel(const ArrayD& im, int nlevs);

// blurdnzel of an array handed over column by column: column(j, buf) returns a
// pointer to the `rows` samples of column j, either its own or `buf` (room for
// `rows` doubles) filled in. It may be called from several threads at once.
using ColumnSource = std::function<const double*(std::size_t, double*)>;
ArrayD blurdnzel_columns(std::size_t rows, std::size_t cols, const ColumnSource& column,
                         int nlevs);

// upconvzel `nlevs` times (a constant v becomes v / 2^nlevs). nlevs <= 0
// returns im unchanged.
ArrayD upblurzel(const ArrayD& im, int nlevs);

// upblurzel(im, nlevs), then, if its rows or columns differ from m x n, the
// nearest-neighbour resize to m x n (imresize_nearest), written into `out`
// (m x n, one plane). The last doubling computes only the samples the resize
// keeps, so no full-size intermediate is made.
void upblurzel_resized(const ArrayD& im, int nlevs, View<double> out);

}  // namespace ocu::glare
