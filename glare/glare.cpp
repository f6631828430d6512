#include "glare/glare.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <mutex>
#include <numbers>
#include <type_traits>
#include <variant>
#include <vector>

#include "glare/binomial.hpp"
#include "toolkit/error.hpp"
#include "toolkit/memory.hpp"
#include "toolkit/parallel.hpp"
#include "toolkit/pixel_rows.hpp"
#include "toolkit/viewing.hpp"

namespace ocu::glare {

namespace {

constexpr std::size_t kGrain = 1 << 15;

void require_glare_image(std::size_t rows, std::size_t cols, std::size_t planes) {
    if (rows == 0 || cols == 0) throw Error("The glare simulation needs a non-empty image.");
    if (planes != 1 && planes != 3) {
        throw Error("The glare simulation needs a gray or a three-plane colour image, not one with " +
                    std::to_string(planes) + " planes.");
    }
}

// x^p, with the common exponents done exactly as multiplications / roots.
inline double raise(double x, double p) {
    if (p == 2.0) return x * x;
    if (p == 1.0) return x;
    return std::pow(x, p);
}

// Linear light of a stored image, element by element: sample^powcam. Samples
// of at most 8 bits go through a table of the 256 possible values.
class LinearLight {
public:
    LinearLight(const AnyImage& im, double powcam) : im_(im), powcam_(powcam) {
        if (std::holds_alternative<ArrayU8>(im) || std::holds_alternative<ArrayL>(im)) {
            for (int v = 0; v < 256; ++v) table_[static_cast<std::size_t>(v)] = raise(v, powcam);
        }
    }
    // Calls f(i, sample^powcam) for i in [b, e), i the column-major element index.
    template <class F>
    void each(std::size_t b, std::size_t e, F&& f) const {
        std::visit(
            [&](const auto& a) {
                using T = typename std::decay_t<decltype(a)>::value_type;
                const T* d = a.data();
                if constexpr (std::is_same_v<T, std::uint8_t>) {
                    for (std::size_t i = b; i < e; ++i) f(i, table_[d[i]]);
                } else if constexpr (std::is_same_v<T, Logical>) {
                    for (std::size_t i = b; i < e; ++i)
                        f(i, table_[static_cast<std::size_t>(d[i])]);
                } else {
                    for (std::size_t i = b; i < e; ++i) f(i, raise(static_cast<double>(d[i]), powcam_));
                }
            },
            im_);
    }

