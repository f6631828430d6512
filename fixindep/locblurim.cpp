#include "fixindep/locblurim.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <sstream>
#include <vector>

#include "fixindep/blurkernels.hpp"
#include "fixindep/lumsource.hpp"
#include "fixindep/symfilter.hpp"
#include "toolkit/arrayops.hpp"
#include "toolkit/memory.hpp"
#include "toolkit/numtext.hpp"
#include "toolkit/parallel.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#define OCU_FIXINDEP_SSE2 1
#else
#define OCU_FIXINDEP_SSE2 0
#endif

namespace ocu::fixindep {

namespace {

std::string num(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

double log2_of(double x) { return std::log(x) / std::numbers::ln2; }

void check_threshold(double v, const char* name) {
    if (!std::isfinite(v) || !(v > 0.0)) {
        throw Error(std::string("The contrast threshold ") + name +
                    " must be a positive finite number, not " + num(v) + ".");
    }
}

void check_values(const ArrayD& lum) {
    for (double v : lum.span()) {
        if (!std::isfinite(v)) throw Error("The image holds values that are not finite numbers.");
    }
}

// Clip of a blurred plane: maximum with 0, then minimum with 1 (NaN gives 0).
inline double clip_blurred(double v) {
    v = v > 0.0 ? v : 0.0;
    return v < 1.0 ? v : 1.0;
}
// Final clip: minimum with 1, then maximum with 0 (NaN gives 1, as the
// element-wise minimum keeps the number).
inline double clip_result(double v) {
    v = v < 1.0 ? v : 1.0;
    return v > 0.0 ? v : 0.0;
}

inline std::uint8_t band_bits(double v, const std::array<double, 4>& levs) {
    std::uint8_t bits = 0;
    if (v >= levs[1]) bits |= 1;                 // band 1: high contrast
    if (v >= levs[2] && v < levs[1]) bits |= 2;  // band 2
    if (v < levs[2]) bits |= 4;                  // band 3: low contrast
    return bits;
}

inline double contrast_of(double mean, double mean_sq) {
    const double var = mean_sq - mean * mean;
    const double sd = std::sqrt(var > 0.0 ? var : 0.0);
    return sd / (mean + 0.01);
}

// The fast forms work on bands of this many rows at a time: the column pass
// writes one band of its output to scratch planes of band height, and the row
// pass filters it. Each output is still computed once, from the whole column.
std::size_t row_band(std::size_t rows) { return std::min<std::size_t>(rows, 256); }

// buf[0 .. len + 2w) = input rows b0 - w .. b0 + len + w - 1 of one column,
// 0 outside the image; load(r0, r1, dst) reads rows r0..r1-1 of the column.
template <class Load>
void load_band(std::size_t b0, std::size_t len, std::size_t w, std::size_t rows, double* buf, Load&& load) {
    const std::size_t first = b0 >= w ? b0 - w : 0;         // first row inside the image
    const std::size_t last = std::min(rows, b0 + len + w);  // one past the last
    const std::size_t lead = w - (b0 - first);              // zeros above the image
    std::fill(buf, buf + lead, 0.0);
    load(first, last, buf + lead);
    std::fill(buf + lead + (last - first), buf + len + 2 * w, 0.0);
}

// Calls put(r, c, imn) for every pixel with its local contrast, measured on
// the gray version of `src` with the Gaussian kernel of scale sig. The fast
// form uses two scratch planes that fit the plane and that kernel (its own
// when `scratch` is null).
template <class Put>
void for_each_contrast(const LumSource& src, double sig, Filtering filtering,
                       SymFilterScratch* scratch, SymFilterScratch* scratch2, Put&& put,
                       const Progress* progress = nullptr) {
    const std::size_t sy = src.rows(), sx = src.cols();
    if (filtering == Filtering::Direct2D) {
        ArrayD bwlum(sy, sx), lum2(sy, sx);
        for (std::size_t c = 0; c < sx; ++c) src.load_gray(c, 0, sy, &bwlum(0, c));
        for (std::size_t i = 0; i < bwlum.numel(); ++i) lum2[i] = bwlum[i] * bwlum[i];
        const ArrayD ima = gaussblur2d(bwlum.view(), sig);
        const ArrayD im2a = gaussblur2d(lum2.view(), sig);
        for (std::size_t c = 0; c < sx; ++c)
            for (std::size_t r = 0; r < sy; ++r) put(r, c, contrast_of(ima(r, c), im2a(r, c)));
        return;
    }
    // Band by band of rows: one column pass fills two scratch planes (gray and
    // gray squared), one row pass gives the local mean and mean square together.
    const std::vector<double> h = half_profile_for_image(BlurKind::Gauss, sig, sy, sx);
    const std::size_t w = h.size() - 1;
    const std::size_t band = row_band(sy);
    std::optional<SymFilterScratch> own0, own1;
    if (scratch == nullptr) {
        scratch = &own0.emplace(band, sx, w);
        scratch2 = &own1.emplace(band, sx, w);
    }
    const std::size_t strip = strip_rows(w);
    for (std::size_t b0 = 0; b0 < sy; b0 += band) {
        report(progress, static_cast<double>(b0) / static_cast<double>(sy));
        const std::size_t blen = std::min(band, sy - b0);
        parallel_for(sx, [&](std::size_t cb, std::size_t ce) {
            std::vector<double> buf(2 * (blen + 2 * w));
            double* g = buf.data();
            double* g2 = g + blen + 2 * w;
            for (std::size_t c = cb; c < ce; ++c) {
                load_band(b0, blen, w, sy, g,
                          [&](std::size_t r0, std::size_t r1, double* col) { src.load_gray(c, r0, r1, col); });
                for (std::size_t r = 0; r < blen + 2 * w; ++r) g2[r] = g[r] * g[r];
                symmetric_taps(g + w, 1, blen, h, scratch->column(static_cast<std::ptrdiff_t>(c)));
                symmetric_taps(g2 + w, 1, blen, h, scratch2->column(static_cast<std::ptrdiff_t>(c)));
            }
        });
        const std::size_t nstrips = (blen + strip - 1) / strip;
        parallel_for(nstrips, [&](std::size_t sb, std::size_t se) {
            RowBlock block(*scratch, strip);
            std::vector<double> mean(strip * sx), mean_sq(strip * sx);
            for (std::size_t st = sb; st < se; ++st) {
                const std::size_t r0 = st * strip;
                const std::size_t len = std::min(strip, blen - r0);
                block.filter(*scratch, h, r0, len, mean.data());
                block.filter(*scratch2, h, r0, len, mean_sq.data());
                for (std::size_t c = 0; c < sx; ++c)
                    for (std::size_t k = 0; k < len; ++k)
                        put(b0 + r0 + k, c, contrast_of(mean[c * strip + k], mean_sq[c * strip + k]));
            }
        });
    }
}

// The displayed value: the clipped sum raised to `exponent`.
inline double finish(double v, double exponent) {
    v = clip_result(v);
    if (exponent == 1.0) return v;
    if (exponent == 0.5) return std::sqrt(v);
    return std::pow(v, exponent);
}

// o[k] = finish(sum of the clipped band values whose mask bit is set, added
// in band order, starting from 0). Masking by selection gives exactly the
// product of the 0/1 mask with the clipped (finite, non-negative) value.
void combine_bands(const double* a0, const double* a1, const double* a2, const std::uint8_t* mk,
                   std::size_t len, double exponent, double* o) {
    std::size_t k = 0;
#if OCU_FIXINDEP_SSE2
    if (exponent == 1.0 || exponent == 0.5) {
        const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);
        auto sel = [](unsigned b0, unsigned b1) {
            return _mm_castsi128_pd(_mm_set_epi64x(-static_cast<long long>(b1), -static_cast<long long>(b0)));
        };
        // _mm_max_pd(v, 0) is "v > 0 ? v : 0" and _mm_min_pd(v, 1) is "v < 1 ? v : 1".
        auto clip = [&](__m128d v) { return _mm_min_pd(_mm_max_pd(v, zero), one); };
        for (; k + 2 <= len; k += 2) {
            const unsigned m0 = mk[k], m1 = mk[k + 1];
            __m128d v = _mm_and_pd(sel(m0 & 1u, m1 & 1u), clip(_mm_loadu_pd(a0 + k)));
            v = _mm_add_pd(v, _mm_and_pd(sel((m0 >> 1) & 1u, (m1 >> 1) & 1u), clip(_mm_loadu_pd(a1 + k))));
            v = _mm_add_pd(v, _mm_and_pd(sel((m0 >> 2) & 1u, (m1 >> 2) & 1u), clip(_mm_loadu_pd(a2 + k))));
            v = _mm_max_pd(_mm_min_pd(v, one), zero);
            if (exponent == 0.5) v = _mm_sqrt_pd(v);
            _mm_storeu_pd(o + k, v);
        }
    }
#endif
    for (; k < len; ++k) {
        double v = 0.0;
        v += static_cast<double>(mk[k] & 1u) * clip_blurred(a0[k]);
        v += static_cast<double>((mk[k] >> 1) & 1u) * clip_blurred(a1[k]);
        v += static_cast<double>((mk[k] >> 2) & 1u) * clip_blurred(a2[k]);
        o[k] = finish(v, exponent);
    }
}

}  // namespace

std::array<double, 4> band_levels(std::optional<double> ct10, std::optional<double> ct3) {
    const std::array<double, 3> xv = {log2_of(1.0) + 1.0, log2_of(std::sqrt(10.0)) + 1.0,
                                      log2_of(10.0) + 1.0};
    std::array<double, 3> yv = {log2_of(0.93), log2_of(0.12), log2_of(0.05)};
    if (ct10) {
        check_threshold(*ct10, "ct10");
        const double dy = log2_of(*ct10) - yv[2];
        yv[2] = log2_of(*ct10);
        yv[1] = yv[1] + 0.7 * dy;
    }
    if (ct3) {
        check_threshold(*ct3, "ct3");
        yv[1] = log2_of(*ct3);
    }
    std::array<double, 4> levs{};
    for (std::size_t k = 0; k < 4; ++k) {
        levs[k] = std::pow(2.0, spline3(xv, yv, static_cast<double>(k + 1)));
    }
    return levs;
}

bool is_colour(const ArrayD& lum) {
    if (lum.planes() < 3) return false;
    const std::size_t n = lum.rows() * lum.cols();
    const double* p1 = lum.data();
    const double* p2 = p1 + n;
    const double* p3 = p2 + n;
    for (std::size_t i = 0; i < n; ++i)
        if (p1[i] != p2[i] || p1[i] != p3[i]) return true;
    return false;
}

ArrayD local_contrast(const ArrayD& bwlum, double sig, Filtering filtering) {
    if (bwlum.planes() != 1) throw Error("The local contrast is measured on one gray plane.");
    ArrayD imn(bwlum.rows(), bwlum.cols());
    if (imn.empty()) return imn;
    const ArraySource src(bwlum);
    for_each_contrast(src, sig, filtering, nullptr, nullptr,
                      [&](std::size_t r, std::size_t c, double v) { imn(r, c) = v; });
    return imn;
}

ArraySource::ArraySource(const ArrayD& lum) : lum_(lum), colour_(is_colour(lum)) {}

void ArraySource::load_plane(std::size_t p, std::size_t c, std::size_t r0, std::size_t r1,
                             double* col) const {
    const double* s = &lum_(0, c, p);
    for (std::size_t r = r0; r < r1; ++r) col[r - r0] = s[r];
}

void ArraySource::load_gray(std::size_t c, std::size_t r0, std::size_t r1, double* col) const {
    if (!colour_) {
        load_plane(0, c, r0, r1, col);
        return;
    }
    const double* rp = &lum_(0, c, 0);
    const double* gp = &lum_(0, c, 1);
    const double* bp = &lum_(0, c, 2);
    for (std::size_t r = r0; r < r1; ++r) col[r - r0] = gray_of(rp[r], gp[r], bp[r]);
}

void check_locblurim_args(std::size_t sy, std::size_t sx, std::size_t planes, double ac,
                          std::optional<double> ct10, std::optional<double> ct3) {
    if (!std::isfinite(ac) || !(ac > 0.0)) {
        throw Error("The minimum angle of resolution must be a positive finite number of pixels, not " +
                    num(ac) + ".");
    }
    if (sy == 0 || sx == 0) throw Error("The image is empty.");
    if (planes != 1 && planes != 3) {
        throw Error("The image must be 2-D (gray) or have three planes (colour); it has " +
                    std::to_string(planes) + " planes.");
    }
    band_levels(ct10, ct3);  // checks the thresholds
    // The narrowest band blur (ac / 2) must be a valid scale, and the widest
    // kernel, the steep one of scale 2 ac, must fit the image's limit.
    blur_halfwidth(ac * 0.5);
    const std::size_t widest = max_blur_halfwidth(sy, sx);
    if (blur_halfwidth(std::numbers::sqrt2 * (ac * 2.0)) > static_cast<double>(widest)) {
        throw Error("The acuity is too low for an image of " + size_text(sx, sy) +
                    " pixels: a minimum angle of resolution of " + num(ac) +
                    " pixels needs blur kernels wider than the " + std::to_string(widest) +
                    " pixels allowed.");
    }
}

ArrayD locblurim(const ArrayD& lum, double ac, std::optional<double> ct10, std::optional<double> ct3,
                 Filtering filtering) {
    check_locblurim_args(lum.rows(), lum.cols(), lum.planes(), ac, ct10, ct3);
    check_values(lum);
    return locblur_source(ArraySource(lum), ac, ct10, ct3, filtering, 1.0);
}

ArrayD locblur_source(const LumSource& src, double ac, std::optional<double> ct10,
                      std::optional<double> ct3, Filtering filtering, double exponent,
                      const Progress* progress) {
    const std::array<double, 4> levs = band_levels(ct10, ct3);
    const std::size_t sy = src.rows(), sx = src.cols();
    const std::array<double, 3> band_sig = {ac * 0.5, ac, ac * 2.0};
    const bool colour = src.colour();
    const std::size_t nplanes = colour ? 3 : 1;
    // The direct form adds the bands up in imt; the fast form writes every
    // element once, from the threads that compute it.
    ArrayD imt = filtering == Filtering::Direct2D ? zeroed_array(sy, sx, nplanes, Pages::Huge)
                                                  : uninitialized_array(sy, sx, nplanes, Pages::Huge);
    // In gray mode the gray version itself is blurred.
    auto load = [&](std::size_t j, std::size_t c, std::size_t r0, std::size_t r1, double* col) {
        if (colour) {
            src.load_plane(j, c, r0, r1, col);
        } else {
            src.load_gray(c, r0, r1, col);
        }
    };

    if (filtering == Filtering::Direct2D) {
        ArrayU8 msk(sy, sx);
        for_each_contrast(src, 2.0 * ac, filtering, nullptr, nullptr,
                          [&](std::size_t r, std::size_t c, double v) { msk(r, c) = band_bits(v, levs); });
        for (std::size_t band = 0; band < 3; ++band) {
            for (std::size_t j = 0; j < nplanes; ++j) {
                ArrayD plane(sy, sx);
                for (std::size_t c = 0; c < sx; ++c) load(j, c, 0, sy, &plane(0, c));
                const ArrayD ims = steepblur2d(plane.view(), band_sig[band]);
                for (std::size_t c = 0; c < sx; ++c)
                    for (std::size_t r = 0; r < sy; ++r)
                        imt(r, c, j) += static_cast<double>((msk(r, c) >> band) & 1u) * clip_blurred(ims(r, c));
            }
        }
        for (double& v : imt.span()) v = finish(v, exponent);
        return imt;
    }

    // Fast form: the column pass of each band into its own scratch plane, then
    // one row pass that blurs, clips, masks and adds the three bands in order.
    std::array<std::vector<double>, 3> halves;
    for (std::size_t b = 0; b < 3; ++b) halves[b] = half_profile_for_image(BlurKind::Steep, band_sig[b], sy, sx);
    const std::size_t wmax =
        std::max(halves[2].size() - 1, static_cast<std::size_t>(blur_halfwidth(2.0 * ac)));
    const std::size_t band = row_band(sy);
    std::vector<SymFilterScratch> scratch;
    scratch.reserve(3);
    for (std::size_t b = 0; b < 3; ++b) scratch.emplace_back(band, sx, wmax);

    // Band of every pixel from its local contrast on the gray version: the
    // first fifth of the work as reported; the blurred bands the rest.
    ArrayU8 msk(sy, sx);
    Progress contrast_part;
    for_each_contrast(
        src, 2.0 * ac, filtering, &scratch[0], &scratch[1],
        [&](std::size_t r, std::size_t c, double v) { msk(r, c) = band_bits(v, levs); },
        part_of(progress, 0.0, 0.2, contrast_part));

    const std::size_t w2 = halves[2].size() - 1;  // the widest band kernel
    const std::size_t strip = strip_rows(w2);
    for (std::size_t j = 0; j < nplanes; ++j) {
        for (std::size_t b0 = 0; b0 < sy; b0 += band) {
            report(progress, 0.2 + 0.8 * (static_cast<double>(j * sy + b0) / static_cast<double>(nplanes * sy)));
            const std::size_t blen = std::min(band, sy - b0);
            parallel_for(sx, [&](std::size_t cb, std::size_t ce) {
                std::vector<double> buf(blen + 2 * w2);
                for (std::size_t c = cb; c < ce; ++c) {
                    load_band(b0, blen, w2, sy, buf.data(),
                              [&](std::size_t r0, std::size_t r1, double* col) { load(j, c, r0, r1, col); });
                    const auto cc = static_cast<std::ptrdiff_t>(c);
                    symmetric_taps3(buf.data() + w2, blen, {halves[0], halves[1], halves[2]},
                                    {scratch[0].column(cc), scratch[1].column(cc), scratch[2].column(cc)});
                }
            });
            const std::size_t nstrips = (blen + strip - 1) / strip;
            parallel_for(nstrips, [&](std::size_t sb, std::size_t se) {
                RowBlock block(scratch[0], strip);
                std::array<std::vector<double>, 3> out;
                for (auto& o : out) o.resize(strip * sx);
                for (std::size_t st = sb; st < se; ++st) {
                    const std::size_t r0 = st * strip;
                    const std::size_t len = std::min(strip, blen - r0);
                    for (std::size_t b = 0; b < 3; ++b) block.filter(scratch[b], halves[b], r0, len, out[b].data());
                    for (std::size_t c = 0; c < sx; ++c) {
                        const std::size_t at = c * strip;
                        combine_bands(&out[0][at], &out[1][at], &out[2][at], &msk(b0 + r0, c), len, exponent,
                                      &imt(b0 + r0, c, j));
                    }
                }
            });
        }
    }
    report(progress, 1.0);
    return imt;
}

}  // namespace ocu::fixindep
