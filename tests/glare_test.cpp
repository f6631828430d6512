// Glare veil and glare image: geometry and level counts, sizes through the
// pyramid, the inverse-square fall-off of the veil, re-use of a kept veil,
// mended faults, and a comparison with a plain step-by-step implementation
// written here from the description of the computation.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "glare/binomial.hpp"
#include "glare/glare.hpp"
#include "toolkit/arrayops.hpp"
#include "toolkit/parallel.hpp"
#include "testutil.hpp"

namespace {

using ocu::ArrayD;
using ocu::ArrayU8;
using ocu::testutil::expect_error;
using ocu::testutil::random_u8;

// ---------------------------------------------------------------------------
// Plain implementation: every step written out with nested loops, 1-based
// index lists, an explicit extended array and explicit vectors for the eye.
namespace plain {

struct Mat {
    int r = 0, c = 0;
    std::vector<double> v;  // row-major
    Mat() = default;
    Mat(int rr, int cc) : r(rr), c(cc), v(static_cast<std::size_t>(rr * cc), 0.0) {}
    double& at(int i, int j) { return v[static_cast<std::size_t>(i * c + j)]; }  // 1-based
    double at(int i, int j) const { return v[static_cast<std::size_t>(i * c + j)]; }
};

Mat filt() {
    const double b[5] = {1, 4, 6, 4, 1};
    Mat f(5, 5);
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) f.at(i, j) = b[i] * b[j] / 256.0;
    return f;
}

std::vector<int> ext_list(int l, int s) {  // 1-based rows of the extension
    const int s2 = static_cast<int>(std::floor((s - 1) / 2.0));
    std::vector<int> idx;
    for (int i = s - s2; i >= 2; --i) idx.push_back(i);
    for (int i = 1; i <= l; ++i) idx.push_back(i);
    for (int i = l - 1; i >= l - s2; --i) idx.push_back(i);
    return idx;
}

Mat rconv2(const Mat& large, const Mat& small) {
    const auto ri = ext_list(large.r, small.r), ci = ext_list(large.c, small.c);
    Mat ext(static_cast<int>(ri.size()), static_cast<int>(ci.size()));
    for (int i = 0; i < ext.r; ++i)
        for (int j = 0; j < ext.c; ++j) ext.at(i, j) = large.at(ri[static_cast<std::size_t>(i)] - 1, ci[static_cast<std::size_t>(j)] - 1);
    Mat out(ext.r - small.r + 1, ext.c - small.c + 1);
    for (int i = 0; i < out.r; ++i)
        for (int j = 0; j < out.c; ++j) {
            double s = 0;
            for (int u = 0; u < small.r; ++u)
                for (int w = 0; w < small.c; ++w)
                    s += ext.at(i + u, j + w) * small.at(small.r - 1 - u, small.c - 1 - w);
            out.at(i, j) = s;
        }
    return out;
}

Mat corrdnzel(const Mat& im) {
    const Mat t = rconv2(im, filt());
    Mat out((im.r + 1) / 2, (im.c + 1) / 2);
    for (int i = 0; i < out.r; ++i)
        for (int j = 0; j < out.c; ++j) out.at(i, j) = t.at(2 * i, 2 * j);
    return out;
}

Mat upconvzel(const Mat& im) {
    Mat t(2 * im.r, 2 * im.c);
    for (int i = 0; i < im.r; ++i)
        for (int j = 0; j < im.c; ++j) t.at(2 * i, 2 * j) = im.at(i, j);
    Mat out = rconv2(t, filt());
    for (auto& x : out.v) x *= 2;
    return out;
}

Mat imresize(const Mat& a, int m, int n) {
    auto indices = [](int from, int to) {
        const double sc = static_cast<double>(from) / to + 2.220446049250313e-16;
        std::vector<int> idx;
        for (int k = 0;; ++k) {
            const double val = sc / 2 + k * sc;
            if (val > from) break;
            idx.push_back(static_cast<int>(std::floor(val)) + 1);
        }
        return idx;
    };
    const auto ri = indices(a.r, m), ci = indices(a.c, n);
    EXPECT_EQ(ri.size(), static_cast<std::size_t>(m));
    EXPECT_EQ(ci.size(), static_cast<std::size_t>(n));
    Mat out(m, n);
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < n; ++j) out.at(i, j) = a.at(ri[static_cast<std::size_t>(i)] - 1, ci[static_cast<std::size_t>(j)] - 1);
    return out;
}