    // The samples of an 8-bit image (else null) and their linear light by value.
    const std::uint8_t* bytes() const {
        const auto* a = std::get_if<ArrayU8>(&im_);
        return a ? a->data() : nullptr;
    }
    const double* table() const { return table_.data(); }

private:
    const AnyImage& im_;
    double powcam_;
    std::array<double, 256> table_{};
};

// Largest of a and b, NaN counting as missing (NaN only when both are).
inline double max_skip_nan(double a, double b) {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    return b > a ? b : a;
}

// Cosine of 1e-3 radians: above it the angle between two directions is taken
// from their cross product.
constexpr double kSmallAngleCos = 0.9999995;

// Elements handled per step of the inner loops.
constexpr std::size_t kStep = 512;

// How display values come from linear light: u^(1/powmon).
enum class Display { Sqrt, Identity, Pow };

// Columns of the bands in which a result goes to a caller's layout.
constexpr std::size_t kBandCols = 8;

// Columns c0 .. c1 - 1 of a band (`planes` planes of kBandCols columns of
// `rows` elements, column-major), from row r0 on, into `to` at column `at`.
void place_band(const double* band, std::size_t rows, std::size_t planes, std::size_t r0, std::size_t c0,
                std::size_t c1, const View<double>& to, std::size_t at) {
    for (std::size_t r = r0; r < rows; ++r)
        for (std::size_t c = c0; c < c1; ++c)
            for (std::size_t p = 0; p < planes; ++p) to(r, at + c, p) = band[(p * kBandCols + c) * rows + r];
}

#if defined(__x86_64__) && defined(__GNUC__)
// GCC 12 takes the deliberately undefined lanes inside some AVX-512
// intrinsics for uninitialised variables.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// Display values of a band of 8 columns of an 8-bit image, rows 0 .. rows8 - 1
// (a multiple of 8), straight into rows of pixels: per block of 8 x 8, the
// same operations as the element-by-element pass (table, k * dim added, square
// root or not, divided by mx; no fused multiply-add), transposed and woven in
// registers and streamed out, so that the stores overlap the divisions.
// `first` is the band's first element of plane 0.
template <std::size_t Planes>
__attribute__((target("avx512f"))) void display_band_blocks(const std::uint8_t* bytes, const double* table,
                                                            const double* dim, std::size_t first,
                                                            std::size_t plane, std::size_t rows, std::size_t rows8,
                                                            double k, double mx, bool sqrt_mode, double* to,
                                                            std::size_t row_stride) {
    const __m512d kv = _mm512_set1_pd(k), mv = _mm512_set1_pd(mx);
    for (std::size_t rb = 0; rb < rows8; rb += 8) {
        __m512d v[Planes][8];
        for (std::size_t p = 0; p < Planes; ++p) {
            for (std::size_t i = 0; i < 8; ++i) {
                const std::size_t at = first + p * plane + i * rows + rb;
                const __m512i idx = _mm512_cvtepu8_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + at)));
                const __m512d u = _mm512_add_pd(_mm512_i64gather_pd(idx, table, 8),
                                                _mm512_mul_pd(kv, _mm512_loadu_pd(dim + at)));
                v[p][i] = _mm512_div_pd(sqrt_mode ? _mm512_sqrt_pd(u) : u, mv);
            }
            simd::transpose8(v[p]);
        }
        simd::store_rows<Planes>(v, to + rb * row_stride, row_stride);
    }
    _mm_sfence();  // the streamed stores are seen before the threads join
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

