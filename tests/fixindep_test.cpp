#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <cstdio>
#include <limits>
#include <optional>
#include <random>

#include "cli/commands.hpp"
#include "cli_testutil.hpp"
#include "testutil.hpp"
#include "fixindep/blurkernels.hpp"
#include "fixindep/fixindep.hpp"
#include "fixindep/locblurim.hpp"
#include "toolkit/arrayops.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/parallel.hpp"

using namespace ocu;
using namespace ocu::fixindep;
using ocu::testutil::max_abs_diff;
using ocu::testutil::ThreadCount;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// ---------------------------------------------------------------------------
// A second, deliberately plain implementation of the local blur, written from
// the formulas: full 2-D kernels from exp(), a quadruple loop for the
// correlation, the parabola in Lagrange form, explicit masks.

double lg2(double x) { return std::log(x) / std::log(2.0); }

std::vector<double> ref_profile(double sig, bool steep) {
    const double pi = 3.14159265358979323846;
    auto g = [&](double x, double s) { return std::exp(-x * x / (2 * s * s)) / (s * std::sqrt(2 * pi)); };
    const double widest = steep ? std::sqrt(2.0) * sig : sig;
    const int w = static_cast<int>(std::floor(3.5 * widest + 0.5 + 0.5));  // round(3.5 s + 0.5), s > 0
    std::vector<double> ys;
    for (int x = -w; x <= w; ++x) ys.push_back(steep ? 2 * g(x, sig) - g(x, std::sqrt(2.0) * sig) : g(x, sig));
    return ys;
}

std::vector<double> ref_blur(const std::vector<double>& plane, int rows, int cols, double sig, bool steep) {
    const std::vector<double> ys = ref_profile(sig, steep);
    const int w = static_cast<int>(ys.size() / 2);
    double total = 0;
    for (double a : ys)
        for (double b : ys) total += a * b;
    std::vector<double> out(plane.size(), 0.0);
    for (int c = 0; c < cols; ++c)
        for (int r = 0; r < rows; ++r) {
            double s = 0;
            for (int i = -w; i <= w; ++i)
                for (int j = -w; j <= w; ++j) {
                    const int rr = r + i, cc = c + j;
                    if (rr < 0 || rr >= rows || cc < 0 || cc >= cols) continue;
                    s += ys[i + w] * ys[j + w] / total * plane[cc * rows + rr];
                }
            out[c * rows + r] = s;
        }
    return out;
}

std::array<double, 4> ref_levels(std::optional<double> ct10, std::optional<double> ct3) {
    double x[3] = {1.0, lg2(std::sqrt(10.0)) + 1.0, lg2(10.0) + 1.0};
    double y[3] = {lg2(0.93), lg2(0.12), lg2(0.05)};
    if (ct10) {
        const double dy = lg2(*ct10) - y[2];
        y[2] = lg2(*ct10);
        y[1] += 0.7 * dy;
    }
    if (ct3) y[1] = lg2(*ct3);
    std::array<double, 4> levs{};
    for (int k = 1; k <= 4; ++k) {
        double v = 0;
        for (int a = 0; a < 3; ++a) {
            double l = 1;
            for (int b = 0; b < 3; ++b)
                if (b != a) l *= (k - x[b]) / (x[a] - x[b]);
            v += y[a] * l;
        }
        levs[k - 1] = std::pow(2.0, v);
    }
    return levs;
}

ArrayD ref_locblurim(const ArrayD& lum, double ac, std::optional<double> ct10 = std::nullopt,
                     std::optional<double> ct3 = std::nullopt) {
    const int rows = static_cast<int>(lum.rows()), cols = static_cast<int>(lum.cols());
    const std::size_t n = lum.rows() * lum.cols();
    const std::array<double, 4> levs = ref_levels(ct10, ct3);
    auto plane = [&](std::size_t p) { return std::vector<double>(lum.data() + p * n, lum.data() + (p + 1) * n); };
    bool colour = false;
    if (lum.planes() == 3)
        for (std::size_t i = 0; i < n; ++i) colour = colour || lum[i] != lum[n + i] || lum[i] != lum[2 * n + i];
    std::vector<double> bw = plane(0);
    if (colour) {
        for (std::size_t i = 0; i < n; ++i) {
            const double v = 0.298936021293775 * lum[i] + 0.587043074451121 * lum[n + i] +
                             0.114020904255103 * lum[2 * n + i];
            bw[i] = std::min(std::max(v, 0.0), 1.0);
        }
    }
    std::vector<double> sq(n);
    for (std::size_t i = 0; i < n; ++i) sq[i] = bw[i] * bw[i];
    const std::vector<double> ima = ref_blur(bw, rows, cols, 2 * ac, false);
    const std::vector<double> im2a = ref_blur(sq, rows, cols, 2 * ac, false);
    std::vector<double> imn(n);
    for (std::size_t i = 0; i < n; ++i) imn[i] = std::sqrt(std::max(im2a[i] - ima[i] * ima[i], 0.0)) / (ima[i] + 0.01);

    const std::size_t np = colour ? 3 : 1;
    ArrayD imt(lum.rows(), lum.cols(), np);
    for (int band = 1; band <= 3; ++band) {
        const double sig = ac * std::pow(2.0, band - 2);
        for (std::size_t p = 0; p < np; ++p) {
            const std::vector<double> ims = ref_blur(colour ? plane(p) : bw, rows, cols, sig, true);
            for (std::size_t i = 0; i < n; ++i) {
                bool in = false;
                if (band == 1) in = imn[i] >= levs[1];
                if (band == 2) in = imn[i] >= levs[2] && imn[i] < levs[1];
                if (band == 3) in = imn[i] < levs[2];
                if (in) imt[p * n + i] += std::min(std::max(ims[i], 0.0), 1.0);
            }
        }
    }
    for (double& v : imt.span()) v = std::max(std::min(1.0, v), 0.0);
    return imt;
}

