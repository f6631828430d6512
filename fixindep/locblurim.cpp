#include "fixindep/locblurim.hpp"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <sstream>
#include <vector>

#include "fixindep/blurkernels.hpp"
#include "fixindep/symfilter.hpp"
#include "toolkit/arrayops.hpp"
#include "toolkit/parallel.hpp"

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
    for (double v : lum.vec()) {
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

// Calls put(r, c, imn) for every pixel with its local contrast, measured with
// the Gaussian kernel of scale sig. The fast form uses `scratch`, which must fit
// the plane and that kernel.
template <class Put>
void for_each_contrast(const ArrayD& bwlum, double sig, Filtering filtering,
                       SymFilterScratch* scratch, Put&& put) {
    const std::size_t sy = bwlum.rows(), sx = bwlum.cols();
    if (filtering == Filtering::Direct2D) {
        ArrayD lum2(sy, sx);
        for (std::size_t i = 0; i < bwlum.numel(); ++i) lum2[i] = bwlum[i] * bwlum[i];
        const ArrayD ima = gaussblur2d(bwlum.view(), sig);
        const ArrayD im2a = gaussblur2d(lum2.view(), sig);
        for (std::size_t c = 0; c < sx; ++c)
            for (std::size_t r = 0; r < sy; ++r) put(r, c, contrast_of(ima(r, c), im2a(r, c)));
        return;
    }
    const std::vector<double> h = half_profile_for_image(BlurKind::Gauss, sig, sy, sx);
    std::optional<SymFilterScratch> own;
    if (scratch == nullptr) scratch = &own.emplace(sy, sx, h.size() - 1);
    ArrayD ima(sy, sx);
    column_pass(h, *scratch, [&](std::size_t c, double* col) {
        const double* src = &bwlum(0, c);
        for (std::size_t r = 0; r < sy; ++r) col[r] = src[r];
    });
    row_pass(h, *scratch, [&](std::size_t r0, std::size_t len, std::size_t c, const double* acc) {
        double* dst = &ima(r0, c);
        for (std::size_t k = 0; k < len; ++k) dst[k] = acc[k];
    });
    column_pass(h, *scratch, [&](std::size_t c, double* col) {
        const double* src = &bwlum(0, c);
        for (std::size_t r = 0; r < sy; ++r) col[r] = src[r] * src[r];
    });
    row_pass(h, *scratch, [&](std::size_t r0, std::size_t len, std::size_t c, const double* acc) {
        const double* mean = &ima(r0, c);
        for (std::size_t k = 0; k < len; ++k) put(r0 + k, c, contrast_of(mean[k], acc[k]));
    });
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
    for (std::size_t i = 0; i < n; ++i)
        if (p1[i] != p2[i]) return true;
    return false;
}

ArrayD local_contrast(const ArrayD& bwlum, double sig, Filtering filtering) {
    if (bwlum.planes() != 1) throw Error("The local contrast is measured on one gray plane.");
    ArrayD imn(bwlum.rows(), bwlum.cols());
    if (imn.empty()) return imn;
    for_each_contrast(bwlum, sig, filtering, nullptr,
                      [&](std::size_t r, std::size_t c, double v) { imn(r, c) = v; });
    return imn;
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
        throw Error("The acuity is too low for an image of " + std::to_string(sy) + " x " +
                    std::to_string(sx) + " pixels: a minimum angle of resolution of " + num(ac) +
                    " pixels needs blur kernels wider than the " + std::to_string(widest) +
                    " pixels allowed.");
    }
}

ArrayD locblurim(const ArrayD& lum, double ac, std::optional<double> ct10, std::optional<double> ct3,
                 Filtering filtering) {
    check_locblurim_args(lum.rows(), lum.cols(), lum.planes(), ac, ct10, ct3);
    check_values(lum);
    const std::array<double, 4> levs = band_levels(ct10, ct3);
    const std::size_t sy = lum.rows(), sx = lum.cols();
    const std::array<double, 3> band_sig = {ac * 0.5, ac, ac * 2.0};

    const bool colour = is_colour(lum);
    const ArrayD bwlum = colour ? rgb2gray(lum) : to_array(lum.plane(0));

    const std::size_t nplanes = colour ? 3 : 1;
    ArrayD imt(sy, sx, nplanes);

    // One scratch plane serves every blur of the fast form; the widest kernel
    // is the steep one of scale 2 ac.
    std::optional<SymFilterScratch> scratch;
    std::array<std::vector<double>, 3> halves;
    if (filtering == Filtering::Separable) {
        for (std::size_t b = 0; b < 3; ++b)
            halves[b] = half_profile_for_image(BlurKind::Steep, band_sig[b], sy, sx);
        const std::size_t wg = static_cast<std::size_t>(blur_halfwidth(2.0 * ac));
        scratch.emplace(sy, sx, std::max(halves[2].size() - 1, wg));
    }

    // Band of every pixel from its local contrast on the gray version.
    ArrayU8 msk(sy, sx);
    for_each_contrast(bwlum, 2.0 * ac, filtering, scratch ? &*scratch : nullptr,
                      [&](std::size_t r, std::size_t c, double v) { msk(r, c) = band_bits(v, levs); });

    // Each band blurred over the whole plane, clipped, added where its mask is set.
    for (std::size_t band = 0; band < 3; ++band) {
        for (std::size_t j = 0; j < nplanes; ++j) {
            const View<const double> src = colour ? lum.plane(j) : bwlum.view();
            const View<double> out = imt.plane(j);
            if (filtering == Filtering::Separable) {
                const std::span<const double> h = halves[band];
                column_pass(h, *scratch, [&](std::size_t c, double* col) {
                    const double* p = &src(0, c);
                    for (std::size_t r = 0; r < sy; ++r) col[r] = p[r];
                });
                row_pass(h, *scratch, [&](std::size_t r0, std::size_t len, std::size_t c, const double* acc) {
                    const std::uint8_t* mk = &msk(r0, c);
                    double* o = &out(r0, c);
                    for (std::size_t k = 0; k < len; ++k)
                        o[k] += static_cast<double>((mk[k] >> band) & 1u) * clip_blurred(acc[k]);
                });
            } else {
                const ArrayD ims = steepblur2d(src, band_sig[band]);
                for (std::size_t c = 0; c < sx; ++c)
                    for (std::size_t r = 0; r < sy; ++r)
                        out(r, c) += static_cast<double>((msk(r, c) >> band) & 1u) * clip_blurred(ims(r, c));
            }
        }
    }
    for (double& v : imt.vec()) v = clip_result(v);
    return imt;
}

}  // namespace ocu::fixindep