struct V3 {
    double x, y, z;
};
V3 sub(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double norm(V3 a) { return std::sqrt(dot(a, a)); }

// Planes of the image as double samples (row-major Mat per plane).
struct Result {
    std::vector<Mat> imt, dim;
    double mx = 0;
};

Result glareimnew2(const std::vector<Mat>& im0, double fdist, double kfact, double powcam,
                   double powmon, int nob) {
    const int imSubSample = nob - 1;
    const double ff = fdist;
    Result res;
    for (const Mat& plane : im0) {
        Mat im = plane;
        for (auto& x : im.v) x = std::pow(x, powcam);
        Mat lum = im;
        for (int i = 1; i <= imSubSample; ++i) {
            lum = corrdnzel(lum);
            for (auto& x : lum.v) x *= 2;
        }
        const int syn = lum.r, sxn = lum.c;
        const V3 eye{(sxn + 1) / 2.0, (syn + 1) / 2.0, -ff * sxn};
        const V3 veye{0, 0, ff * syn};
        const double lene = norm(eye);
        Mat ws(syn, sxn);
        for (int j = 1; j <= sxn; ++j)
            for (int k = 1; k <= syn; ++k) {
                const V3 vfix = sub(V3{double(j), double(k), 0}, eye);
                const double lenf = norm(vfix);
                double Ls = 0;
                for (int l = 1; l <= sxn; ++l)
                    for (int m = 1; m <= syn; ++m) {
                        double dL = 0;
                        if (!(l == j && m == k)) {
                            const V3 vlgt = sub(V3{double(l), double(m), 0}, eye);
                            const double lenl = norm(vlgt);
                            double cs = dot(vlgt, vfix) / lenf / lenl;
                            cs = std::min(1.0, std::max(-1.0, cs));
                            const double theta = std::acos(cs) / std::numbers::pi * 180;
                            const double cs2 = dot(vlgt, veye) / lene / lenl;
                            const double da = std::abs(cs2 / lenl / lenl) * nob * nob;
                            dL = lum.at(m - 1, l - 1) * da * 10 / (theta * theta);
                        }
                        Ls += dL;
                    }
                ws.at(k - 1, j - 1) = Ls;
            }
        Mat ws2 = ws;
        for (int i = 1; i <= imSubSample; ++i) ws2 = upconvzel(ws2);
        if (ws2.r != plane.r || ws2.c != plane.c) ws2 = imresize(ws2, plane.r, plane.c);
        res.dim.push_back(ws2);
    }
    double mx = 0;
    for (std::size_t p = 0; p < im0.size(); ++p) {
        Mat t = im0[p];
        for (std::size_t i = 0; i < t.v.size(); ++i)
            t.v[i] = std::pow(std::pow(im0[p].v[i], powcam) + kfact * res.dim[p].v[i], 1 / powmon);
        for (double x : t.v) mx = std::max(mx, x);
        res.imt.push_back(t);
    }
    for (auto& t : res.imt)
        for (auto& x : t.v) x /= mx;
    res.mx = mx;
    return res;
}

}  // namespace plain
// ---------------------------------------------------------------------------

template <class T>
std::vector<plain::Mat> planes_of(const ocu::Array<T>& a) {
    std::vector<plain::Mat> out;
    for (std::size_t p = 0; p < a.planes(); ++p) {
        plain::Mat m(static_cast<int>(a.rows()), static_cast<int>(a.cols()));
        for (std::size_t r = 0; r < a.rows(); ++r)
            for (std::size_t c = 0; c < a.cols(); ++c)
                m.at(static_cast<int>(r), static_cast<int>(c)) = static_cast<double>(a(r, c, p));
        out.push_back(m);
    }
    return out;
}

// Largest difference relative to the largest magnitude of the plain result.
double rel_diff(const ArrayD& got, const std::vector<plain::Mat>& want) {
    double scale = 0, diff = 0;
    for (std::size_t p = 0; p < want.size(); ++p)
        for (int r = 0; r < want[p].r; ++r)
            for (int c = 0; c < want[p].c; ++c) {
                const double w = want[p].at(r, c);
                const double g = got(static_cast<std::size_t>(r), static_cast<std::size_t>(c), p);
                scale = std::max(scale, std::abs(w));
                diff = std::max(diff, std::abs(g - w));
            }
    return scale > 0 ? diff / scale : diff;
}

bool all_finite(const ArrayD& a) {
    for (double v : a.span())
        if (!std::isfinite(v)) return false;
    return true;
}

// ---------------------------------------------------------------------------

