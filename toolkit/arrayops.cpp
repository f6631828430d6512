#include "toolkit/arrayops.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>
#include <variant>

#include "toolkit/parallel.hpp"

namespace ocu {

ArrayU8 to_uint8(const ArrayD& a) {
    ArrayU8 u(a.rows(), a.cols(), a.planes());
    for (std::size_t i = 0; i < a.numel(); ++i) u[i] = to_uint8(a[i]);
    return u;
}

namespace {
template <class F>
ArrayD zip(ArrayD a, const ArrayD& b, F f) {
    if (!a.same_size(b)) throw Error("Arrays must have the same size.");
    for (std::size_t i = 0; i < a.numel(); ++i) a[i] = f(a[i], b[i]);
    return a;
}
// The smaller / larger of two values; a NaN operand yields the other value.
double min2(double x, double y) { return std::isnan(x) ? y : (std::isnan(y) ? x : std::min(x, y)); }
double max2(double x, double y) { return std::isnan(x) ? y : (std::isnan(y) ? x : std::max(x, y)); }
}  // namespace

ArrayD minimum(ArrayD a, double s) {
    for (auto& v : a.span()) v = min2(v, s);
    return a;
}
ArrayD maximum(ArrayD a, double s) {
    for (auto& v : a.span()) v = max2(v, s);
    return a;
}
ArrayD minimum(ArrayD a, const ArrayD& b) { return zip(std::move(a), b, min2); }
ArrayD maximum(ArrayD a, const ArrayD& b) { return zip(std::move(a), b, max2); }

double min_element(const ArrayD& a) {
    double m = std::numeric_limits<double>::quiet_NaN();
    for (double v : a.span()) m = min2(m, v);
    return m;
}

double sum_all(const ArrayD& a) {
    double total = 0.0;
    for (std::size_t p = 0; p < a.planes(); ++p)
        for (std::size_t c = 0; c < a.cols(); ++c) {
            double col = 0.0;
            for (std::size_t r = 0; r < a.rows(); ++r) col += a(r, c, p);
            total += col;
        }
    return total;
}

std::pair<ArrayD, ArrayD> meshgrid(std::size_t n, std::size_t m) {
    ArrayD xs(m, n), ys(m, n);
    for (std::size_t c = 0; c < n; ++c)
        for (std::size_t r = 0; r < m; ++r) {
            xs(r, c) = static_cast<double>(c + 1);
            ys(r, c) = static_cast<double>(r + 1);
        }
    return {std::move(xs), std::move(ys)};
}

namespace {
void check_corr_args(View<const double> x, std::size_t kr, std::size_t kc, View<double> y) {
    if (x.planes != 1 || y.planes != 1) throw Error("Correlation works on 2-D arrays.");
    if (kr % 2 == 0 || kc % 2 == 0) throw Error("Correlation kernels must have odd sizes.");
    if (y.rows != x.rows || y.cols != x.cols) throw Error("Correlation output has the wrong size.");
}

// y(r0..r1, c) += w * x(r0 + off .. r1 + off, cc): the inner loop of both forms.
inline void axpy_column(View<const double> x, std::size_t cc, std::ptrdiff_t off, double w,
                        double* ycol) {
    const std::ptrdiff_t m = static_cast<std::ptrdiff_t>(x.rows);
    const std::ptrdiff_t r0 = std::max<std::ptrdiff_t>(0, -off);
    const std::ptrdiff_t r1 = std::min<std::ptrdiff_t>(m, m - off);
    const double* xc = &x(0, cc);
    if (x.row_stride == 1) {
        for (std::ptrdiff_t r = r0; r < r1; ++r) ycol[r] += w * xc[r + off];
    } else {
        for (std::ptrdiff_t r = r0; r < r1; ++r) ycol[r] += w * xc[(r + off) * x.row_stride];
    }
}
}  // namespace

void correlate_same(View<const double> x, View<const double> k, View<double> y) {
    check_corr_args(x, k.rows, k.cols, y);
    const std::ptrdiff_t hr = static_cast<std::ptrdiff_t>(k.rows / 2);
    const std::ptrdiff_t hc = static_cast<std::ptrdiff_t>(k.cols / 2);
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(x.cols);
    parallel_for(x.cols, [&](std::size_t cb, std::size_t ce) {
        std::vector<double> acc(x.rows);
        for (std::size_t c = cb; c < ce; ++c) {
            std::fill(acc.begin(), acc.end(), 0.0);
            for (std::size_t j = 0; j < k.cols; ++j) {
                const std::ptrdiff_t cc = static_cast<std::ptrdiff_t>(c + j) - hc;
                if (cc < 0 || cc >= n) continue;
                for (std::size_t i = 0; i < k.rows; ++i) {
                    const double w = k(i, j);
                    if (w == 0.0) continue;
                    axpy_column(x, static_cast<std::size_t>(cc), static_cast<std::ptrdiff_t>(i) - hr, w,
                                acc.data());
                }
            }
            for (std::size_t r = 0; r < x.rows; ++r) y(r, c) = acc[r];
        }
    });
}

ArrayD correlate_same(const ArrayD& x, const ArrayD& k) {
    ArrayD y(x.rows(), x.cols());
    correlate_same(x.view(), k.view(), y.view());
    return y;
}

void correlate_same_separable(View<const double> x, std::span<const double> kcol,
                              std::span<const double> krow, View<double> y) {
    check_corr_args(x, kcol.size(), krow.size(), y);
    const std::size_t m = x.rows, n = x.cols;
    ArrayD t(m, n);  // column pass result
    const std::ptrdiff_t hr = static_cast<std::ptrdiff_t>(kcol.size() / 2);
    parallel_for(n, [&](std::size_t cb, std::size_t ce) {
        for (std::size_t c = cb; c < ce; ++c) {
            double* tc = &t(0, c);
            for (std::size_t i = 0; i < kcol.size(); ++i) {
                if (kcol[i] == 0.0) continue;
                axpy_column(x, c, static_cast<std::ptrdiff_t>(i) - hr, kcol[i], tc);
            }
        }
    });
    const std::ptrdiff_t hc = static_cast<std::ptrdiff_t>(krow.size() / 2);
    const View<const double> tv = t.view();
    parallel_for(n, [&](std::size_t cb, std::size_t ce) {
        std::vector<double> acc(m);
        for (std::size_t c = cb; c < ce; ++c) {
            std::fill(acc.begin(), acc.end(), 0.0);
            for (std::size_t j = 0; j < krow.size(); ++j) {
                const std::ptrdiff_t cc = static_cast<std::ptrdiff_t>(c + j) - hc;
                if (cc < 0 || cc >= static_cast<std::ptrdiff_t>(n) || krow[j] == 0.0) continue;
                axpy_column(tv, static_cast<std::size_t>(cc), 0, krow[j], acc.data());
            }
            for (std::size_t r = 0; r < m; ++r) y(r, c) = acc[r];
        }
    });
}

ArrayD correlate_same_separable(const ArrayD& x, std::span<const double> kcol,
                                std::span<const double> krow) {
    ArrayD y(x.rows(), x.cols());
    correlate_same_separable(x.view(), kcol, krow, y.view());
    return y;
}

ArrayD rgb2gray(const ArrayD& x) {
    if (x.planes() != 3) throw Error("rgb2gray needs an image with exactly three planes.");
    ArrayD g(x.rows(), x.cols());
    const std::size_t n = x.rows() * x.cols();
    const double* r = x.data();
    const double* gr = r + n;
    const double* b = gr + n;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = kGrayWeights[0] * r[i] + kGrayWeights[1] * gr[i] + kGrayWeights[2] * b[i];
        g[i] = std::min(std::max(v, 0.0), 1.0);
    }
    return g;
}