// ---------------------------------------------------------------------------

ArrayD random_image(std::size_t rows, std::size_t cols, std::size_t planes, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    ArrayD a(rows, cols, planes);
    // Blocks of different contrast so that every band occurs.
    for (std::size_t p = 0; p < planes; ++p)
        for (std::size_t c = 0; c < cols; ++c)
            for (std::size_t r = 0; r < rows; ++r) {
                const double amp = (c < cols / 3) ? 1.0 : (c < 2 * cols / 3 ? 0.15 : 0.02);
                a(r, c, p) = 0.5 + amp * (u(gen) - 0.5);
            }
    return a;
}

void expect_in_unit_range(const ArrayD& a) {
    for (double v : a.span()) {
        ASSERT_FALSE(std::isnan(v));
        ASSERT_GE(v, 0.0);
        ASSERT_LE(v, 1.0);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Unit chain

TEST(UnitChain, ViewingDistanceAndResolutionInPixels) {
    const double d = viewing::viewing_distance(640, 20.0);
    EXPECT_NEAR(d, 1814.81, 0.005);
    EXPECT_NEAR(d, 320.0 / std::tan(10.0 * 3.14159265358979323846 / 180.0), 1e-9);
    EXPECT_NEAR(marpix(1.0, d), 0.52791, 5e-6);
    EXPECT_NEAR(marpix(0.1, d), 5.2791, 5e-5);
    EXPECT_NEAR(marpix(0.5, 1000.0), 2.0 / 60.0 / 180.0 * 3.14159265358979323846 * 1000.0, 1e-12);
}

TEST(UnitChain, KernelSizesForTheReferenceImage) {
    const double d = viewing::viewing_distance(640, 20.0);
    const double ac01 = marpix(0.1, d), ac1 = marpix(1.0, d);
    const double r2 = std::sqrt(2.0);
    EXPECT_EQ(blur_halfwidth(2 * ac01), 37.0);
    EXPECT_EQ(blur_halfwidth(r2 * ac01 / 2), 14.0);
    EXPECT_EQ(blur_halfwidth(r2 * ac01), 27.0);
    EXPECT_EQ(blur_halfwidth(r2 * ac01 * 2), 53.0);
    EXPECT_EQ(blur_halfwidth(2 * ac1), 4.0);
    EXPECT_EQ(blur_halfwidth(r2 * ac1 / 2), 2.0);
    EXPECT_EQ(blur_halfwidth(r2 * ac1), 3.0);
    EXPECT_EQ(blur_halfwidth(r2 * ac1 * 2), 6.0);
}

TEST(UnitChain, RefusesParametersOutsideTheirRange) {
    for (double w : {0.0, -5.0, 180.0, 200.0, kNaN, kInf})
        EXPECT_THROW(viewing::viewing_distance(640, w), Error) << w;
    for (double m : {0.0, -1.0, kNaN, kInf}) EXPECT_THROW(marpix(m, 1000.0), Error) << m;
}

// ---------------------------------------------------------------------------
// Band thresholds

TEST(BandLevels, DefaultAndContrastFactorTwo) {
    const auto d = band_levels();
    const double want[] = {0.93, 0.235551, 0.091247, 0.054062};
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(d[k], want[k], 1e-6) << k;
    const auto c = band_levels(0.1);
    const double want2[] = {0.93, 0.326119, 0.158182, 0.106126};
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(c[k], want2[k], 1e-6) << k;
}

TEST(BandLevels, DefaultThresholdGivenExplicitlyChangesNothing) {
    EXPECT_EQ(band_levels(0.05), band_levels());
    const ArrayD im = random_image(20, 24, 1, 4);
    EXPECT_TRUE(locblurim(im, 0.9, 0.05) == locblurim(im, 0.9));
}

TEST(BandLevels, MiddleThresholdGivenDirectly) {
    for (auto [ct10, ct3] : {std::pair{0.05, 0.2}, {0.08, 0.03}, {0.2, 0.9}}) {
        const auto got = band_levels(ct10, ct3);
        const auto want = ref_levels(ct10, ct3);
        for (int k = 0; k < 4; ++k) EXPECT_NEAR(got[k], want[k], 1e-12 * want[k]) << k;
    }
}

TEST(BandLevels, RefusesNonPositiveOrNonFiniteThresholds) {
    for (double v : {0.0, -0.05, kNaN, kInf}) {
        EXPECT_THROW(band_levels(v), Error) << v;
        EXPECT_THROW(band_levels(0.05, v), Error) << v;
        EXPECT_THROW(locblurim(ArrayD(5, 5, 1, 0.5), 1.0, v), Error) << v;
        EXPECT_THROW(locblurim(ArrayD(5, 5, 1, 0.5), 1.0, 0.05, v), Error) << v;
    }
}

// ---------------------------------------------------------------------------
// Local blur against the plain implementation

TEST(LocBlurIm, MatchesPlainImplementationGray) {
    for (auto [rows, cols, ac, seed] : {std::tuple{21u, 30u, 0.8, 1u}, {16u, 19u, 1.7, 2u}, {9u, 40u, 0.35, 3u},
                                        {1u, 1u, 0.5, 4u}, {1u, 17u, 0.9, 5u}, {13u, 1u, 1.2, 6u}}) {
        const ArrayD lum = random_image(rows, cols, 1, seed);
        const ArrayD got = locblurim(lum, ac);
        const ArrayD want = ref_locblurim(lum, ac);
        ASSERT_EQ(got.planes(), 1u);
        EXPECT_LT(max_abs_diff(got, want), 1e-12) << rows << "x" << cols << " ac " << ac;
        expect_in_unit_range(got);
    }
}

TEST(LocBlurIm, MatchesPlainImplementationColourAndThresholds) {
    const ArrayD lum = random_image(18, 27, 3, 11);
    for (auto [ct10, ct3] : {std::pair<std::optional<double>, std::optional<double>>{std::nullopt, std::nullopt},
                             {0.1, std::nullopt}, {0.02, 0.15}}) {
        const ArrayD got = locblurim(lum, 1.1, ct10, ct3);
        const ArrayD want = ref_locblurim(lum, 1.1, ct10, ct3);
        ASSERT_EQ(got.planes(), 3u);
        EXPECT_LT(max_abs_diff(got, want), 1e-12);
        expect_in_unit_range(got);
    }
}

TEST(LocBlurIm, SeparableEqualsDirectCorrelation) {
    const ArrayD lum = random_image(40, 52, 3, 5);
    const ArrayD fast = locblurim(lum, 1.4, 0.07, std::nullopt, Filtering::Separable);
    const ArrayD direct = locblurim(lum, 1.4, 0.07, std::nullopt, Filtering::Direct2D);
    EXPECT_LT(max_abs_diff(fast, direct), 1e-12);
    EXPECT_LT(max_abs_diff(local_contrast(to_array(lum.plane(0)), 2.0, Filtering::Separable),
                           local_contrast(to_array(lum.plane(0)), 2.0, Filtering::Direct2D)),
              1e-12);
}

TEST(LocBlurIm, TallImagesWorkedInBandsOfRowsMatch) {
    // More rows than one band of the fast form (256): bands meet inside the
    // image, and the last one is partial.
    const ArrayD colour = random_image(600, 21, 3, 15);
    EXPECT_LT(max_abs_diff(locblurim(colour, 1.3), ref_locblurim(colour, 1.3)), 1e-12);
    // Wide kernels (half-widths 50 and 36) reach across band boundaries.
    const ArrayD gray = random_image(530, 17, 1, 16);
    const ArrayD fast = locblurim(gray, 5.0);
    EXPECT_LT(max_abs_diff(fast, locblurim(gray, 5.0, std::nullopt, std::nullopt, Filtering::Direct2D)), 1e-12);
    ThreadCount tc(3);
    EXPECT_TRUE(locblurim(gray, 5.0) == fast);
}

TEST(LocBlurIm, OverlappingBandsAddUpAndAreClipped) {
    // ct10 = 8, ct3 = 0.15 put the third threshold above the second
    // (0.155 < 0.211): band 2 is empty and pixels between the two thresholds
    // count in bands 1 and 3 at once.
    const auto levs = band_levels(8.0, 0.15);
    ASSERT_GT(levs[2], levs[1]);
    // Bright image whose contrast grows from left to right.
    std::mt19937 gen(8);
    std::uniform_real_distribution<double> u(-0.5, 0.5);
    ArrayD lum(24, 60);
    for (std::size_t c = 0; c < 60; ++c)
        for (std::size_t r = 0; r < 24; ++r) lum(r, c) = 0.7 + 0.6 * (c / 60.0) * u(gen);
    const ArrayD imn = local_contrast(lum, 2.0);
    const ArrayD got = locblurim(lum, 1.0, 8.0, 0.15);
    EXPECT_LT(max_abs_diff(got, ref_locblurim(lum, 1.0, 8.0, 0.15)), 1e-12);
    expect_in_unit_range(got);
    // The doubled pixels hold two blurred values near 0.7 added, clipped to 1;
    // band 2 holds nobody.
    std::size_t both = 0;
    for (std::size_t i = 0; i < imn.numel(); ++i) {
        if (imn[i] >= levs[1] && imn[i] < levs[2]) {
            ++both;
            EXPECT_EQ(got[i], 1.0) << i;
        } else {
            EXPECT_LT(got[i], 1.0) << i;
        }
    }
    EXPECT_GT(both, 20u);
}

TEST(LocBlurIm, OnlyThreeEqualPlanesMeanGrayModeFromPlaneOne) {
    ArrayD lum = random_image(15, 22, 3, 6);
    const std::size_t n = 15 * 22;
    for (std::size_t i = 0; i < n; ++i) lum[n + i] = lum[2 * n + i] = lum[i];
    EXPECT_FALSE(is_colour(lum));
    const ArrayD got = locblurim(lum, 0.9);
    ASSERT_EQ(got.planes(), 1u);
    EXPECT_TRUE(got == locblurim(to_array(lum.plane(0)), 0.9));

    // Equal first two planes with a different third (a blue ramp, yellow on
    // black) are colour: the third plane is blurred as it is.
    for (std::size_t i = 0; i < n; ++i) lum[2 * n + i] = 1.0 - lum[i];
    EXPECT_TRUE(is_colour(lum));
    const ArrayD colour = locblurim(lum, 0.9);
    ASSERT_EQ(colour.planes(), 3u);
    EXPECT_LT(max_abs_diff(colour, ref_locblurim(lum, 0.9)), 1e-12);
    // Equal first and third planes, a different second: colour as well.
    for (std::size_t i = 0; i < n; ++i) {
        lum[2 * n + i] = lum[i];
        lum[n + i] = 0.5 * lum[i];
    }
    EXPECT_TRUE(is_colour(lum));
}

TEST(LocBlurIm, ColourPlanesShareTheBandOfTheGrayVersion) {
    // Plane 2 is plane 1 scaled: it differs, so colour mode; each output plane is
    // its own plane blurred with the per-pixel band of the gray version.
    ArrayD lum = random_image(17, 21, 3, 12);
    const std::size_t n = 17 * 21;
    for (std::size_t i = 0; i < n; ++i) lum[n + i] = 0.5 * lum[i];
    ASSERT_TRUE(is_colour(lum));
    const ArrayD got = locblurim(lum, 1.0);
    ASSERT_EQ(got.planes(), 3u);
    EXPECT_LT(max_abs_diff(got, ref_locblurim(lum, 1.0)), 1e-12);
}

TEST(LocBlurIm, UniformImageHasBorderBands) {
    // Uniform 0.5, ac = 1, ct10 = 0.05: distance 0..2 from the nearest border
    // (away from the corners) is band 1, 3..4 band 2, farther band 3.
    const std::size_t rows = 40, cols = 46;
    const ArrayD lum(rows, cols, 1, 0.5);
    const ArrayD imn = local_contrast(lum, 2.0);
    const auto levs = band_levels(0.05);
    auto band = [&](double v) { return v >= levs[1] ? 1 : (v >= levs[2] ? 2 : 3); };
    for (std::size_t d = 0; d < 12; ++d) {
        const int want = d <= 2 ? 1 : (d <= 4 ? 2 : 3);
        EXPECT_EQ(band(imn(d, cols / 2)), want) << "top, distance " << d;
        EXPECT_EQ(band(imn(rows - 1 - d, cols / 2)), want) << "bottom, distance " << d;
        EXPECT_EQ(band(imn(rows / 2, d)), want) << "left, distance " << d;
        EXPECT_EQ(band(imn(rows / 2, cols - 1 - d)), want) << "right, distance " << d;
    }
    EXPECT_LT(imn(rows / 2, cols / 2), 1e-7);  // zero but for rounding
    // Interior: band 3, the steep blur of scale 2 (half-width 11) of a constant.
    const ArrayD out = locblurim(lum, 1.0);
    EXPECT_NEAR(out(rows / 2, cols / 2), 0.5, 1e-13);
    // Near the border the zero outside the image changes the blurred values.
    EXPECT_GT(std::abs(out(0, cols / 2) - 0.5), 1e-4);
    EXPECT_GT(std::abs(out(rows / 2, 6) - 0.5), 1e-4);
    EXPECT_LT(max_abs_diff(out, ref_locblurim(lum, 1.0)), 1e-12);
    expect_in_unit_range(out);
}

TEST(LocBlurIm, ResultDoesNotDependOnThreadCount) {
    // ac 2.2: narrow kernels (half-widths up to 22); ac 4: wide ones (up to 40),
    // which filter rows through transposed strips.
    const ArrayD lum = random_image(83, 71, 3, 13);
    for (double ac : {2.2, 4.0}) {
        ArrayD first;
        for (unsigned n : {1u, 2u, 3u, 5u}) {
            ThreadCount tc(n);
            const ArrayD out = locblurim(lum, ac);
            if (first.empty()) {
                first = out;
            } else {
                EXPECT_TRUE(out == first) << n << " threads, ac " << ac;
            }
        }
        EXPECT_LT(max_abs_diff(first, locblurim(lum, ac, std::nullopt, std::nullopt, Filtering::Direct2D)), 1e-12);
    }
}

TEST(LocBlurIm, ExtremeButFiniteValuesGiveNoNaN) {
    ArrayD lum = random_image(12, 14, 1, 14);
    lum(3, 3) = 1e200;
    lum(5, 7) = -1e200;
    lum(8, 2) = -0.01;
    expect_in_unit_range(locblurim(lum, 1.0));
}

TEST(LocBlurIm, RefusesBadArguments) {
    const ArrayD lum = random_image(10, 10, 1, 1);
    for (double ac : {0.0, -1.0, kNaN, kInf, -kInf}) EXPECT_THROW(locblurim(lum, ac), Error) << ac;
    EXPECT_THROW(locblurim(ArrayD(6, 6, 2, 0.5), 1.0), Error);
    EXPECT_THROW(locblurim(ArrayD(6, 6, 4, 0.5), 1.0), Error);
    EXPECT_THROW(locblurim(ArrayD(), 1.0), Error);
    ArrayD bad = lum;
    bad(2, 2) = kNaN;
    EXPECT_THROW(locblurim(bad, 1.0), Error);
    bad(2, 2) = kInf;
    EXPECT_THROW(locblurim(bad, 1.0), Error);
}

TEST(LocBlurIm, RefusesAcuityFarTooLowQuickly) {
    // 10 x 10: limit 2 * 10 + 64 = 84; ac = 14 needs round(3.5 * 28 sqrt 2 + 0.5) = 139.
    const ArrayD lum = random_image(10, 10, 3, 2);
    EXPECT_NO_THROW(locblurim(lum, 8.0));  // half-width 80
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_THROW(locblurim(lum, 14.0), Error);
    EXPECT_THROW(locblurim(lum, 1e12), Error);
    EXPECT_THROW(locblurim(lum, 1e300), Error);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 1.0);
}

// ---------------------------------------------------------------------------
// The whole command computation

using testutil::random_u8;

TEST(FixIndepImage, FollowsTheUnitChain) {
    const ArrayU8 im = random_u8(25, 32, 3, 21);
    const double width = 4.0, mar = 0.6, contrastf = 1.5;
    const ArrayD got = fixindep::run(AnyImage(im), {width, mar, contrastf});

    // pixdist = 16 / tan(2 deg); marpix = (1 / 0.6) / 60 / 180 * pi * pixdist.
    const double pi = 3.14159265358979323846;
    const double ac = (1 / mar) / 60 / 180 * pi * (16.0 / std::tan(2.0 * pi / 180.0));
    ArrayD lum(25, 32, 3);
    for (std::size_t i = 0; i < lum.numel(); ++i) lum[i] = std::pow(im[i] / 255.0, 2.0);
    ArrayD want = ref_locblurim(lum, ac, contrastf * 0.05);
    for (double& v : want.span()) v = std::sqrt(std::max(std::min(v, 1.0), 0.0));
    ASSERT_EQ(got.planes(), 3u);
    EXPECT_LT(max_abs_diff(got, want), 1e-12);
    expect_in_unit_range(got);
}

TEST(FixIndepImage, OtherExponentsAndGrayInput) {
    const ArrayU8 im = random_u8(20, 25, 1, 22);
    const ArrayD got = fixindep::run(AnyImage(im), Params{10.0, 1.0, 1.0, 2.2, 1.8});
    const double pi = 3.14159265358979323846;
    const double ac = (1 / 1.0) / 60 / 180 * pi * (12.5 / std::tan(5.0 * pi / 180.0));
    ArrayD lum(20, 25);
    for (std::size_t i = 0; i < lum.numel(); ++i) lum[i] = std::pow(im[i] / 255.0, 2.2);
    ArrayD want = ref_locblurim(lum, ac, 0.05);
    for (double& v : want.span()) v = std::pow(std::max(std::min(v, 1.0), 0.0), 1 / 1.8);
    EXPECT_LT(max_abs_diff(got, want), 1e-12);
}

TEST(FixIndepImage, StoredGrayAsRgbGivesOnePlane) {
    ArrayU8 im = random_u8(19, 23, 3, 25);
    const std::size_t n = 19 * 23;
    ArrayU8 gray(19, 23);
    for (std::size_t i = 0; i < n; ++i) {
        im[n + i] = im[2 * n + i] = im[i];
        gray[i] = im[i];
    }
    const ArrayD got = fixindep::run(AnyImage(im), {8.0, 0.7, 1.2});
    ASSERT_EQ(got.planes(), 1u);
    EXPECT_TRUE(got == fixindep::run(AnyImage(gray), {8.0, 0.7, 1.2}));
}

TEST(FixIndepImage, BlueAndYellowImagesKeepTheirColours) {
    // Red and green equal, blue not: a blue ramp on black and a yellow square
    // on black. Blue must stay blue (not turn black) and yellow yellow (not white).
    const std::size_t rows = 24, cols = 30;
    ArrayU8 blue(rows, cols, 3), yellow(rows, cols, 3);
    for (std::size_t c = 0; c < cols; ++c)
        for (std::size_t r = 0; r < rows; ++r) {
            blue(r, c, 2) = static_cast<std::uint8_t>(8 * c + 7);
            const bool inside = r >= 6 && r < 18 && c >= 8 && c < 22;
            yellow(r, c, 0) = yellow(r, c, 1) = inside ? 255 : 0;
        }
    for (const ArrayU8* im : {&blue, &yellow}) {
        const ArrayD got = run(AnyImage(*im), {20.0, 1.0, 1.0});
        ASSERT_EQ(got.planes(), 3u);
        ArrayD lum(rows, cols, 3);
        for (std::size_t i = 0; i < lum.numel(); ++i) lum[i] = ((*im)[i] / 255.0) * ((*im)[i] / 255.0);
        const double ac = (1 / 1.0) / 60 / 180 * 3.14159265358979323846 * (15.0 / std::tan(10.0 * 3.14159265358979323846 / 180.0));
        ArrayD want = ref_locblurim(lum, ac, 0.05);
        for (double& v : want.span()) v = std::sqrt(std::max(std::min(v, 1.0), 0.0));
        EXPECT_LT(max_abs_diff(got, want), 1e-12);
    }
    // In the middle of the ramp and of the square, far from any edge: the
    // blue stays its own value and the yellow has no blue.
    const ArrayD b = run(AnyImage(blue), {20.0, 1.0, 1.0});
    EXPECT_NEAR(b(12, 15, 2), (8 * 15 + 7) / 255.0, 0.02);
    EXPECT_EQ(b(12, 15, 0), 0.0);
    const ArrayD y = run(AnyImage(yellow), {20.0, 1.0, 1.0});
    EXPECT_NEAR(y(12, 15, 0), 1.0, 1e-6);
    EXPECT_EQ(y(12, 15, 2), 0.0);
}

TEST(FixIndepImage, SixteenBitSamples) {
    std::mt19937 gen(26);
    std::uniform_int_distribution<int> u(0, 65535);
    ArrayU16 im(17, 21, 3);
    for (auto& v : im.span()) v = static_cast<std::uint16_t>(u(gen));
    const ArrayD got = fixindep::run(AnyImage(im), {6.0, 0.8, 0.9});
    const double pi = 3.14159265358979323846;
    const double ac = (1 / 0.8) / 60 / 180 * pi * (10.5 / std::tan(3.0 * pi / 180.0));
    ArrayD lum(17, 21, 3);
    for (std::size_t i = 0; i < lum.numel(); ++i) lum[i] = std::pow(im[i] / 65535.0, 2.0);
    ArrayD want = ref_locblurim(lum, ac, 0.9 * 0.05);
    for (double& v : want.span()) v = std::sqrt(v);
    EXPECT_LT(max_abs_diff(got, want), 1e-12);
}

TEST(FixIndepImage, SampleTypesUseTheirFullScale) {
    ArrayU8 a8(6, 7);
    ArrayU16 a16(6, 7);
    ArrayL al(6, 7);
    ArrayD ad(6, 7);
    for (std::size_t i = 0; i < 42; ++i) {
        a8[i] = static_cast<std::uint8_t>(i * 6);
        a16[i] = static_cast<std::uint16_t>(i * 6 * 257);  // the same fractions of full scale
        al[i] = (i % 3 == 0) ? Logical::True : Logical::False;
        ad[i] = static_cast<double>(i) / 41.0;
    }
    const ArrayD l8 = luminance(AnyImage(a8), 2.0);
    const ArrayD l16 = luminance(AnyImage(a16), 2.0);
    for (std::size_t i = 0; i < 42; ++i) {
        EXPECT_DOUBLE_EQ(l8[i], std::pow(i * 6 / 255.0, 2.0));
        EXPECT_NEAR(l16[i], l8[i], 1e-15);
    }
    const ArrayD ll = luminance(AnyImage(al), 2.0);
    for (std::size_t i = 0; i < 42; ++i) EXPECT_EQ(ll[i], i % 3 == 0 ? 1.0 : 0.0);
    ad[0] = -0.5;
    ad[1] = 1.5;
    const ArrayD ld = luminance(AnyImage(ad), 2.0);
    EXPECT_EQ(ld[0], 0.0);
    EXPECT_EQ(ld[1], 1.0);
    EXPECT_DOUBLE_EQ(ld[20], std::pow(20.0 / 41.0, 2.0));
    ad[5] = kNaN;
    EXPECT_THROW(luminance(AnyImage(ad), 2.0), Error);
}

// The square without pow gives pow's own result to the bit: random samples,
// squares near a midpoint between two doubles (where pow itself is called),
// tiny values whose squares are not normal numbers, the ends, and another
// exponent.
TEST(FixIndepImage, PowOfUnitIsPowToTheBit) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int near_midpoint = 0;
    for (int i = 0; i < 2000000; ++i) {
        const double v = unit(rng);
        const double r = std::fma(v, v, -v * v), ulp = std::nextafter(v * v, 2.0) - v * v;
        if (std::abs(r) > 0.45 * ulp) ++near_midpoint;
        ASSERT_EQ(pow_of_unit(v, 2.0), std::pow(v, 2.0)) << std::hexfloat << v;
    }
    EXPECT_GT(near_midpoint, 100000);  // the fallback was exercised
    for (double v : {0.0, 1.0, 0x1p-500, 0x1p-520, 0x1p-540, 5e-324, 1e-160, 0.5, 0x1.fffffffffffffp-1})
        EXPECT_EQ(pow_of_unit(v, 2.0), std::pow(v, 2.0)) << std::hexfloat << v;
    for (int i = 0; i < 1000; ++i) {
        const double v = unit(rng);
        ASSERT_EQ(pow_of_unit(v, 2.2), std::pow(v, 2.2));
    }
}