TEST(GlareLevels, ExamplesFromImageSizeAndWidth) {
    const auto g = ocu::glare::glare_levels(640, 480, 20);
    EXPECT_NEAR(g.fdist, 0.352654, 1e-6);
    EXPECT_NEAR(g.fdist, 2 * std::tan(10 * std::numbers::pi / 180), 1e-15);
    EXPECT_NEAR(g.pixdist, 320 / std::tan(10 * std::numbers::pi / 180), 1e-9);
    EXPECT_NEAR(g.nos, 7.584962500721156, 1e-12);
    EXPECT_EQ(g.imSubSample, 5);  // round(5.3219)
    EXPECT_EQ(g.nob, 6);

    const auto big = ocu::glare::glare_levels(1024, 768, 20);  // exactly 6 up to rounding
    EXPECT_EQ(big.imSubSample, 6);
    EXPECT_EQ(big.nob, 7);

    const auto small = ocu::glare::glare_levels(14, 13, 20);  // round(-0.0386)
    EXPECT_EQ(small.imSubSample, 0);
    EXPECT_EQ(small.nob, 1);

    const auto tiny = ocu::glare::glare_levels(8, 8, 20);  // round(-0.79)
    EXPECT_EQ(tiny.imSubSample, -1);
    EXPECT_EQ(tiny.nob, 0);

    // 4000 x 3000: (23.516 - 7.585) / 2 = 7.97 -> 8 halvings.
    EXPECT_EQ(ocu::glare::glare_levels(4000, 3000, 20).nob, 9);
    // The width enters only fdist.
    EXPECT_NEAR(ocu::glare::glare_levels(640, 480, 60).fdist, 2 * std::tan(30 * std::numbers::pi / 180),
                1e-15);
}

TEST(GlareLevels, EmptyImageIsRefused) {
    EXPECT_THROW(ocu::glare::glare_levels(0, 480, 20), ocu::Error);
    EXPECT_THROW(ocu::glare::glare_levels(640, 0, 20), ocu::Error);
}

TEST(GlareImage, SizesOf480By640Colour) {
    const ArrayU8 im = random_u8(480, 640, 3, 1);
    const auto lv = ocu::glare::glare_levels(640, 480, 20);
    ASSERT_EQ(lv.nob, 6);
    const ArrayD lum = ocu::glare::blurdnzel(ArrayD(480, 640), lv.nob - 1);
    EXPECT_EQ(lum.rows(), 15u);
    EXPECT_EQ(lum.cols(), 20u);
    const auto g = ocu::glare::glareimnew2(ocu::AnyImage(im), lv.fdist, 1, 2, 2, lv.nob);
    EXPECT_EQ(g.dim.rows(), 480u);
    EXPECT_EQ(g.dim.cols(), 640u);
    EXPECT_EQ(g.dim.planes(), 3u);
    EXPECT_EQ(g.imt.rows(), 480u);
    EXPECT_EQ(g.imt.cols(), 640u);
    EXPECT_EQ(g.imt.planes(), 3u);
    EXPECT_EQ(*std::max_element(g.imt.span().begin(), g.imt.span().end()), 1.0);
    EXPECT_GT(g.mx, 255.0);  // the veil adds light to the brightest sample
}

TEST(GlareImage, VeilOf375By500IsResizedDownNotCropped) {
    // The veil comes back 384 x 512 and is resized nearest-neighbour to 375 x 500.
    const ArrayU8 im = random_u8(375, 500, 1, 2);
    const auto lv = ocu::glare::glare_levels(500, 375, 20);
    ASSERT_EQ(lv.nob, 6);
    const auto g = ocu::glare::glareimnew2(ocu::AnyImage(im), lv.fdist, 2, 2, 2, lv.nob);
    EXPECT_EQ(g.dim.rows(), 375u);
    EXPECT_EQ(g.dim.cols(), 500u);
    EXPECT_EQ(g.dim.planes(), 1u);
    // Rebuild the veil from the coarse grid and resize it with the toolkit.
    ArrayD lin = ocu::to_double(im);
    for (auto& v : lin.span()) v = v * v;
    const ArrayD lum = ocu::glare::blurdnzel(lin, 5);
    ASSERT_EQ(lum.rows(), 12u);
    ASSERT_EQ(lum.cols(), 16u);
    const ArrayD ws2 = ocu::glare::upblurzel(ocu::glare::glare_veil_coarse(lum, lv.fdist, 6), 5);
    ASSERT_EQ(ws2.rows(), 384u);
    ASSERT_EQ(ws2.cols(), 512u);
    const ArrayD want = ocu::imresize_nearest(ws2, 375, 500);
    double diff = 0, scale = 0;
    for (std::size_t i = 0; i < want.numel(); ++i) {
        diff = std::max(diff, std::abs(want[i] - g.dim[i]));
        scale = std::max(scale, std::abs(want[i]));
    }
    EXPECT_LT(diff, 1e-12 * scale);
    // Last row and column read the last row and column of the doubled veil.
    EXPECT_NEAR(g.dim(374, 499), ws2(383, 511), 1e-12 * scale);
}

