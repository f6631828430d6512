#include "fixdep/render.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine_client/kal.hpp"
#include "toolkit/arrayops.hpp"
#include "toolkit/memory.hpp"
#include "toolkit/numtext.hpp"
#include "toolkit/parallel.hpp"

namespace ocu::fixdep {

namespace {

constexpr int kMaskLevels = 6;           // level count of masks where that suffices
constexpr std::uint8_t kCoarseGrey = 64;  // uniform coarsest level, squared scale
constexpr std::size_t kGrain = 1 << 18;   // pixels worth a thread of their own

// Level count of the masks each pyramid holds (set by prepblendmasks). Like
// the engine's masks, it lives as long as the process.
std::array<int, kPreviewPyramid + 1> g_mask_levels{kMaskLevels, kMaskLevels, kMaskLevels};

int& mask_levels_of(int pyramid) {
    if (pyramid != kMainPyramid && pyramid != kPreviewPyramid) {
        throw Error("The program renders with engine pyramid 1 or 2, not " + std::to_string(pyramid) + ".");
    }
    return g_mask_levels[static_cast<std::size_t>(pyramid)];
}

// The engine's level thresholds t_k (the map value 2 t_k gives mask k full
// weight), computed in the engine's own order of operations.
double level_threshold(int k) {
    const double sigma1 = 0.124 * std::sqrt(2.0);
    double sigma = 2.0 * sigma1;
    for (int i = 1; i <= k; ++i) sigma = i == 1 ? sigma1 : sigma * 0.5;
    return std::sqrt(-std::log(0.25)) * sigma;
}

// 255 * (v / 255)^2 as 8 bits, rounded halves away from zero and saturated
// exactly as to_uint8 does, in a form the compiler vectorises (no call to
// round): below 0.5 (also NaN) it is 0, from 254.5 on 255, and in between
// x + 0.5 is computed without a rounding that could cross an integer, so
// truncating it rounds x half away from zero. Double images (the previous
// step of a combined run) are converted with it on every rendering.
std::uint8_t squared(double v) {
    const double q = v / 255.0;
    const double x = 255.0 * (q * q);
    if (!(x >= 0.5)) return 0;
    if (x >= 254.5) return 255;
    return static_cast<std::uint8_t>(static_cast<int>(x + 0.5));
}

// Planes 0 .. n-1 of `a` on the squared 8-bit scale, in one pass over all
// cores (each parallel pass costs a wake-up of the other threads, dear on a
// busy machine, so the planes are not squared one at a time).
template <class T>
std::vector<ArrayU8> squared_planes(const Array<T>& a, std::size_t n) {
    const std::size_t numel = a.rows() * a.cols();
    std::vector<ArrayU8> out;
    for (std::size_t p = 0; p < n; ++p) out.push_back(ArrayU8::uninitialized(a.rows(), a.cols()));  // written whole below
    std::array<std::uint8_t*, 3> dst{};
    for (std::size_t p = 0; p < n; ++p) dst[p] = out[p].data();
    const T* in = a.data();
    parallel_for(
        n * numel,
        [in, dst, numel](std::size_t b, std::size_t e) {
            for (std::size_t p = b / numel; p * numel < e; ++p) {  // the planes this range touches
                const std::size_t lo = std::max(b, p * numel) - p * numel, hi = std::min(e, (p + 1) * numel) - p * numel;
                const T* s = in + p * numel;  // local copies: byte stores may alias captures
                std::uint8_t* d = dst[p];
                if constexpr (std::is_same_v<T, std::uint8_t>) {
                    // 255 (v / 255)^2 rounded is (v^2 + 127) div 255 in integers:
                    // v^2 / 255 is never within 1/510 of a half (2 v^2 is even,
                    // 255 (2k + 1) odd), far more than the error of the doubles, so
                    // both round alike. In 16 bits (v^2 + 127 <= 65152) the loop
                    // runs on whole vectors.
                    for (std::size_t i = lo; i < hi; ++i) {
                        const std::uint16_t v = s[i];
                        d[i] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(v * v + 127) / 255);
                    }
                } else {
                    for (std::size_t i = lo; i < hi; ++i) d[i] = squared(static_cast<double>(s[i]));
                }
            }
        },
        kGrain);
    return out;
}

std::vector<ArrayU8> squared_planes(const AnyImage& im, std::size_t n) {
    return std::visit([n](const auto& a) { return squared_planes(a, n); }, im);
}

// sqrt(u / 255) for every byte value.
const std::array<double, 256>& display_lut() {
    static const std::array<double, 256> lut = [] {
        std::array<double, 256> t{};
        for (int u = 0; u < 256; ++u) t[static_cast<std::size_t>(u)] = std::sqrt(u / 255.0);
        return t;
    }();
    return lut;
}

// Builds the pyramid of the squared plane `im`, makes its coarsest level
// uniform grey and renders it for (x1, y1). Returns the rendered plane.
ArrayU8 render_plane(const ArrayU8& im, std::size_t sx, std::size_t sy, int nolevs, double x1,
                     double y1, int pyramid = kMainPyramid) {
    const double n = pyramid;
    preppyramid(im, sx, sy, nolevs, pyramid);
    ArrayU8 imp = kal::kalgetsrcimage(n, nolevs);
    std::fill(imp.span().begin(), imp.span().end(), kCoarseGrey);
    kal::kalsetsrcimage(n, nolevs, imp);
    kal::kalencode(n, x1, y1);
    ArrayU8 im2 = kal::kalgetencodedimage(n);
    if (im2.rows() != sy || im2.cols() != sx || im2.planes() != 1) {
        throw Error("The pyramid engine returned a rendered image of the wrong size.");
    }
    return im2;
}

// d[i] = lut[s[i]] for i < n, the table being the display values of the
// rendered samples. Streaming stores: the planes are far larger than the
// caches, and writing around them spares reading every line in first (36
// million samples, a 12-megapixel colour result, took about half the time).
void display_values(const std::array<double, 256>& lut, const std::uint8_t* s, double* d, std::size_t n) {
    std::size_t i = 0;
#if defined(__SSE2__)
    if ((reinterpret_cast<std::uintptr_t>(d) & 15u) != 0 && i < n) {
        d[i] = lut[s[i]];
        ++i;
    }
    for (; i + 2 <= n; i += 2) _mm_stream_pd(d + i, _mm_set_pd(lut[s[i + 1]], lut[s[i]]));
    _mm_sfence();  // the streamed stores are seen before the threads join
#endif
    for (; i < n; ++i) d[i] = lut[s[i]];
}

// Writes sqrt(u / 255) of the rendered planes u[p] into planes p of `out`,
// in one pass over all cores.
void to_display(const std::vector<ArrayU8>& u, ArrayD& out) {
    const auto& lut = display_lut();
    const std::size_t numel = out.rows() * out.cols();
    std::array<const std::uint8_t*, 3> src{};
    for (std::size_t p = 0; p < u.size(); ++p) src[p] = u[p].data();
    double* const dst = out.data();
    parallel_for(
        u.size() * numel,
        [&lut, src, dst, numel](std::size_t b, std::size_t e) {
            for (std::size_t p = b / numel; p * numel < e; ++p) {
                const std::size_t i = std::max(b, p * numel) - p * numel;
                const std::size_t end = std::min(e, (p + 1) * numel) - p * numel;
                display_values(lut, src[p] + i, dst + p * numel + i, end - i);
            }
        },
        kGrain);
}

// Checks that an image of sx columns, sy rows and np planes can have planes
// 0..nplanes-1 rendered (nplanes 1: a one-plane image; 3: the first three
// planes of an image with at least three). Returns the level count to render.
int render_levels(std::size_t sx, std::size_t sy, std::size_t np, std::size_t nplanes) {
    if (nplanes == 1 && np != 1) {
        throw Error("fixdepimage1 renders one plane; this image has " + std::to_string(np) + ".");
    }
    if (nplanes == 3 && np < 3) {
        throw Error("A colour image needs three planes; this one has " + std::to_string(np) + ".");
    }
    return std::min(mask_levels_of(kMainPyramid), fixdep_max_levels(sx, sy));
}

// Renders the squared planes sq[0..nplanes-1] of an image of sx columns, sy
// rows and np planes with nolevs levels into `imt2`, whose storage is kept
// when it has the result's size. Planes beyond the rendered ones are 0.
void render_squared(double x1, double y1, std::size_t sx, std::size_t sy, std::size_t np, std::size_t nplanes,
                    const std::array<const ArrayU8*, 3>& sq, int nolevs, ArrayD& imt2) {
    if (imt2.rows() != sy || imt2.cols() != sx || imt2.planes() != np) {
        imt2 = ArrayD();  // release the old storage before taking the new
        // The rendered planes are written whole; the memory is first touched there.
        imt2 = uninitialized_array(sy, sx, np, Pages::Huge);
    }
    std::fill(imt2.data() + nplanes * sx * sy, imt2.data() + imt2.numel(), 0.0);
    std::vector<ArrayU8> planes;
    for (std::size_t p = 0; p < nplanes; ++p) planes.push_back(render_plane(*sq[p], sx, sy, nolevs, x1, y1));
    to_display(planes, imt2);
}

void render_planes(double x1, double y1, const AnyImage& im0, std::size_t nplanes, ArrayD& imt2) {
    const std::size_t sx = image_cols(im0), sy = image_rows(im0), np = image_planes(im0);
    const int nolevs = render_levels(sx, sy, np, nplanes);
    const std::vector<ArrayU8> sq = squared_planes(im0, nplanes);
    std::array<const ArrayU8*, 3> ptr{};
    for (std::size_t p = 0; p < nplanes; ++p) ptr[p] = &sq[p];
    render_squared(x1, y1, sx, sy, np, nplanes, ptr, nolevs, imt2);
}

}  // namespace