// imt = (im^powcam + k dim)^(1/powmon), then divided by its largest element
// (an all-zero imt stays all zero). Returns the largest element. With `into`
// (the image's extents, any strides) the values go there and imt stays empty.
//
// For the square root and the identity, which keep order, the largest
// element is the display value of the largest linear sum, so one pass finds
// that sum and a second writes the final values; into a caller's layout, the
// second pass works in bands of kBandCols columns, computed column-major as
// always and placed while they are in the cache (rows of pixels, as NumPy
// keeps images, through the processor's 8 x 8 transposes where it has them).
// Other exponents store the display values first and divide them in a second
// pass.
double compose(const AnyImage& im, double k, const ArrayD& dim, double powcam, double powmon,
               ArrayD& imt, const View<double>* into = nullptr) {
    const LinearLight lin(im, powcam);
    const double e = 1.0 / powmon;
    const Display mode = e == 0.5 ? Display::Sqrt : e == 1.0 ? Display::Identity : Display::Pow;
    if (into && mode == Display::Pow) {
        // Computed as below, then placed (the same values, whatever the layout).
        const double mx = compose(im, k, dim, powcam, powmon, imt);
        const View<const double> from(imt.data(), imt.rows(), imt.cols(), imt.planes());
        parallel_for(into->cols, [&](std::size_t c0, std::size_t c1) {
            for (std::size_t p = 0; p < into->planes; ++p)
                for (std::size_t c = c0; c < c1; ++c)
                    for (std::size_t r = 0; r < into->rows; ++r) (*into)(r, c, p) = from(r, c, p);
        });
        imt = ArrayD();
        return mx;
    }
    const std::size_t rows = dim.rows(), cols = dim.cols(), planes = dim.planes();
    if (!into) imt = uninitialized_array(rows, cols, planes, Pages::Huge);  // written whole below
    const double* dv = dim.data();
    // Written in place: the array's or a column-major caller's.
    double* o = !into ? imt.data() : into->contiguous() ? into->data : nullptr;
    const std::size_t n = rows * cols * planes;
    std::mutex lock;

    // u = im^powcam + k dim for elements [b, b + len), into u.
    auto linear_sum = [&](std::size_t b, std::size_t len, double* u) {
        lin.each(b, b + len, [&](std::size_t i, double v) { u[i - b] = v; });
        const double* d = dv + b;
        for (std::size_t i = 0; i < len; ++i) u[i] = u[i] + k * d[i];
    };

    double mx = std::numeric_limits<double>::quiet_NaN();
    if (mode != Display::Pow) {
        double umax = -std::numeric_limits<double>::infinity();
        parallel_for(
            n, [&](std::size_t b, std::size_t end) {
                double u[kStep];
                // Four running maxima, so that the comparisons do not wait on
                // each other; NaN never compares greater and is skipped.
                double m[4];
                std::fill(m, m + 4, -std::numeric_limits<double>::infinity());
                for (std::size_t s = b; s < end; s += kStep) {
                    const std::size_t len = std::min(kStep, end - s);
                    linear_sum(s, len, u);
                    std::size_t i = 0;
                    for (; i + 4 <= len; i += 4)
                        for (std::size_t q = 0; q < 4; ++q) m[q] = u[i + q] > m[q] ? u[i + q] : m[q];
                    for (; i < len; ++i) m[0] = u[i] > m[0] ? u[i] : m[0];
                }
                const std::lock_guard<std::mutex> g(lock);
                for (double mq : m) umax = std::max(umax, mq);
            },
            kGrain);
        // -inf: no element above -inf (all NaN or -inf); NaN is the answer either way
        // after the division, so report NaN like the pass below would.
        if (umax == -std::numeric_limits<double>::infinity()) {
            mx = std::numeric_limits<double>::quiet_NaN();
        } else {
            mx = mode == Display::Sqrt ? std::sqrt(umax) : umax;
        }
        const bool zero = (mx == 0.0);
        // The display values of elements [s, s + len) into out.
        auto display = [&](std::size_t s, std::size_t len, double* out) {
            if (zero) {  // a black scene stays black instead of 0/0
                std::fill(out, out + len, 0.0);
                return;
            }
            double u[kStep];
            linear_sum(s, len, u);
            if (mode == Display::Sqrt) {
                for (std::size_t i = 0; i < len; ++i) out[i] = std::sqrt(u[i]) / mx;
            } else {
                for (std::size_t i = 0; i < len; ++i) out[i] = u[i] / mx;
            }
        };
        if (o) {
            parallel_for(
                n, [&](std::size_t b, std::size_t end) {
                    for (std::size_t s = b; s < end; s += kStep) display(s, std::min(kStep, end - s), o + s);
                },
                kGrain);
            return mx;
        }
        const View<double>& to = *into;
        // Rows of pixels with each pixel's planes together, whole blocks of 8 x 8.
        const bool blocks = simd::has_avx512() && to.plane_stride == 1 &&
                            to.col_stride == static_cast<std::ptrdiff_t>(planes) && (planes == 1 || planes == 3);
        const std::size_t rows8 = blocks ? rows / 8 * 8 : 0;
        const std::uint8_t* bytes = lin.bytes();
        const bool fused = blocks && bytes != nullptr && !zero;
        parallel_for((cols + kBandCols - 1) / kBandCols, [&](std::size_t b0, std::size_t b1) {
            std::vector<double> band(planes * kBandCols * rows);
            for (std::size_t b = b0; b < b1; ++b) {
                const std::size_t c0 = b * kBandCols, width = std::min(cols, c0 + kBandCols) - c0;
#if defined(__x86_64__) && defined(__GNUC__)
                // 8-bit samples in whole blocks: computed and placed in registers.
                if (fused && width == kBandCols) {
                    double* at = &to(0, c0, 0);
                    const auto stride = static_cast<std::size_t>(to.row_stride);
                    const bool root = mode == Display::Sqrt;
                    if (planes == 3) {
                        display_band_blocks<3>(bytes, lin.table(), dv, c0 * rows, rows * cols, rows, rows8, k, mx,
                                               root, at, stride);
                    } else {
                        display_band_blocks<1>(bytes, lin.table(), dv, c0 * rows, rows * cols, rows, rows8, k, mx,
                                               root, at, stride);
                    }
                    for (std::size_t p = 0; p < planes; ++p)
                        for (std::size_t c = 0; c < width; ++c) {
                            const std::size_t from = (p * cols + c0 + c) * rows;
                            display(from + rows8, rows - rows8, band.data() + (p * kBandCols + c) * rows + rows8);
                        }
                    place_band(band.data(), rows, planes, rows8, 0, width, to, c0);
                    continue;
                }
#endif
                // Plane p's columns c0 .. c0 + width - 1 are one run of elements.
                for (std::size_t p = 0; p < planes; ++p) {
                    const std::size_t first = (p * cols + c0) * rows, count = width * rows;
                    double* out = band.data() + p * kBandCols * rows;
                    for (std::size_t s = 0; s < count; s += kStep)
                        display(first + s, std::min(kStep, count - s), out + s);
                }
                const std::size_t whole = width == kBandCols ? rows8 : 0;  // rows placed in blocks
                if (whole > 0) {
                    double* at = &to(0, c0, 0);
                    const auto stride = static_cast<std::size_t>(to.row_stride);
                    if (planes == 3) simd::to_pixel_rows<3>(band.data(), rows, kBandCols * rows, 0, whole, kBandCols, at, stride);
                    else simd::to_pixel_rows<1>(band.data(), rows, kBandCols * rows, 0, whole, kBandCols, at, stride);
                }
                place_band(band.data(), rows, planes, whole, 0, width, to, c0);
            }
        });
        return mx;
    }

    parallel_for(
        n, [&](std::size_t b, std::size_t end) {
            double u[kStep];
            double m = std::numeric_limits<double>::quiet_NaN();
            for (std::size_t s = b; s < end; s += kStep) {
                const std::size_t len = std::min(kStep, end - s);
                linear_sum(s, len, u);
                for (std::size_t i = 0; i < len; ++i) {
                    o[s + i] = std::pow(u[i], e);
                    m = max_skip_nan(m, o[s + i]);
                }
            }
            const std::lock_guard<std::mutex> g(lock);
            mx = max_skip_nan(mx, m);
        },
        kGrain);
    if (mx == 0.0) {  // a black scene stays black instead of 0/0
        std::fill(imt.span().begin(), imt.span().end(), 0.0);
        return mx;
    }
    parallel_for(
        n, [&](std::size_t b, std::size_t end) {
            for (std::size_t i = b; i < end; ++i) o[i] = o[i] / mx;
        },
        kGrain);
    return mx;
}

}  // namespace