TEST(FixIndepImage, ResultDoesNotDependOnThreadCount) {
    const AnyImage im = random_u8(64, 90, 3, 23);
    ArrayD first;
    for (unsigned n : {1u, 2u, 4u}) {
        ThreadCount tc(n);
        const ArrayD out = fixindep::run(im, {5.0, 0.3, 1.0});
        if (first.empty()) {
            first = out;
        } else {
            EXPECT_TRUE(out == first) << n << " threads";
        }
    }
}

TEST(FixIndepImage, RefusesBadParametersAndShapes) {
    const AnyImage im = random_u8(8, 8, 3, 24);
    for (double w : {0.0, -20.0, 180.0, 400.0, kNaN, kInf})
        EXPECT_THROW(fixindep::run(im, {w, 1.0, 1.0}), Error);
    for (double m : {0.0, -1.0, kNaN, kInf}) EXPECT_THROW(fixindep::run(im, {20.0, m, 1.0}), Error);
    for (double f : {0.0, -1.0, kNaN, kInf}) EXPECT_THROW(fixindep::run(im, {20.0, 1.0, f}), Error);
    for (double p : {0.0, -2.0, kNaN, kInf}) {
        EXPECT_THROW(fixindep::run(im, {20.0, 1.0, 1.0, p, 2.0}), Error);
        EXPECT_THROW(fixindep::run(im, {20.0, 1.0, 1.0, 2.0, p}), Error);
    }
    EXPECT_THROW(fixindep::run(AnyImage(random_u8(8, 8, 2, 1)), {20.0, 1.0, 1.0}), Error);
    EXPECT_THROW(fixindep::run(AnyImage(random_u8(8, 8, 4, 1)), {20.0, 1.0, 1.0}), Error);
}