int fixdep_max_levels(std::size_t sx, std::size_t sy) {
    if (sx < 2 || sy < 2) {
        throw Error("The fixation-dependent simulation needs an image of at least " + size_text(2, 2) +
                    " pixels; this one has " + size_text(sx, sy) + ".");
    }
    const double ln2 = std::log(2.0);
    const double lx = std::log(static_cast<double>(sx)) / ln2;
    const double ly = std::log(static_cast<double>(sy)) / ln2;
    return static_cast<int>(round_half_away(std::min(lx, ly) - 0.5));
}

int fixdep_level_count(std::size_t sx, std::size_t sy) { return std::min(kMaskLevels, fixdep_max_levels(sx, sy)); }

int mask_level_count(const ArrayD& m, std::size_t sx, std::size_t sy) {
    const int cap = std::max(kMaskLevels, fixdep_max_levels(sx, sy));
    // The smallest positive value, over all cores (the smallest is the same
    // whatever the order).
    double vmin = std::numeric_limits<double>::infinity();
    std::mutex merge;
    const double* mv = m.data();
    parallel_for(
        m.numel(),
        [&, mv](std::size_t b, std::size_t e) {
            double here = std::numeric_limits<double>::infinity();
            for (std::size_t i = b; i < e; ++i)
                if (mv[i] > 0.0 && mv[i] < here) here = mv[i];
            const std::lock_guard<std::mutex> lock(merge);
            vmin = std::min(vmin, here);
        },
        std::size_t{1} << 20);
    if (vmin == std::numeric_limits<double>::infinity()) return kMaskLevels;
    // Mask k takes level k whole where u >= t_k (engine rule: u = v / 2 + 2^-52).
    const double u = vmin * 0.5 + 2.220446049250313e-16;
    int k = 0;
    while (k + 2 < cap && u < level_threshold(k)) ++k;
    return std::max(kMaskLevels, std::min(k + 2, cap));
}