GlareLevels glare_levels(std::size_t sx, std::size_t sy, double width) {
    if (sx == 0 || sy == 0) throw Error("The glare simulation needs a non-empty image.");
    GlareLevels g;
    const double dsx = static_cast<double>(sx), dsy = static_cast<double>(sy);
    g.pixdist = viewing::viewing_distance(sx, width);
    g.nos = std::log(192.0) / std::log(2.0);
    const double log2n = std::log(dsx * dsy) / std::log(2.0);
    g.imSubSample = static_cast<int>(std::round((log2n - g.nos) / 2.0));
    g.nob = g.imSubSample + 1;
    g.fdist = dsx / g.pixdist;
    return g;
}

ArrayD glare_veil_coarse(const ArrayD& lum, double ff, int nob) {
    const std::size_t syn = lum.rows(), sxn = lum.cols(), np = lum.planes();
    const std::size_t n = syn * sxn;
    ArrayD ws(syn, sxn, np);
    if (n == 0) return ws;

    // The eye in the image plane (ff 0): the axis has no length and no source
    // any weight.
    if (ff == 0.0) return ws;
    // Below kMinFf the veil no longer changes within double precision (the
    // light of sources in line with the eye's foot dominates and has reached
    // its limit, the rest falls with ff^2), while squared angles and weights
    // would underflow to 0/0; so smaller ff are computed as kMinFf.
    constexpr double kMinFf = 1e-60;
    const double ffe = std::max(ff, kMinFf);

    // Coarse pixel (column x, row y), 1-based, lies at (x, y, 0); the eye is in
    // front of the image centre at the distance ff * sxn; the axis vector uses
    // the row count, and lene is the eye's distance from the origin.
    const double ex = (static_cast<double>(sxn) + 1.0) / 2.0;
    const double ey = (static_cast<double>(syn) + 1.0) / 2.0;
    const double ez = -ffe * static_cast<double>(sxn);
    const double vez = ffe * static_cast<double>(syn);
    const double lene = std::sqrt(ex * ex + ey * ey + ez * ez);
    const double nob2 = static_cast<double>(nob) * static_cast<double>(nob);

    // Per pixel: the vector from the eye, its length, and its weight as a source
    // (which does not depend on the target).
    std::vector<double> vx(n), vy(n), vz(n), len(n), da(n);
    for (std::size_t l = 0; l < sxn; ++l) {
        for (std::size_t m = 0; m < syn; ++m) {
            const std::size_t s = l * syn + m;
            vx[s] = static_cast<double>(l + 1) - ex;
            vy[s] = static_cast<double>(m + 1) - ey;
            vz[s] = 0.0 - ez;
            len[s] = std::sqrt(vx[s] * vx[s] + vy[s] * vy[s] + vz[s] * vz[s]);
            const double cs2 = (vz[s] * vez) / lene / len[s];
            da[s] = std::abs(cs2 / len[s] / len[s]) * nob2;
        }
    }

    const double* lv = lum.data();
    double* wv = ws.data();
    parallel_for(
        n,
        [&](std::size_t b, std::size_t e) {
            std::vector<double> theta2(n);
            for (std::size_t t = b; t < e; ++t) {
                const double fx = vx[t], fy = vy[t], fz = vz[t], lenf = len[t];
                for (std::size_t s = 0; s < n; ++s) {
                    if (s == t) {
                        theta2[s] = 0.0;
                        continue;
                    }
                    double cs = (vx[s] * fx + vy[s] * fy + vz[s] * fz) / lenf / len[s];
                    double theta;
                    if (cs < kSmallAngleCos) {
                        // Rounding can push the cosine of an angle near 180 degrees past -1.
                        cs = std::clamp(cs, -1.0, 1.0);
                        theta = std::acos(cs) / std::numbers::pi * 180.0;
                    } else {
                        // Below 1e-3 radians the cosine keeps too few digits of
                        // the angle (it rounds to 1 for angles under 1e-8, with
                        // the eye far away or in the image plane): the angle
                        // from the cross product and the dot product instead.
                        // Every vector from the eye has the same z = vz.
                        const double z = vz[s];
                        const double cx = z * (vy[s] - fy), cy = z * (fx - vx[s]);
                        const double cz = vx[s] * fy - vy[s] * fx;
                        const double d = vx[s] * fx + vy[s] * fy + z * fz;
                        theta = std::atan2(std::sqrt(cx * cx + cy * cy + cz * cz), d) / std::numbers::pi * 180.0;
                    }
                    theta2[s] = theta * theta;
                }
                for (std::size_t p = 0; p < np; ++p) {
                    const double* lp = lv + p * n;
                    double ls = 0.0;
                    for (std::size_t s = 0; s < n; ++s) {
                        if (s == t) continue;  // a pixel sends no light onto itself
                        ls += lp[s] * da[s] * 10.0 / theta2[s];
                    }
                    wv[p * n + t] = ls;
                }
            }
        },
        16);
    return ws;
}