TEST(GlareImage, MatchesPlainImplementationOnSmallRandomImages) {
    struct Case {
        std::size_t r, c, p;
        int nob;
        double fdist, kfact, powcam, powmon;
    };
    const Case cases[] = {
        {23, 37, 3, 3, 0.352654, 1, 2, 2},   // veil larger than the image: resized
        {40, 33, 1, 2, 0.5, 4, 2, 2},        // gray
        {16, 16, 3, 1, 0.352654, 10, 2, 2},  // veil at full resolution
        {9, 9, 1, 0, 0.352654, 3, 2, 2},     // all-zero veil
        {30, 45, 3, 2, 1.2, 2, 2.2, 1.8},    // other exponents
        {45, 61, 1, 3, 0.1, 7, 1, 1},        // linear, 45 -> 23 -> 12 -> 48 rows
    };
    unsigned seed = 10;
    for (const Case& k : cases) {
        const ArrayU8 im = random_u8(k.r, k.c, k.p, seed++);
        const auto got =
            ocu::glare::glareimnew2(ocu::AnyImage(im), k.fdist, k.kfact, k.powcam, k.powmon, k.nob);
        const auto want = plain::glareimnew2(planes_of(im), k.fdist, k.kfact, k.powcam, k.powmon, k.nob);
        EXPECT_LT(rel_diff(got.dim, want.dim), 1e-12) << k.r << "x" << k.c << " nob " << k.nob;
        EXPECT_LT(rel_diff(got.imt, want.imt), 1e-12) << k.r << "x" << k.c << " nob " << k.nob;
        EXPECT_NEAR(got.mx, want.mx, 1e-12 * want.mx);
    }
}

TEST(GlareImage, MatchesPlainImplementationForOtherSampleTypes) {
    std::mt19937 gen(99);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    ArrayD d(27, 31);
    for (auto& v : d.span()) v = u(gen);
    ocu::ArrayU16 w(20, 24, 3);
    for (auto& v : w.span()) v = static_cast<std::uint16_t>(u(gen) * 65535);

    const auto gd = ocu::glare::glareimnew2(ocu::AnyImage(d), 0.4, 2, 2, 2, 2);
    const auto pd = plain::glareimnew2(planes_of(d), 0.4, 2, 2, 2, 2);
    EXPECT_LT(rel_diff(gd.imt, pd.imt), 1e-12);
    const auto gw = ocu::glare::glareimnew2(ocu::AnyImage(w), 0.4, 5, 2, 2, 2);
    const auto pw = plain::glareimnew2(planes_of(w), 0.4, 5, 2, 2, 2);
    EXPECT_LT(rel_diff(gw.imt, pw.imt), 1e-12);
    EXPECT_LT(rel_diff(gw.dim, pw.dim), 1e-12);
}

TEST(GlareImage, FullComputationMatchesPlainImplementationWithDerivedLevels) {
    const ArrayU8 im = random_u8(60, 80, 3, 21);
    const auto lv = ocu::glare::glare_levels(80, 60, 30);  // 4800 px: 2 halvings
    ASSERT_EQ(lv.nob, 3);
    const auto run = ocu::glare::run(ocu::AnyImage(im), {30, 6, 2, 2});
    const auto want = plain::glareimnew2(planes_of(im), 2 * std::tan(15 * std::numbers::pi / 180), 6, 2, 2, 3);
    EXPECT_LT(rel_diff(run.imt, want.imt), 1e-12);
    EXPECT_LT(rel_diff(run.dim, want.dim), 1e-12);
}