TEST(FixIndepImage, RefusesTinyAcuityWithoutHugeWork) {
    // Acuity 0.0001 on 640 x 480, width 20: ac = 5279 pixels, kernels of half-width
    // about 52000, far beyond the limit 2 * 640 + 64.
    const AnyImage im = ArrayU8(480, 640, 3, 128);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_THROW(fixindep::run(im, {20.0, 0.0001, 1.0}), Error);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 1.0);
}

// ---------------------------------------------------------------------------
// ocumbra-sim fixindep, run in-process

namespace {

using testutil::read_npy_f8;
using testutil::TempDir;

int run(const std::vector<std::string>& args) {
    std::fflush(stderr);
    return ocu::cli::run_fixindep(args);
}

}  // namespace

TEST(FixIndepCommand, NpyOutputIsExactlyTheComputedResult) {
    TempDir dir;
    const std::string input = dir.file("in.png");
    imwrite(AnyImage(random_u8(30, 41, 3, 31)), input);
    const AnyImage stored = imread(input);

    ASSERT_EQ(run({input, dir.file("default.npy")}), 0);
    const ArrayD got = read_npy_f8(dir.file("default.npy"));
    const ArrayD want = fixindep::run(stored, {20.0, 1.0, 1.0});
    ASSERT_TRUE(got.same_size(want));
    EXPECT_EQ(std::memcmp(got.data(), want.data(), 8 * want.numel()), 0);

    ASSERT_EQ(run({"--width", "7", "--acuity=0.4", "--contrast", "2.5", input, dir.file("set.NPY")}), 0);
    const ArrayD got2 = read_npy_f8(dir.file("set.NPY"));
    const ArrayD want2 = fixindep::run(stored, {7.0, 0.4, 2.5});
    ASSERT_TRUE(got2.same_size(want2));
    EXPECT_EQ(std::memcmp(got2.data(), want2.data(), 8 * want2.numel()), 0);
    EXPECT_FALSE(got2 == got);

    // Any other extension goes through the image writer.
    ASSERT_EQ(run({input, dir.file("out.png")}), 0);
    const AnyImage png = imread(dir.file("out.png"));
    ASSERT_TRUE(std::holds_alternative<ArrayU8>(png));
    ArrayD scaled = want;
    for (double& v : scaled.span()) v *= 255.0;
    EXPECT_TRUE(std::get<ArrayU8>(png) == to_uint8(scaled));
}