namespace {

// glareimnew2, with the image written into `into` when given.
GlareImage glare_image(const AnyImage& im0, double fdist, double kfact, double powcam, double powmon, int nob,
                       const Progress* progress, const View<double>* into) {
    const std::size_t rows = image_rows(im0), cols = image_cols(im0), np = image_planes(im0);
    require_glare_image(rows, cols, np);
    const int nsub = nob - 1;
    const LinearLight lin(im0, powcam);

    // Linear light of each plane, blurred and halved nsub times.
    // Reported: the blurred and halved levels of each plane take half the
    // work, the veil a tenth, the way back up and the composition the rest.
    ArrayD lum;
    for (std::size_t p = 0; p < np; ++p) {
        report(progress, 0.5 * static_cast<double>(p) / static_cast<double>(np));
        const std::size_t off = p * rows * cols;
        const ArrayD lp = blurdnzel_columns(
            rows, cols,
            [&](std::size_t j, double* buf) {
                const std::size_t b = off + j * rows;
                lin.each(b, b + rows, [&](std::size_t i, double v) { buf[i - b] = v; });
                return static_cast<const double*>(buf);
            },
            nsub);
        if (p == 0) lum = ArrayD(lp.rows(), lp.cols(), np);
        std::copy(lp.span().begin(), lp.span().end(), lum.data() + p * lp.numel());
    }

    report(progress, 0.5);
    const ArrayD ws = glare_veil_coarse(lum, fdist, nob);
    report(progress, 0.6);

    // Back up to (at least) the image size, and nearest-neighbour down to it.
    GlareImage g;
    g.dim = uninitialized_array(rows, cols, np, Pages::Huge);  // every plane written whole below
    for (std::size_t p = 0; p < np; ++p) {
        upblurzel_resized(to_array(ws.plane(p)), nsub, g.dim.plane(p));
        report(progress, 0.6 + 0.3 * static_cast<double>(p + 1) / static_cast<double>(np));
    }
    g.mx = compose(im0, kfact, g.dim, powcam, powmon, g.imt, into);
    report(progress, 1.0);
    return g;
}

}  // namespace