TEST(GlareVeil, SingleBrightPixelFallsOffAsInverseSquareOfAngle) {
    // 61 x 81 image, one pixel of 200 at the centre, veil at full resolution.
    // The eye looks straight at the centre from D = fdist * 81 pixels, so a
    // pixel d pixels away is at atan(d / D) from the bright one.
    std::vector<std::uint8_t> px(61 * 81, 0);
    px.at(40 * 61 + 30) = 200;  // row 30, column 40
    const ArrayU8 im(61, 81, 1, std::move(px));
    const double fdist = 0.5, D = fdist * 81;
    const auto g = ocu::glare::glareimnew2(ocu::AnyImage(im), fdist, 1, 2, 2, 1);
    EXPECT_EQ(g.dim(30, 40), 0.0);  // no light from itself

    // Source weight by hand: nob^2 |cos2| / D^2, with cos2 = D * (fdist * 61) / lene / D.
    const double lene = std::sqrt(41.0 * 41.0 + 31.0 * 31.0 + D * D);
    const double da = (fdist * 61) / lene / D / D;
    const double e = 200.0 * 200.0 * da * 10;  // veil x angle^2 (degrees)
    struct Off {
        int dr, dc;
    };
    for (Off o : {Off{0, 1}, {0, 2}, {0, 5}, {0, 10}, {0, 20}, {0, 40}, {1, 1}, {7, -3}, {-30, 0}, {-20, -25}}) {
        const double d = std::hypot(o.dr, o.dc);
        const double theta = std::atan(d / D) * 180 / std::numbers::pi;
        const double v = g.dim(static_cast<std::size_t>(30 + o.dr), static_cast<std::size_t>(40 + o.dc));
        EXPECT_NEAR(v * theta * theta, e, 1e-9 * e) << o.dr << "," << o.dc;
    }
    // Doubling a small angle nearly quarters the veil (tan is almost linear).
    EXPECT_NEAR(g.dim(30, 41) / g.dim(30, 42), 4.0, 0.02);
    EXPECT_NEAR(g.dim(30, 42) / g.dim(30, 44), 4.0, 0.05);
}

TEST(GlareVeil, InverseSquareSurvivesThePyramid) {
    // A bright 32 x 32 block at the centre of a 480 x 640 colour image, the
    // usual 15 x 20 coarse grid of 32-pixel cells. The eye sits fdist x 20
    // cells (fdist x 640 pixels) in front of the centre. Away from the block the
    // veil follows 1 / angle^2 to within the blur of about one coarse cell
    // (the blur of a convex fall-off raises the near value by up to ~15%).
    ArrayU8 im(480, 640, 3);
    for (std::size_t p = 0; p < 3; ++p)
        for (std::size_t c = 304; c < 336; ++c)
            for (std::size_t r = 224; r < 256; ++r) im(r, c, p) = 255;
    const auto lv = ocu::glare::glare_levels(640, 480, 20);
    const auto g = ocu::glare::glareimnew2(ocu::AnyImage(im), lv.fdist, 1, 2, 2, lv.nob);
    const double D = lv.fdist * 640;
    auto angle = [&](double d) { return std::atan(d / D) * 180 / std::numbers::pi; };
    for (auto [d1, d2] : std::vector<std::pair<int, int>>{{64, 128}, {96, 192}, {128, 256}}) {
        const double v1 = g.dim(240, static_cast<std::size_t>(320 + d1), 1);
        const double v2 = g.dim(240, static_cast<std::size_t>(320 + d2), 1);
        const double want = std::pow(angle(d2) / angle(d1), 2);
        EXPECT_NEAR(v1 / v2, want, 0.2 * want) << d1 << " vs " << d2 << ": " << v1 / v2 << " " << want;
    }
    // Colour planes of a gray block get the same veil.
    EXPECT_EQ(g.dim(100, 100, 0), g.dim(100, 100, 2));
}

TEST(GlareVeil, ZeroLevelsGiveNoVeilAndTheImageScaledToOne) {
    const ArrayU8 im = random_u8(8, 8, 1, 5);
    const auto lv = ocu::glare::glare_levels(8, 8, 20);
    ASSERT_EQ(lv.nob, 0);
    const auto g = ocu::glare::glareimnew2(ocu::AnyImage(im), lv.fdist, 10, 2, 2, lv.nob);
    for (double v : g.dim.span()) EXPECT_EQ(v, 0.0);
    double mx = 0;
    for (auto v : im.span()) mx = std::max(mx, double(v));
    EXPECT_EQ(g.mx, mx);
    for (std::size_t i = 0; i < im.numel(); ++i) EXPECT_DOUBLE_EQ(g.imt[i], im[i] / mx);
}

TEST(GlareVeil, OneLevelComputesTheVeilAtFullResolution) {
    const ArrayU8 im = random_u8(13, 14, 3, 6);
    const auto lv = ocu::glare::glare_levels(14, 13, 20);
    ASSERT_EQ(lv.nob, 1);
    const auto g = ocu::glare::glareimnew2(ocu::AnyImage(im), lv.fdist, 1, 2, 2, lv.nob);
    const auto want = plain::glareimnew2(planes_of(im), lv.fdist, 1, 2, 2, 1);
    EXPECT_LT(rel_diff(g.dim, want.dim), 1e-12);
    EXPECT_GT(g.dim(6, 7, 0), 0.0);
}

TEST(GlareImage, ZeroGlareFactorGivesTheImageOverItsMaximum) {
    const ArrayU8 im = random_u8(50, 70, 3, 7);
    const auto g = ocu::glare::glareimnew2(ocu::AnyImage(im), 0.35, 0, 2, 2, 2);
    double mx = 0;
    for (auto v : im.span()) mx = std::max(mx, double(v));
    for (std::size_t i = 0; i < im.numel(); ++i) EXPECT_DOUBLE_EQ(g.imt[i], im[i] / mx);
}

