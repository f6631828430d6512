#pragma once
// Fast same-size correlation of one plane with a symmetric outer-product kernel.
//
// The kernel is k(i, j) = p(i) * p(j) with a symmetric profile p of length 2w+1,
// given here as its half h: h[0] is the centre weight and h[k] the weight at
// offsets -k and +k. Values outside the plane count as 0, as in
// ocu::correlate_same; the result equals that two-dimensional correlation up
// to rounding.
//
// The work is a column pass (along each column, contiguous in memory) into a
// scratch plane with w zero columns on either side, then a row pass over
// strips of rows. Each output value is computed by the same sequence of
// operations however the work is split, so results do not depend on the
// thread count.
#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "toolkit/array.hpp"
#include "toolkit/parallel.hpp"

namespace ocu::fixindep {

// Scratch space for one plane, reusable for filters of any half-width up to
// the one it was made for.
class SymFilterScratch {
public:
    SymFilterScratch(std::size_t rows, std::size_t cols, std::size_t max_halfwidth);
    std::size_t rows() const { return rows_; }
    std::size_t cols() const { return cols_; }
    std::size_t max_halfwidth() const { return pad_; }
    // Start of column c (may be -pad .. cols+pad-1) of the padded scratch plane.
    double* column(std::ptrdiff_t c) const {
        return data_.get() + static_cast<std::ptrdiff_t>(rows_) * (c + static_cast<std::ptrdiff_t>(pad_));
    }

private:
    std::size_t rows_, cols_, pad_;
    // Only the padding columns are set (to zero) here; the column pass writes
    // the rest, touching the memory first from the threads that use it.
    struct Free {
        void operator()(double* p) const;
    };
    std::unique_ptr<double[], Free> data_;
};

// out[s] = h[0]*c[s] + sum over k = 1..w of h[k]*(c[s - k*stride] + c[s + k*stride]),
// for s = 0..len-1, with w = h.size() - 1. Every element read must exist.
void symmetric_taps(const double* c, std::ptrdiff_t stride, std::size_t len,
                    std::span<const double> h, double* out);

// The same for three profiles over one contiguous run (stride 1), with
// results identical to three symmetric_taps calls; faster when the profiles'
// half-widths ascend, since the data is then read once for all three.
void symmetric_taps3(const double* c, std::size_t len, const std::array<std::span<const double>, 3>& h,
                     const std::array<double*, 3>& out);

// Whether the AVX2 form of the filter loop may be used (it is when the
// processor has AVX2 and FMA). Tests switch it off to check the plain form.
void allow_vector_filter(bool allow);

// The row pass works on strips of rows. Narrow kernels filter the strip in
// place, reading each column's slice of the strip (strip_rows = 32, so the
// slices of the 2w+1 columns in reach stay in the first-level cache). Wider
// kernels copy the strip into rows that are contiguous in memory first, so the
// filter slides along contiguous data like the column filter (strip_rows = 8).
// The choice depends on the half-width only, never on the thread count.
inline constexpr std::size_t kNarrowKernel = 24;
inline std::size_t strip_rows(std::size_t max_halfwidth) { return max_halfwidth <= kNarrowKernel ? 32 : 8; }

// Work space of one thread for the row pass of a scratch plane.
class RowBlock {
public:
    RowBlock(const SymFilterScratch& scratch, std::size_t strip);
    // Filters rows r0..r0+len-1 (len <= strip) of the scratch plane along the
    // rows: out[c * strip + s] for s < len and every column c.
    void filter(const SymFilterScratch& scratch, std::span<const double> h, std::size_t r0,
                std::size_t len, double* out);

private:
    std::size_t strip_, ld_;      // ld_ = cols + 2 * max half-width
    std::vector<double> rows_;    // `strip_` padded rows, padding kept at zero
    std::vector<double> result_;  // filtered rows, strip_ x cols
};

// Column pass: filters each column of a plane into the scratch plane.
// load(c, buf) writes the rows x 1 input column c into buf[0..rows).
template <class Load>
void column_pass(std::span<const double> h, SymFilterScratch& scratch, Load&& load) {
    const std::size_t w = h.size() - 1, m = scratch.rows();
    parallel_for(scratch.cols(), [&](std::size_t cb, std::size_t ce) {
        std::vector<double> buf(m + 2 * w, 0.0);  // w zeros at both ends
        for (std::size_t c = cb; c < ce; ++c) {
            load(c, buf.data() + w);
            symmetric_taps(buf.data() + w, 1, m, h, scratch.column(static_cast<std::ptrdiff_t>(c)));
        }
    });
}

// Row pass over strips of rows of the scratch plane (whose zero columns are
// the border). sink(r0, len, c, acc) receives the results of rows r0..r0+len-1
// of column c.
template <class Sink>
void row_pass(std::span<const double> h, SymFilterScratch& scratch, Sink&& sink) {
    const std::size_t m = scratch.rows(), n = scratch.cols();
    const std::size_t strip = strip_rows(h.size() - 1);
    const std::size_t nstrips = (m + strip - 1) / strip;
    parallel_for(nstrips, [&](std::size_t sb, std::size_t se) {
        RowBlock block(scratch, strip);
        std::vector<double> out(strip * n);
        for (std::size_t st = sb; st < se; ++st) {
            const std::size_t r0 = st * strip;
            const std::size_t len = std::min(strip, m - r0);
            block.filter(scratch, h, r0, len, out.data());
            for (std::size_t c = 0; c < n; ++c) sink(r0, len, c, static_cast<const double*>(out.data() + c * strip));
        }
    });
}

// y = x correlated with the kernel of half profile h (zero border). x and y
// are 2-D views of one size; y may not overlap x. `scratch` must match x's size
// and allow h.size() - 1 as half-width.
void symfilter(View<const double> x, std::span<const double> h, View<double> y,
               SymFilterScratch& scratch);
ArrayD symfilter(View<const double> x, std::span<const double> h);

}  // namespace ocu::fixindep