TEST(FixIndepCommand, BadValuesFailWithoutOutput) {
    TempDir dir;
    const std::string input = dir.file("in.png");
    imwrite(AnyImage(random_u8(12, 15, 1, 32)), input);
    const std::string out = dir.file("o.npy");
    // Option values out of range: exit status 2, as every subcommand does.
    EXPECT_EQ(run({"--acuity", "0", input, out}), 2);
    EXPECT_EQ(run({"--acuity", "-1", input, out}), 2);
    EXPECT_EQ(run({"--width", "0", input, out}), 2);
    EXPECT_EQ(run({"--width", "180", input, out}), 2);
    EXPECT_EQ(run({"--contrast", "0", input, out}), 2);
    // Values the computation refuses for this image, and a missing file: 1.
    EXPECT_EQ(run({"--acuity", "0.0001", input, out}), 1);
    EXPECT_EQ(run({dir.file("missing.png"), out}), 1);
    // Malformed command lines: exit status 2.
    EXPECT_EQ(run({"--acuity", "abc", input, out}), 2);
    EXPECT_EQ(run({"--acuity", "nan", input, out}), 2);
    EXPECT_EQ(run({"--blur", "3", input, out}), 2);
    EXPECT_EQ(run({input}), 2);
    EXPECT_EQ(run({input, out, dir.file("extra.npy")}), 2);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(FixindepRun, ReportsRisingProgressAndStopsWhenAsked) {
    // Progress changes nothing; the fractions rise to 1; a stop asked for
    // ends the run at its next report with Stopped.
    const AnyImage im = AnyImage(random_image(300, 40, 3, 21));
    const fixindep::Params p{.width = 10, .mar = 0.3};
    std::vector<double> seen;
    std::atomic<bool> stop{false};
    const Progress progress([&](double f) { seen.push_back(f); }, &stop);
    EXPECT_TRUE(fixindep::run(im, p, &progress) == fixindep::run(im, p));
    ASSERT_GT(seen.size(), 3u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.back(), 1.0);
    int calls = 0;
    const Progress stopping([&](double) { stop = ++calls == 2; }, &stop);
    EXPECT_THROW(fixindep::run(im, p, &stopping), Stopped);
    EXPECT_EQ(calls, 2) << "stopped at the report after the one that asked";
}