TEST(GlareReuse, KnownVeilReproducesTheFullComputationExactly) {
    const ArrayU8 im = random_u8(96, 128, 3, 8);
    const ocu::AnyImage any(im);
    const auto lv = ocu::glare::glare_levels(128, 96, 20);
    for (double k : {0.0, 1.0, 3.0, 10.0}) {
        const auto full = ocu::glare::glareimnew2(any, lv.fdist, k, 2, 2, lv.nob);
        EXPECT_EQ(ocu::glare::glareimknown2(any, k, full.dim, 2, 2), full.imt) << k;
    }
    // A veil kept from factor 1 serves factor 7 as a fresh computation would.
    const auto run1 = ocu::glare::run(any, {20, 1, 2, 2});
    const auto run7 = ocu::glare::run(any, {20, 7, 2, 2});
    EXPECT_EQ(run1.dim, run7.dim);
    EXPECT_EQ(ocu::glare::reuse_veil(any, run1.dim, {20, 7, 2, 2}), run7.imt);
}

TEST(GlareReuse, VeilOfAnotherSizeIsRefused) {
    const ocu::AnyImage im(random_u8(20, 30, 3, 9));
    expect_error([&] { ocu::glare::glareimknown2(im, 1, ArrayD(20, 30, 1), 2, 2); },
                 "The kept glare veil does not match the image size.");
    expect_error([&] { ocu::glare::glareimknown2(im, 1, ArrayD(30, 20, 3), 2, 2); },
                 "The kept glare veil does not match the image size.");
    EXPECT_THROW(ocu::glare::reuse_veil(im, ArrayD(), {}), ocu::Error);
}

TEST(GlareImage, ImagesOtherThanGrayOrThreePlanesAreRefused) {
    for (std::size_t planes : {2u, 4u}) {
        const ocu::AnyImage im(random_u8(20, 20, planes, 4));
        EXPECT_THROW(ocu::glare::glareimnew2(im, 0.35, 1, 2, 2, 1), ocu::Error);
        EXPECT_THROW(ocu::glare::glareimknown2(im, 1, ArrayD(20, 20, planes), 2, 2), ocu::Error);
    }
    EXPECT_THROW(ocu::glare::run(ocu::AnyImage(ArrayU8()), {}), ocu::Error);
}

TEST(GlareImage, RunChecksTheWidthFirst) {
    // The same text as every simulation's width check; the image is never read.
    const ocu::AnyImage im(ArrayU8(4, 200, 1, 9));
    for (double w : {0.0, 180.0, std::nan("")}) {
        expect_error([&] { ocu::glare::run(im, {.width = w}); },
                     "Invalid image width (width): " +
                         std::string(w == 0     ? "0"
                                     : w == 180 ? "180"
                                                : "NaN") +
                         ". Enter the image's width in degrees, a number greater than 0 and less than 180.");
    }
}

TEST(GlareImage, ElongatedImageFailsInTheFilters) {
    // 4 x 200: one halving, and 4 rows are fewer than the kernel's 5 while 200
    // columns are more.
    const ocu::AnyImage im(random_u8(4, 200, 1, 3));
    ASSERT_EQ(ocu::glare::glare_levels(200, 4, 20).nob, 2);
    expect_error([&] { ocu::glare::run(im, {}); },
                 "one arg must be larger than the other in both dimensions!");
}

TEST(GlareMended, BlackImageStaysBlack) {
    const ocu::AnyImage black(ArrayU8(48, 64, 3));
    const auto g = ocu::glare::run(black, {20, 5, 2, 2});
    ASSERT_EQ(g.imt.numel(), 48u * 64 * 3);
    for (double v : g.imt.span()) EXPECT_EQ(v, 0.0);
    for (double v : g.dim.span()) EXPECT_EQ(v, 0.0);
    const auto full = ocu::glare::glareimnew2(black, 0.35, 5, 2, 2, 2);
    EXPECT_EQ(full.mx, 0.0);
    const ArrayD again = ocu::glare::glareimknown2(black, 3, g.dim, 2, 2);
    for (double v : again.span()) EXPECT_EQ(v, 0.0);
}