GlareImage glareimnew2(const AnyImage& im0, double fdist, double kfact, double powcam,
                       double powmon, int nob, const Progress* progress) {
    return glare_image(im0, fdist, kfact, powcam, powmon, nob, progress, nullptr);
}

ArrayD glareimknown2(const AnyImage& imorg, double newfact, const ArrayD& dim, double powcam,
                     double powmon) {
    const std::size_t rows = image_rows(imorg), cols = image_cols(imorg), np = image_planes(imorg);
    require_glare_image(rows, cols, np);
    if (dim.rows() != rows || dim.cols() != cols || dim.planes() != np) {
        throw Error("The kept glare veil does not match the image size.");
    }
    ArrayD imt;
    compose(imorg, newfact, dim, powcam, powmon, imt);
    return imt;
}

void check(const Params& p) { viewing::check_width(p.width); }

Result run(const AnyImage& im, const Params& p, const Progress* progress) {
    check(p);
    const GlareLevels lv = glare_levels(image_cols(im), image_rows(im), p.width);
    GlareImage g = glareimnew2(im, lv.fdist, p.glarefact, p.powcam, p.powmon, lv.nob, progress);
    return Result{std::move(g.imt), std::move(g.dim)};
}

void run(const AnyImage& im, const Params& p, const View<double>& out, const Progress* progress) {
    check(p);
    if (out.rows != image_rows(im) || out.cols != image_cols(im) || out.planes != image_planes(im)) {
        throw Error("The glare result's place does not have the image's size.");
    }
    const GlareLevels lv = glare_levels(image_cols(im), image_rows(im), p.width);
    glare_image(im, lv.fdist, p.glarefact, p.powcam, p.powmon, lv.nob, progress, &out);
}

ArrayD reuse_veil(const AnyImage& im, const ArrayD& dim, const Params& p) {
    return glareimknown2(im, p.glarefact, dim, p.powcam, p.powmon);
}

}  // namespace ocu::glare