std::vector<std::size_t> nearest_indices(std::size_t from, std::size_t to) {
    if (from == 0 || to == 0) throw Error("imresize needs a non-empty array and target size.");
    const double sc = static_cast<double>(from) / static_cast<double>(to) + 2.220446049250313e-16;
    std::vector<std::size_t> idx(to);
    for (std::size_t k = 0; k < to; ++k) {
        // Same sequence as sc/2, sc/2 + sc, ...: the k-th value is sc/2 + k*sc.
        const double v = sc / 2.0 + static_cast<double>(k) * sc;
        std::size_t i = static_cast<std::size_t>(std::floor(v));
        idx[k] = std::min(i, from - 1);
    }
    return idx;
}

double spline3(const std::array<double, 3>& x, const std::array<double, 3>& y, double xq) {
    // Lagrange form of the parabola through the three points.
    const double l0 = (xq - x[1]) * (xq - x[2]) / ((x[0] - x[1]) * (x[0] - x[2]));
    const double l1 = (xq - x[0]) * (xq - x[2]) / ((x[1] - x[0]) * (x[1] - x[2]));
    const double l2 = (xq - x[0]) * (xq - x[1]) / ((x[2] - x[0]) * (x[2] - x[1]));
    return y[0] * l0 + y[1] * l1 + y[2] * l2;
}