TEST(GlareMended, CosinePastMinusOneByRoundingGivesNoNaN) {
    // With the eye in the image plane (fdist 0) between the two rows of a
    // 2 x 6 image, opposite pixels are 180 degrees apart and their computed
    // cosine rounds to just below -1. The axis then has no length, so no pair
    // carries weight: the veil is 0 and the result the image over its maximum.
    const ArrayU8 im = random_u8(2, 6, 1, 12);
    const auto g = ocu::glare::glareimnew2(ocu::AnyImage(im), 0.0, 1, 2, 2, 1);
    ASSERT_TRUE(all_finite(g.dim));
    for (double v : g.dim.span()) EXPECT_EQ(v, 0.0);
    double mx = 0;
    for (auto v : im.span()) mx = std::max(mx, double(v));
    for (std::size_t i = 0; i < im.numel(); ++i) EXPECT_DOUBLE_EQ(g.imt[i], im[i] / mx);
}

namespace {
// The coarse veil of the glare law for a one-plane coarse image, in long
// double, with the angle from the arccosine as the formula states it. Exact
// enough where the angles between neighbours stay above 1e-5 radians.
ArrayD veil_long_double(const ArrayD& lum, long double ff, int nob) {
    const std::size_t syn = lum.rows(), sxn = lum.cols();
    const long double ex = (sxn + 1) / 2.0L, ey = (syn + 1) / 2.0L, ez = -ff * sxn, vez = ff * syn;
    const long double lene = std::sqrt(ex * ex + ey * ey + ez * ez);
    ArrayD ws(syn, sxn);
    for (std::size_t j = 1; j <= sxn; ++j)
        for (std::size_t k = 1; k <= syn; ++k) {
            long double ls = 0;
            const long double fx = j - ex, fy = k - ey, fz = -ez;
            const long double lenf = std::sqrt(fx * fx + fy * fy + fz * fz);
            for (std::size_t l = 1; l <= sxn; ++l)
                for (std::size_t m = 1; m <= syn; ++m) {
                    if (l == j && m == k) continue;
                    const long double lx = l - ex, ly = m - ey, lz = -ez;
                    const long double lenl = std::sqrt(lx * lx + ly * ly + lz * lz);
                    const long double cs = (lx * fx + ly * fy + lz * fz) / lenf / lenl;
                    const long double theta = std::acos(std::min(1.0L, std::max(-1.0L, cs))) / std::numbers::pi_v<long double> * 180;
                    const long double da = std::abs(lz * vez / lene / lenl / lenl / lenl) * nob * nob;
                    ls += lum(m - 1, l - 1) * da * 10 / (theta * theta);
                }
            ws(k - 1, j - 1) = static_cast<double>(ls);
        }
    return ws;
}

double rel_diff(const ArrayD& a, const ArrayD& b) {
    double scale = 0, diff = 0;
    for (std::size_t i = 0; i < a.numel(); ++i) {
        scale = std::max(scale, std::abs(b[i]));
        diff = std::max(diff, std::abs(a[i] - b[i]));
    }
    return diff / scale;
}
}  // namespace

TEST(GlareMended, SmallAnglesAreExactWithTheEyeNearTheImageOrFarAway) {
    // A 3 x 4 coarse image with dark sources. With the eye close to the image
    // plane (ff 1e-4) or far from it (ff 1e4) most angles between sources are
    // below 1e-3 radians; the veil must match the long double reference.
    ArrayD lum(3, 4);
    const double v[12] = {0, 3, 1, 0, 2, 0, 5, 1, 0, 4, 0, 2};
    for (std::size_t i = 0; i < 12; ++i) lum[i] = v[i];
    for (double ff : {1e-4, 1e4}) {
        const ArrayD got = ocu::glare::glare_veil_coarse(lum, ff, 3);
        EXPECT_LT(rel_diff(got, veil_long_double(lum, ff, 3)), 1e-9) << ff;
    }
    // Nearer still, down to no distance the double range can tell from 0, the
    // veil stays finite and settles to its limit (the ff^2 terms vanish).
    const ArrayD limit = ocu::glare::glare_veil_coarse(lum, 1e-30, 3);
    ASSERT_TRUE(all_finite(limit));
    for (double ff : {1e-8, 1e-100, 1e-300, 5e-324}) {
        const ArrayD got = ocu::glare::glare_veil_coarse(lum, ff, 3);
        ASSERT_TRUE(all_finite(got)) << ff;
        EXPECT_LT(rel_diff(got, limit), 1e-9) << ff;
    }
    // Far away, to the largest ff a width below 180 degrees gives.
    const ArrayD far = ocu::glare::glare_veil_coarse(lum, 1e8, 3);
    for (double ff : {1e12, 2.0 * std::tan(std::nextafter(180.0, 0.0) * std::numbers::pi / 360)}) {
        const ArrayD got = ocu::glare::glare_veil_coarse(lum, ff, 3);
        ASSERT_TRUE(all_finite(got)) << ff;
        EXPECT_LT(rel_diff(got, far), 1e-6) << ff;
    }
}