int blendmask_levels(int pyramid) { return mask_levels_of(pyramid); }

void prepblendmasks(const ArrayD& m) { prepblendmasks(m, kMaskLevels); }

void prepblendmasks(const ArrayD& m, int nolevs, int pyramid) {
    int& levels = mask_levels_of(pyramid);
    const double n = pyramid;
    // Half the map's rows go in the columns argument and half its columns in
    // the rows argument; the white base is shaped to match, so the calls fit
    // every map shape. Only the level count of this pyramid affects the masks.
    const std::size_t w = m.rows() / 2, h = m.cols() / 2;
    const ArrayU8 im(h, w, 1, std::uint8_t{255});
    kal::kalcreatepyramid(n, static_cast<double>(w), static_cast<double>(h), nolevs);
    kal::kalsetbase(n, im);
    kal::kalreduce(n);
    kal::kalsetresmap(n, m);
    levels = nolevs;
}

void preppyramid(const ArrayU8& im, std::size_t w, std::size_t h, int nolevs, int pyramid) {
    const double n = pyramid;
    kal::kalcreatepyramid(n, static_cast<double>(w), static_cast<double>(h), nolevs);
    kal::kalsetbase(n, im);
    kal::kalreduce(n);
}

ArrayD fixdepimage(double x1, double y1, const AnyImage& im0) {
    ArrayD imt2;
    fixdepimage(x1, y1, im0, imt2);
    return imt2;
}