namespace {

// The input samples an output pixel covers along one axis of n samples
// resampled to m: output i spans [i*n, (i+1)*n) and input s spans
// [s*m, (s+1)*m) in units of 1/m input samples, so the overlaps are whole
// numbers and the weights (overlap / n) sum to one.
struct AreaTaps {
    std::vector<std::size_t> first;  // per output: its first input sample
    std::vector<std::size_t> start;  // per output: its first weight in `weight`
    std::vector<double> weight;
};

AreaTaps area_taps(std::size_t n, std::size_t m) {
    AreaTaps t;
    t.first.resize(m);
    t.start.resize(m + 1);
    for (std::size_t i = 0; i < m; ++i) {
        const std::size_t lo = i * n, hi = (i + 1) * n;
        t.first[i] = lo / m;
        t.start[i] = t.weight.size();
        for (std::size_t s = lo / m; s * m < hi; ++s) {
            const std::size_t overlap = std::min(hi, (s + 1) * m) - std::max(lo, s * m);
            t.weight.push_back(static_cast<double>(overlap) / static_cast<double>(n));
        }
    }
    t.start[m] = t.weight.size();
    return t;
}

}  // namespace

AnyImage area_mean(const AnyImage& im, std::size_t rows, std::size_t cols) {
    if (rows == 0 || cols == 0) throw Error("The resampled image must have at least one row and one column.");
    if (image_rows(im) == 0 || image_cols(im) == 0) throw Error("An empty image cannot be resampled.");
    if (image_rows(im) == rows && image_cols(im) == cols) return im;
    return std::visit(
        [rows, cols](const auto& a) -> AnyImage {
            using T = typename std::decay_t<decltype(a)>::value_type;
            const std::size_t n = a.rows(), planes = a.planes();
            const AreaTaps across = area_taps(a.cols(), cols), down = area_taps(n, rows);
            Array<T> out(rows, cols, planes);
            // Per output column: the columns it covers combined (whole input
            // columns, contiguous), then the rows.
            parallel_for(planes * cols, [&](std::size_t b, std::size_t e) {
                std::vector<double> column(n);
                for (std::size_t pj = b; pj < e; ++pj) {
                    const std::size_t p = pj / cols, j = pj % cols;
                    std::fill(column.begin(), column.end(), 0.0);
                    for (std::size_t w = across.start[j]; w < across.start[j + 1]; ++w) {
                        const double wt = across.weight[w];
                        const T* in = &a(0, across.first[j] + (w - across.start[j]), p);
                        for (std::size_t r = 0; r < n; ++r) column[r] += wt * static_cast<double>(in[r]);
                    }
                    for (std::size_t i = 0; i < rows; ++i) {
                        double mean = 0;
                        for (std::size_t w = down.start[i]; w < down.start[i + 1]; ++w)
                            mean += down.weight[w] * column[down.first[i] + (w - down.start[i])];
                        if constexpr (std::is_floating_point_v<T>) {
                            out(i, j, p) = mean;
                        } else if constexpr (std::is_same_v<T, Logical>) {
                            out(i, j, p) = mean >= 0.5 ? Logical::True : Logical::False;
                        } else {
                            out(i, j, p) = static_cast<T>(std::round(
                                std::clamp(mean, static_cast<double>(std::numeric_limits<T>::lowest()),
                                           static_cast<double>(std::numeric_limits<T>::max()))));
                        }
                    }
                }
            });
            return out;
        },
        im);
}

}  // namespace ocu
