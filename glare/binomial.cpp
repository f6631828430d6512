#include "glare/binomial.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <numeric>
#include <vector>

#include "toolkit/arrayops.hpp"
#include "toolkit/error.hpp"
#include "toolkit/memory.hpp"
#include "toolkit/parallel.hpp"

namespace ocu::glare {

namespace {

using Index = std::ptrdiff_t;

// (1 4 6 4 1) / 16: binomialfilter(5), all weights exact in binary.
constexpr double kB5[5] = {0.0625, 0.25, 0.375, 0.25, 0.0625};

// Work per thread worth starting one for, in array elements.
constexpr std::size_t kGrainElements = 1 << 15;

std::size_t column_grain(std::size_t rows) {
    return std::max<std::size_t>(1, kGrainElements / std::max<std::size_t>(rows, 1));
}

void require_2d(const ArrayD& a) {
    if (a.planes() != 1) throw Error("The binomial filters work on one plane at a time.");
}

// Mirror of index p (may lie up to 2 outside 0..n-1) for a length-n axis,
// without repeating the border sample.
inline std::size_t mirror2(Index p, Index n) {
    if (p < 0) return static_cast<std::size_t>(-p);
    if (p >= n) return static_cast<std::size_t>(2 * (n - 1) - p);
    return static_cast<std::size_t>(p);
}

// 0-based indices into a large axis of length l that make up its mirrored
// extension for a small axis of length s: 1-based rows s - s2 down to 2, then
// 1..l, then l - 1 down to l - s2, with s2 = floor((s + ctr - 1) / 2).
std::vector<std::size_t> extension_indices(Index l, Index s, int ctr) {
    const Index s2 = static_cast<Index>(std::floor(static_cast<double>(s + ctr - 1) / 2.0));
    std::vector<std::size_t> idx;
    auto push = [&](Index i1) {
        if (i1 < 1 || i1 > l) {
            throw Error("rconv2: the mirrored border needs more samples than the array has.");
        }
        idx.push_back(static_cast<std::size_t>(i1 - 1));
    };
    for (Index i = s - s2; i >= 2; --i) push(i);
    for (Index i = 1; i <= l; ++i) push(i);
    for (Index i = l - 1; i >= l - s2; --i) push(i);
    return idx;
}

// Output columns handled together: their input columns overlap, and the
// intermediate strip of a block stays small enough for the cache.
constexpr std::size_t kBlock = 64;

std::size_t block_grain(std::size_t rows) {
    return std::max<std::size_t>(1, kGrainElements / std::max<std::size_t>(rows * kBlock, 1));
}

// Blur-and-halve for arrays of at least 5 x 5, columns given by `column`, as
// a pass down the columns for the kept rows and a pass along the rows for the
// kept columns, scaled by `scale`. Works in blocks of output columns, each
// with a strip of the intermediate result.
ArrayD corrdn_fast(std::size_t rows, std::size_t cols, const ColumnSource& column, double scale) {
    const Index r = static_cast<Index>(rows), c = static_cast<Index>(cols);
    const Index r2 = (r + 1) / 2, c2 = (c + 1) / 2;
    const std::size_t ur2 = static_cast<std::size_t>(r2);
    // Every element is written below (all blocks of columns, all rows).
    ArrayD out = uninitialized_array(ur2, static_cast<std::size_t>(c2), 1, Pages::Huge);
    const std::size_t nblocks = (static_cast<std::size_t>(c2) + kBlock - 1) / kBlock;
    parallel_for(
        nblocks,
        [&](std::size_t b0, std::size_t e0) {
            std::vector<double> colbuf(rows);
            std::vector<double> strip(ur2 * (2 * kBlock + 3));
            for (std::size_t blk = b0; blk < e0; ++blk) {
                const Index jb = static_cast<Index>(blk * kBlock);
                const Index je = std::min<Index>(c2, jb + static_cast<Index>(kBlock));
                // Input columns 2jb-2 .. 2(je-1)+2, mirrored back into 0..c-1.
                const Index lo = std::max<Index>(0, 2 * jb - 2);
                const Index hi = std::min<Index>(c - 1, 2 * (je - 1) + 2);
                for (Index k = lo; k <= hi; ++k) {
                    const double* col = column(static_cast<std::size_t>(k), colbuf.data());
                    double* dst = strip.data() + static_cast<std::size_t>(k - lo) * ur2;
                    for (Index i = 0; i < r2; ++i) {
                        const Index p = 2 * i;
                        double s;
                        if (p >= 2 && p + 2 < r) {
                            s = kB5[0] * col[p - 2] + kB5[1] * col[p - 1] + kB5[2] * col[p] +
                                kB5[3] * col[p + 1] + kB5[4] * col[p + 2];
                        } else {
                            s = 0.0;
                            for (Index d = -2; d <= 2; ++d)
                                s += kB5[d + 2] * col[mirror2(p + d, r)];
                        }
                        dst[i] = s;
                    }
                }
                for (Index j = jb; j < je; ++j) {
                    const double* src[5];
                    for (Index d = -2; d <= 2; ++d) {
                        const Index k = static_cast<Index>(mirror2(2 * j + d, c));
                        src[d + 2] = strip.data() + static_cast<std::size_t>(k - lo) * ur2;
                    }
                    double* dst = out.data() + static_cast<std::size_t>(j) * ur2;
                    for (Index i = 0; i < r2; ++i) {
                        const double s = kB5[0] * src[0][i] + kB5[1] * src[1][i] +
                                         kB5[2] * src[2][i] + kB5[3] * src[3][i] +
                                         kB5[4] * src[4][i];
                        dst[i] = scale * s;
                    }
                }
            }
        },
        block_grain(rows));
    return out;
}

ColumnSource columns_of(const ArrayD& x) {
    return [&x](std::size_t j, double*) { return x.data() + j * x.rows(); };
}

// One output sample of the zero-interleaved, binomially blurred axis: two or
// three input samples with their weights.
struct Taps {
    std::size_t i[3];
    double w[3];
    int n;
};

// Taps for output index j (0..2n-1) of the doubled axis of an input of length
// n >= 2. The zero-interleaved axis t has t(2i) = x(i); mirroring t at its top
// gives t(-2) = t(2), i.e. x(-1) -> x(1); at its bottom t(2n) = t(2n-2), i.e.
// x(n) -> x(n-1).
Taps up_taps(std::size_t j, std::size_t n) {
    const std::size_t i = j / 2;
    auto hi = [n](std::size_t k) { return k >= n ? n - 1 : k; };
    if (j % 2 == 0) {
        const std::size_t lo = (i == 0) ? 1 : i - 1;
        return Taps{{lo, i, hi(i + 1)}, {0.0625, 0.375, 0.0625}, 3};
    }
    return Taps{{i, hi(i + 1), i}, {0.25, 0.25, 0.0}, 2};
}

// upconvzel(x) sampled at rows ri and columns ci (0-based indices into its
// 2r x 2c result), for inputs of at least 3 x 3, written into out. Works in
// blocks of output columns, each with a strip of row-doubled input columns.
void upconv_fast_sampled(const ArrayD& x, const std::vector<std::size_t>& ri,
                         const std::vector<std::size_t>& ci, View<double> out) {
    const std::size_t r = x.rows(), c = x.cols(), m = ri.size(), n = ci.size();
    std::vector<Taps> rt(m), ct(n);
    for (std::size_t k = 0; k < m; ++k) rt[k] = up_taps(ri[k], r);
    for (std::size_t k = 0; k < n; ++k) ct[k] = up_taps(ci[k], c);
    const std::size_t nblocks = (n + kBlock - 1) / kBlock;
    parallel_for(
        nblocks,
        [&](std::size_t b0, std::size_t e0) {
            std::vector<double> strip;
            for (std::size_t blk = b0; blk < e0; ++blk) {
                const std::size_t jb = blk * kBlock, je = std::min(n, jb + kBlock);
                std::size_t lo = c, hi = 0;
                for (std::size_t j = jb; j < je; ++j)
                    for (int t = 0; t < ct[j].n; ++t) {
                        lo = std::min(lo, ct[j].i[t]);
                        hi = std::max(hi, ct[j].i[t]);
                    }
                strip.resize(m * (hi - lo + 1));
                for (std::size_t k = lo; k <= hi; ++k) {
                    const double* col = x.data() + k * r;
                    double* dst = strip.data() + (k - lo) * m;
                    for (std::size_t q = 0; q < m; ++q) {
                        const Taps& t = rt[q];
                        double s = t.w[0] * col[t.i[0]] + t.w[1] * col[t.i[1]];
                        if (t.n == 3) s += t.w[2] * col[t.i[2]];
                        dst[q] = s;
                    }
                }
                for (std::size_t j = jb; j < je; ++j) {
                    const Taps& t = ct[j];
                    const double* s0 = strip.data() + (t.i[0] - lo) * m;
                    const double* s1 = strip.data() + (t.i[1] - lo) * m;
                    if (t.n == 3) {
                        const double* s2 = strip.data() + (t.i[2] - lo) * m;
                        for (std::size_t q = 0; q < m; ++q)
                            out(q, j) = 2.0 * (t.w[0] * s0[q] + t.w[1] * s1[q] + t.w[2] * s2[q]);
                    } else {
                        for (std::size_t q = 0; q < m; ++q)
                            out(q, j) = 2.0 * (t.w[0] * s0[q] + t.w[1] * s1[q]);
                    }
                }
            }
        },
        block_grain(m));
}

bool up_fast_ok(const ArrayD& x) { return x.rows() >= 3 && x.cols() >= 3; }

// upconvzel through the general mirrored convolution (small arrays).
ArrayD upconv_general(const ArrayD& x) {
    ArrayD t(2 * x.rows(), 2 * x.cols());
    for (std::size_t j = 0; j < x.cols(); ++j)
        for (std::size_t i = 0; i < x.rows(); ++i) t(2 * i, 2 * j) = x(i, j);
    ArrayD y = rconv2(t, binomial_kernel5());
    for (auto& v : y.span()) v *= 2.0;
    return y;
}

std::vector<std::size_t> identity_indices(std::size_t n) {
    std::vector<std::size_t> v(n);
    std::iota(v.begin(), v.end(), std::size_t{0});
    return v;
}

// Indices of the nearest-neighbour resize from `from` to `to`; the identity
// when the sizes agree.
std::vector<std::size_t> resize_indices(std::size_t from, std::size_t to) {
    return from == to ? identity_indices(to) : nearest_indices(from, to);
}

}  // namespace

ArrayD binomialfilter(int sz) {
    if (sz < 2) throw Error(kBinomialSizeError);
    std::vector<double> k = {0.5, 0.5};
    for (int n = 0; n < sz - 2; ++n) {
        std::vector<double> next(k.size() + 1, 0.0);
        for (std::size_t i = 0; i < k.size(); ++i) {
            next[i] += 0.5 * k[i];
            next[i + 1] += 0.5 * k[i];
        }
        k = std::move(next);
    }
    const std::size_t n = k.size();
    return ArrayD(n, 1, 1, std::move(k));
}

ArrayD binomial_kernel5() {
    ArrayD f(5, 5);
    for (std::size_t j = 0; j < 5; ++j)
        for (std::size_t i = 0; i < 5; ++i) f(i, j) = kB5[i] * kB5[j];
    return f;
}

ArrayD rconv2(const ArrayD& a, const ArrayD& b, int ctr) {
    require_2d(a);
    require_2d(b);
    const ArrayD* large;
    const ArrayD* small;
    if (a.rows() >= b.rows() && a.cols() >= b.cols()) {
        large = &a;
        small = &b;
    } else if (a.rows() <= b.rows() && a.cols() <= b.cols()) {
        large = &b;
        small = &a;
    } else {
        throw Error(kRconv2RoleError);
    }
    const Index sy = static_cast<Index>(small->rows()), sx = static_cast<Index>(small->cols());
    const auto rix = extension_indices(static_cast<Index>(large->rows()), sy, ctr);
    const auto cix = extension_indices(static_cast<Index>(large->cols()), sx, ctr);
    const Index er = static_cast<Index>(rix.size()), ec = static_cast<Index>(cix.size());
    const Index orow = std::max<Index>(0, er - sy + 1), ocol = std::max<Index>(0, ec - sx + 1);
    ArrayD out(static_cast<std::size_t>(orow), static_cast<std::size_t>(ocol));
    parallel_for(
        static_cast<std::size_t>(ocol),
        [&](std::size_t b0, std::size_t e0) {
            for (std::size_t j = b0; j < e0; ++j) {
                for (Index i = 0; i < orow; ++i) {
                    double s = 0.0;
                    for (Index v = 0; v < sx; ++v) {
                        const std::size_t lc = cix[j + static_cast<std::size_t>(v)];
                        const std::size_t kc = static_cast<std::size_t>(sx - 1 - v);
                        for (Index u = 0; u < sy; ++u) {
                            s += (*large)(rix[static_cast<std::size_t>(i + u)], lc) *
                                 (*small)(static_cast<std::size_t>(sy - 1 - u), kc);
                        }
                    }
                    out(static_cast<std::size_t>(i), j) = s;
                }
            }
        },
        column_grain(static_cast<std::size_t>(orow * sy * sx)));
    return out;
}

ArrayD corrdnzel(const ArrayD& im) {
    require_2d(im);
    if (im.rows() >= 5 && im.cols() >= 5) return corrdn_fast(im.rows(), im.cols(), columns_of(im), 1.0);
    const ArrayD t = rconv2(im, binomial_kernel5());
    // Keep rows 0, 2, ... below im's row count and likewise for columns; when
    // the kernel was the larger argument, t is the kernel's size.
    const std::size_t r2 = std::min((im.rows() + 1) / 2, (t.rows() + 1) / 2);
    const std::size_t c2 = std::min((im.cols() + 1) / 2, (t.cols() + 1) / 2);
    ArrayD out(r2, c2);
    for (std::size_t j = 0; j < c2; ++j)
        for (std::size_t i = 0; i < r2; ++i) out(i, j) = t(2 * i, 2 * j);
    return out;
}

ArrayD upconvzel(const ArrayD& im) {
    require_2d(im);
    if (!up_fast_ok(im)) return upconv_general(im);
    ArrayD out(2 * im.rows(), 2 * im.cols());
    upconv_fast_sampled(im, identity_indices(out.rows()), identity_indices(out.cols()),
                        out.view());
    return out;
}

ArrayD blurdnzel(const ArrayD& im, int nlevs) {
    require_2d(im);
    return blurdnzel_columns(im.rows(), im.cols(), columns_of(im), nlevs);
}

ArrayD blurdnzel_columns(std::size_t rows, std::size_t cols, const ColumnSource& column,
                         int nlevs) {
    ArrayD res;
    int done = 0;
    if (nlevs >= 1 && rows >= 5 && cols >= 5) {
        // The first level reads the columns directly; no full-size copy.
        res = corrdn_fast(rows, cols, column, 2.0);
        done = 1;
    } else {
        res = ArrayD(rows, cols);
        std::vector<double> buf(rows);
        for (std::size_t j = 0; j < cols; ++j) {
            const double* col = column(j, buf.data());
            std::copy(col, col + rows, res.data() + j * rows);
        }
    }
    for (int i = done; i < nlevs; ++i) {
        if (res.rows() >= 5 && res.cols() >= 5) {
            res = corrdn_fast(res.rows(), res.cols(), columns_of(res), 2.0);
        } else {
            res = corrdnzel(res);
            for (auto& v : res.span()) v *= 2.0;
        }
    }
    return res;
}

ArrayD upblurzel(const ArrayD& im, int nlevs) {
    require_2d(im);
    ArrayD res = im;
    for (int i = 0; i < nlevs; ++i) res = upconvzel(res);
    return res;
}

void upblurzel_resized(const ArrayD& im, int nlevs, View<double> out) {
    require_2d(im);
    if (out.planes != 1) throw Error("The binomial filters work on one plane at a time.");
    const std::size_t m = out.rows, n = out.cols;
    auto sample_into = [&](const ArrayD& full) {
        const auto ri = resize_indices(full.rows(), m);
        const auto ci = resize_indices(full.cols(), n);
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t i = 0; i < m; ++i) out(i, j) = full(ri[i], ci[j]);
    };
    if (nlevs <= 0) {
        sample_into(im);
        return;
    }
    const ArrayD last = upblurzel(im, nlevs - 1);
    if (!up_fast_ok(last)) {
        sample_into(upconv_general(last));
        return;
    }
    upconv_fast_sampled(last, resize_indices(2 * last.rows(), m),
                        resize_indices(2 * last.cols(), n), out);
}

}  // namespace ocu::glare