void fixdepimage(double x1, double y1, const AnyImage& im0, ArrayD& imt2) {
    if (image_planes(im0) > 1) {
        render_planes(x1, y1, im0, 3, imt2);
    } else {
        render_planes(x1, y1, im0, 1, imt2);
    }
}

SquaredImage::SquaredImage(const AnyImage& im)
    : rows_(image_rows(im)), cols_(image_cols(im)), nplanes_(image_planes(im)) {
    const std::size_t n = nplanes_ > 1 ? 3 : 1;
    if (nplanes_ > 1 && nplanes_ < 3) {
        throw Error("A colour image needs three planes; this one has " + std::to_string(nplanes_) + ".");
    }
    planes_ = squared_planes(im, n);
}

void fixdepimage(double x1, double y1, const SquaredImage& im0, ArrayD& imt2) {
    const std::size_t nplanes = im0.planes() > 1 ? 3 : 1;
    const int nolevs = render_levels(im0.cols(), im0.rows(), im0.planes(), nplanes);
    std::array<const ArrayU8*, 3> ptr{};
    for (std::size_t p = 0; p < nplanes; ++p) ptr[p] = &im0.plane(p);
    render_squared(x1, y1, im0.cols(), im0.rows(), im0.planes(), nplanes, ptr, nolevs, imt2);
}

void fixdepimage_planes(double x1, double y1, const SquaredImage& im0, ArrayU8& planes, int pyramid,
                        const Progress* progress) {
    const std::size_t sx = im0.cols(), sy = im0.rows();
    const std::size_t nplanes = im0.planes() > 1 ? 3 : 1;
    const int nolevs = std::min(mask_levels_of(pyramid), fixdep_max_levels(sx, sy));
    if (planes.rows() != sy || planes.cols() != sx || planes.planes() != nplanes) {
        planes = ArrayU8();
        planes = ArrayU8(sy, sx, nplanes);
    }
    for (std::size_t p = 0; p < nplanes; ++p) {
        report(progress, static_cast<double>(p) / static_cast<double>(nplanes));
        const ArrayU8 u = render_plane(im0.plane(p), sx, sy, nolevs, x1, y1, pyramid);
        std::copy(u.data(), u.data() + u.numel(), planes.data() + p * sx * sy);
    }
    report(progress, 1.0);
}

void planes_to_result(const ArrayU8& planes, std::size_t image_planes, ArrayD& imt2) {
    const std::size_t sy = planes.rows(), sx = planes.cols(), nplanes = planes.planes();
    if (imt2.rows() != sy || imt2.cols() != sx || imt2.planes() != image_planes) {
        imt2 = ArrayD();
        // Planes beyond the rendered ones are 0; the rendered ones are all
        // written below, their pages mapped by the threads that write them.
        imt2 = image_planes == nplanes ? uninitialized_array(sy, sx, image_planes, Pages::Huge)
                                       : zeroed_array(sy, sx, image_planes, Pages::Huge);
    } else {
        std::fill(imt2.data() + nplanes * sx * sy, imt2.data() + imt2.numel(), 0.0);
    }
    // The rendering's last step (to_display) on all planes at once.
    const auto& lut = display_lut();
    const std::uint8_t* src = planes.data();
    double* dst = imt2.data();
    parallel_for(
        planes.numel(),
        [&lut, src, dst](std::size_t b, std::size_t e) { display_values(lut, src + b, dst + b, e - b); },
        kGrain);
}

const std::array<double, 256>& shown_value_table() { return display_lut(); }

ArrayD fixdepimage1(double x1, double y1, const AnyImage& im0) {
    ArrayD imt2;
    render_planes(x1, y1, im0, 1, imt2);
    return imt2;
}

ArrayD fixdepimage3(double x1, double y1, const AnyImage& im0) {
    ArrayD imt2;
    render_planes(x1, y1, im0, 3, imt2);
    return imt2;
}

}  // namespace ocu::fixdep
