#include "fixindep/blurkernels.hpp"

#include <cmath>
#include <numbers>
#include <sstream>

#include "fixindep/symfilter.hpp"
#include "toolkit/arrayops.hpp"
#include "toolkit/numtext.hpp"

namespace ocu::fixindep {

namespace {

std::string num(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

void check_scale(double s) {
    if (!std::isfinite(s) || !(s >= kMinBlurScale)) {
        throw Error("The blur scale must be a finite number of at least " + num(kMinBlurScale) +
                    " pixels, not " + num(s) + ".");
    }
}

// Half-width of the kernel whose widest Gaussian has scale s, refused when it
// exceeds `limit`.
std::size_t halfwidth_within(double s, std::size_t limit, const std::string& what) {
    const double w = blur_halfwidth(s);
    if (w > static_cast<double>(limit)) {
        throw Error("A blur of scale " + num(s) + " pixels needs a kernel half-width of " + num(w) +
                    " pixels, more than the " + std::to_string(limit) + " allowed " + what + ".");
    }
    return static_cast<std::size_t>(w);
}

// ys over -w..w for the Gaussian kernel (steep = false) or the steep kernel.
std::vector<double> raw_profile(double sig, bool steep, std::size_t w) {
    const double sig2 = std::numbers::sqrt2 * sig;
    std::vector<double> ys(2 * w + 1);
    for (std::size_t i = 0; i < ys.size(); ++i) {
        const double x = static_cast<double>(i) - static_cast<double>(w);
        ys[i] = steep ? 2.0 * gauss(x, 0.0, sig) - gauss(x, 0.0, sig2) : gauss(x, 0.0, sig);
    }
    return ys;
}

ArrayD kernel_2d(double sig, bool steep) {
    check_scale(sig);
    const double widest = steep ? std::numbers::sqrt2 * sig : sig;
    const std::size_t w = halfwidth_within(widest, kMaxKernelHalfWidth2D, "for a two-dimensional kernel");
    const std::vector<double> ys = raw_profile(sig, steep, w);
    const std::size_t side = ys.size();
    ArrayD filt(side, side);
    for (std::size_t j = 0; j < side; ++j)
        for (std::size_t i = 0; i < side; ++i) filt(i, j) = ys[i] * ys[j];
    const double sm = sum_all(filt);
    for (double& v : filt.span()) v /= sm;
    return filt;
}

std::vector<double> profile(double sig, bool steep, std::size_t limit, const std::string& what) {
    check_scale(sig);
    const double widest = steep ? std::numbers::sqrt2 * sig : sig;
    const std::size_t w = halfwidth_within(widest, limit, what);
    std::vector<double> ys = raw_profile(sig, steep, w);
    double sm = 0.0;
    for (double v : ys) sm += v;
    if (!(sm > 0.0) || !std::isfinite(sm)) throw Error("The blur profile of scale " + num(sig) + " cannot be normalised.");
    for (double& v : ys) v /= sm;
    return ys;
}

// The centre and one side of a symmetric profile of length 2w+1.
std::vector<double> half_of(const std::vector<double>& p) {
    const std::size_t w = p.size() / 2;
    return std::vector<double>(p.begin() + static_cast<std::ptrdiff_t>(w), p.end());
}

void check_plane(View<const double> im) {
    if (im.planes != 1) throw Error("Blurring works on one image plane (a 2-D array) at a time.");
}

std::string image_limit_text(View<const double> im) {
    return "for an image of " + size_text(im.cols, im.rows) + " pixels";
}

ArrayD blur_fast(View<const double> im, double sig, bool steep) {
    check_plane(im);
    const std::vector<double> h =
        half_profile_for_image(steep ? BlurKind::Steep : BlurKind::Gauss, sig, im.rows, im.cols);
    return symfilter(im, h);
}

ArrayD blur_2d(View<const double> im, double sig, bool steep) {
    check_plane(im);
    check_scale(sig);
    halfwidth_within(steep ? std::numbers::sqrt2 * sig : sig, max_blur_halfwidth(im.rows, im.cols),
                     image_limit_text(im));
    const ArrayD k = kernel_2d(sig, steep);
    ArrayD y(im.rows, im.cols);
    if (y.numel() != 0) correlate_same(im, k.view(), y.view());
    return y;
}

}  // namespace

double gauss(double x, double m, double s) {
    const double s2 = s * s;
    if (!std::isfinite(s) || !(s > 0.0) || !(s2 > 0.0) || !std::isfinite(s2)) {
        throw Error("The standard deviation of a normal density must be a positive finite number "
                    "whose square is representable, not " + num(s) + ".");
    }
    const double d = x - m;
    return (1.0 / std::numbers::sqrt2) / std::sqrt(std::numbers::pi) / s *
           std::exp(-0.5 * (d * d) / s2);
}

ArrayD gauss(const ArrayD& x, double m, double s) {
    ArrayD y(x.rows(), x.cols(), x.planes());
    gauss(0.0, 0.0, s);  // validates s once, also for an empty x
    for (std::size_t i = 0; i < x.numel(); ++i) y[i] = gauss(x[i], m, s);
    return y;
}

double blur_halfwidth(double s) {
    check_scale(s);
    return round_half_away(3.5 * s + 0.5);
}

std::size_t max_blur_halfwidth(std::size_t rows, std::size_t cols) {
    return 2 * std::max(rows, cols) + 64;
}

ArrayD gaussblurkern(double sig) { return kernel_2d(sig, false); }
ArrayD steepblurkern(double sig) { return kernel_2d(sig, true); }

std::vector<double> gaussblurprofile(double sig) {
    return profile(sig, false, kMaxProfileHalfWidth, "for a profile");
}
std::vector<double> steepblurprofile(double sig) {
    return profile(sig, true, kMaxProfileHalfWidth, "for a profile");
}

std::vector<double> half_profile_for_image(BlurKind kind, double sig, std::size_t rows,
                                           std::size_t cols) {
    return half_of(profile(sig, kind == BlurKind::Steep, max_blur_halfwidth(rows, cols),
                           "for an image of " + size_text(cols, rows) + " pixels"));
}

ArrayD steepblurfast(const ArrayD& im, double sig) { return blur_fast(im.view(), sig, true); }
ArrayD steepblurfast(View<const double> im, double sig) { return blur_fast(im, sig, true); }
ArrayD steepblur2d(View<const double> im, double sig) { return blur_2d(im, sig, true); }
ArrayD gaussblurfast(View<const double> im, double sig) { return blur_fast(im, sig, false); }
ArrayD gaussblur2d(View<const double> im, double sig) { return blur_2d(im, sig, false); }

}  // namespace ocu::fixindep