TEST(GlareMended, NoNaNOverTheWholeWidthRange) {
    // Widths just above 0 and just below 180 degrees once gave NaN everywhere.
    ArrayU8 im = random_u8(60, 80, 3, 31);
    for (std::size_t c = 0; c < 20; ++c)
        for (std::size_t r = 0; r < 60; ++r)
            for (std::size_t p = 0; p < 3; ++p) im(r, c, p) = 0;  // a black band: dark sources
    for (double width : {5e-324, 1e-300, 1e-6, 0.5, 179.99995, std::nextafter(180.0, 0.0)}) {
        const auto g = ocu::glare::run(ocu::AnyImage(im), {width, 5, 2, 2});
        ASSERT_TRUE(all_finite(g.dim)) << width;
        ASSERT_TRUE(all_finite(g.imt)) << width;
        EXPECT_EQ(*std::max_element(g.imt.span().begin(), g.imt.span().end()), 1.0) << width;
    }
}

TEST(GlareThreads, ResultDoesNotDependOnThreadCount) {
    const ocu::AnyImage im(random_u8(120, 160, 3, 14));
    auto run = [&](unsigned threads) {
        ocu::thread_count_override() = threads;
        auto g = ocu::glare::run(im, {20, 3, 2, 2});
        ocu::thread_count_override() = 0;
        return g;
    };
    const auto one = run(1);
    for (unsigned t : {2u, 3u, 8u}) {
        const auto many = run(t);
        EXPECT_EQ(one.imt, many.imt) << t;
        EXPECT_EQ(one.dim, many.dim) << t;
    }
}

// Into a caller's layout (pixel-interleaved rows, as NumPy keeps images, and
// a transposed one): the same values as the returned image, for colour and
// gray, with whole blocks and ragged rows and columns, and for an exponent
// that is not a square root. The place must have the image's size.
TEST(GlareInto, ACallersLayoutGetsTheReturnedImage) {
    const std::size_t rows = 197, cols = 250;
    for (const auto& [planes, powmon] : {std::pair{std::size_t{3}, 2.0}, {std::size_t{1}, 2.0}, {std::size_t{3}, 3.0}}) {
        const ocu::AnyImage im(random_u8(rows, cols, planes, 21));
        const ocu::glare::Params p{35, 6, 2, powmon};
        const ArrayD want = ocu::glare::run(im, p).imt;
        for (const bool pixel_rows : {true, false}) {
            std::vector<double> placed(want.numel(), -1.0);
            ocu::View<double> out(placed.data(), rows, cols, planes);
            out.plane_stride = pixel_rows ? 1 : static_cast<std::ptrdiff_t>(rows * cols);
            out.col_stride = pixel_rows ? static_cast<std::ptrdiff_t>(planes) : 1;
            out.row_stride = pixel_rows ? static_cast<std::ptrdiff_t>(cols * planes) : static_cast<std::ptrdiff_t>(cols);
            ocu::glare::run(im, p, out);
            bool same = true;
            for (std::size_t r = 0; r < rows; ++r)
                for (std::size_t c = 0; c < cols; ++c)
                    for (std::size_t q = 0; q < planes; ++q) same = same && out(r, c, q) == want(r, c, q);
            EXPECT_TRUE(same) << planes << " planes, powmon " << powmon << (pixel_rows ? ", pixel rows" : ", transposed");
        }
    }
    std::vector<double> small(10);
    EXPECT_THROW(ocu::glare::run(ocu::AnyImage(random_u8(5, 2, 1, 3)), {}, ocu::View<double>(small.data(), 2, 5)),
                 ocu::Error);
}

}  // namespace

TEST(GlareImage, ReportsRisingProgressAndStopsWhenAsked) {
    ArrayD im(120, 90, 3);
    for (std::size_t i = 0; i < im.numel(); ++i) im.data()[i] = static_cast<double>((i * 37) % 101) / 100.0;
    const ocu::glare::Params p{};
    std::vector<double> seen;
    std::atomic<bool> stop{false};
    const ocu::Progress progress([&](double f) { seen.push_back(f); }, &stop);
    const ocu::glare::Result a = ocu::glare::run(ocu::AnyImage(im), p, &progress), b = ocu::glare::run(ocu::AnyImage(im), p);
    EXPECT_TRUE(a.imt == b.imt && a.dim == b.dim);
    ASSERT_GT(seen.size(), 3u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.back(), 1.0);
    stop = true;
    EXPECT_THROW(ocu::glare::run(ocu::AnyImage(im), p, &progress), ocu::Stopped);
}
