// Resolution map: the worked values for a 640 x 480 image at 20 degrees, the
// polar lookup, the combination rules, a plain pixel-by-pixel implementation
// compared on random polar plots, and refused inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "fixdep/resmap.hpp"
#include "fixdep/simulation.hpp"

using namespace ocu;
using namespace ocu::fixdep;

namespace {

// 640 x 480 image, width 20 degrees: (640 / 2) / tan(10 degrees).
const double kPixdist = 1814.810182277667;

// A three-plane polar plot whose blue plane is f(row, col) (1-based) modulo 256.
template <class F>
ArrayU8 polar_plot(F f, std::size_t rows = 400, std::size_t cols = 400) {
    ArrayU8 p(rows, cols, 3);
    for (std::size_t c = 0; c < cols; ++c)
        for (std::size_t r = 0; r < rows; ++r) {
            p(r, c, 0) = 17;  // red and green must not matter
            p(r, c, 1) = 230;
            p(r, c, 2) = static_cast<std::uint8_t>(f(r + 1, c + 1));
        }
    return p;
}

ArrayU8 uniform_plot(std::uint8_t blue) {
    return polar_plot([blue](std::size_t, std::size_t) { return blue; });
}

// 1-based map access.
double at1(const ArrayD& m, std::size_t row, std::size_t col) { return m(row - 1, col - 1); }

}  // namespace

TEST(ResmapGeometry, ViewingDistanceOf640ColumnsAt20Degrees) {
    EXPECT_NEAR(viewing::viewing_distance(640, 20.0), 1814.81, 0.005);
    EXPECT_NEAR(viewing::viewing_distance(640, 20.0), kPixdist, 1e-9);
}

TEST(ResmapWorkedValues, NormalVisionAtCentreAndOffCentre) {
    const ArrayD res = standresmap(1280, 960, kPixdist);
    ASSERT_EQ(res.rows(), 960u);
    ASSERT_EQ(res.cols(), 1280u);
    // Centre (row 480, column 640): 2.431489 before the cap, 1 after it.
    EXPECT_EQ(at1(res, 480, 640), 1.0);
    // 300 columns right: ecc 9.386482, gsm 6.453444, gsp 3.499913.
    EXPECT_NEAR(at1(res, 480, 940), 0.366752, 1e-6);
    // 400 rows above: ecc 12.429754, gsm 9.091575.
    EXPECT_NEAR(at1(res, 80, 640), 0.255054, 1e-6);
    // Normal vision depends only on the distance: 300 columns left equals right.
    EXPECT_EQ(at1(res, 480, 340), at1(res, 480, 940));
    // Never above 1, falling outwards.
    EXPECT_LT(at1(res, 480, 1280), at1(res, 480, 940));
    for (double v : res.span()) ASSERT_LE(v, 1.0);
}

TEST(ResmapWorkedValues, AcuityLimitIsNotCapped) {
    const ArrayD m1 = minresmap(1.0, 1280, 960, kPixdist);
    EXPECT_NEAR(at1(m1, 480, 640), 2.431489, 1e-6);
    const ArrayD m10 = minresmap(10.0, 1280, 960, kPixdist);
    EXPECT_NEAR(at1(m10, 480, 640), 0.243149, 1e-6);
    // 300 columns out: 0.6418 / (minmar * (300^2 + d^2) * (pi/10800 / d) / 2).
    EXPECT_NEAR(at1(m1, 480, 940), 2.3668132786636, 1e-9);
    EXPECT_NEAR(at1(m10, 480, 940), 0.23668132786636, 1e-10);
}

TEST(ResmapPolarLookup, SamplesTheWorkedPlotPixels) {
    // Blue = plot column, or plot row, so each map value names where it was read.
    const ArrayU8 by_col = polar_plot([](std::size_t, std::size_t c) { return c; });
    const ArrayU8 by_row = polar_plot([](std::size_t r, std::size_t) { return r; });
    const ArrayD mc = degradationmapim(by_col, 1280, 960, kPixdist);
    const ArrayD mr = degradationmapim(by_row, 1280, 960, kPixdist);
    auto index = [](double v) { return std::lround(v * 255.0); };
    // Centre: plot (200, 200).
    EXPECT_EQ(index(at1(mr, 480, 640)), 200);
    EXPECT_EQ(index(at1(mc, 480, 640)), 200);
    // 300 columns right: plot row 200, column 218 (18.3847 plot pixels out).
    EXPECT_EQ(index(at1(mr, 480, 940)), 200);
    EXPECT_EQ(index(at1(mc, 480, 940)), 218);
    // 300 columns left: column 200 - 18.3847 -> 182.
    EXPECT_EQ(index(at1(mc, 480, 340)), 182);
    // 400 rows above: plot row 176 (24.3454 up), column 200; up is up.
    EXPECT_EQ(index(at1(mr, 80, 640)), 176);
    EXPECT_EQ(index(at1(mc, 80, 640)), 200);
    // 400 rows below: row 224.
    EXPECT_EQ(index(at1(mr, 880, 640)), 224);
}

TEST(ResmapPolarLookup, ReadsOnlyTheBluePlaneScaledBy255) {
    ArrayU8 p = uniform_plot(51);
    for (std::size_t c = 0; c < 400; ++c)
        for (std::size_t r = 0; r < 400; ++r) {
            p(r, c, 0) = static_cast<std::uint8_t>(r);
            p(r, c, 1) = static_cast<std::uint8_t>(c);
        }
    const ArrayD m = degradationmapim(p, 40, 30, 100.0);
    for (double v : m.span()) ASSERT_DOUBLE_EQ(v, 51.0 / 255.0);
}

TEST(ResmapPolarLookup, CentreIsUnroundedHalfSizeForOddMaps) {
    // A 5 x 5 map has its degradation centre at (2.5, 2.5); pixel (2, 3) is
    // half a pixel above and right of it: direction (0.5, -0.5) / (0.7071 + 0.001).
    // With a very short viewing distance the eccentricity is near 90 degrees:
    // atan(0.70711 / 0.01) = 89.19 degrees -> radius 174.69 plot pixels.
    const ArrayU8 by_col = polar_plot([](std::size_t, std::size_t c) { return c - 100; });
    const ArrayU8 by_row = polar_plot([](std::size_t r, std::size_t) { return r; });
    const ArrayD mc = degradationmapim(by_col, 5, 5, 0.01);
    const ArrayD mr = degradationmapim(by_row, 5, 5, 0.01);
    // 174.69 * 0.5 / 0.70811 = 123.35 -> column 323, row 77.
    EXPECT_EQ(std::lround(at1(mc, 2, 3) * 255.0), 323 - 100);
    EXPECT_EQ(std::lround(at1(mr, 2, 3) * 255.0), 77);
    // The standard map of the same size is centred at (round(2.5), round(2.5)) = (3, 3).
    const ArrayD s = standresmap(5, 5, 100.0);
    EXPECT_EQ(at1(s, 3, 3), 1.0);
    EXPECT_EQ(at1(s, 3, 2), at1(s, 3, 4));
    EXPECT_EQ(at1(s, 2, 3), at1(s, 4, 3));
    EXPECT_EQ(at1(s, 1, 1), at1(s, 5, 5));
}

TEST(ResmapCombined, BlindPartsAreExactlyZeroAndSeenPartsTheSmallerLimit) {
    // Right half of the field blind (plot columns > 200), left half normal.
    const ArrayU8 p = polar_plot([](std::size_t, std::size_t c) { return c > 200 ? 0 : 255; });
    for (double minmar : {0.1, 1.0, 10.0}) {
        const ArrayD restot = resmaptotim(p, 640, 480, kPixdist, minmar);
        ASSERT_EQ(restot.rows(), 960u);
        ASSERT_EQ(restot.cols(), 1280u);
        EXPECT_EQ(at1(restot, 480, 940), 0.0);
        EXPECT_EQ(at1(restot, 100, 1200), 0.0);
        // 300 columns left: min(0.366752, 2.366813 / minmar).
        EXPECT_NEAR(at1(restot, 480, 340), std::min(0.366752, 2.3668132786636 / minmar), 1e-6);
        // Centre: min(1, 2.431489 / minmar).
        EXPECT_NEAR(at1(restot, 480, 640), std::min(1.0, 2.431489 / minmar), 1e-6);
        for (double v : restot.span()) ASSERT_TRUE(v >= 0.0 && v <= 1.0);
    }
}

TEST(ResmapCombined, PartialSensitivityScalesNormalVision) {
    const ArrayD restot = resmaptotim(uniform_plot(102), 640, 480, kPixdist, 1.0);
    // 0.4 * 0.366752 (the acuity limit 2.37 is far above).
    EXPECT_NEAR(at1(restot, 480, 940), 0.4 * 0.366752, 1e-6);
    EXPECT_NEAR(at1(restot, 480, 640), 0.4, 1e-12);
}

// ---------------------------------------------------------------------------
// A plain implementation, written from the formulas pixel by pixel with the
// three maps kept apart, against the fused one on random plots and sizes.

namespace {

ArrayD plain_resmap(const ArrayU8& im, std::size_t sx, std::size_t sy, double pixdist,
                    double minmar) {
    const std::size_t R = 2 * sy, C = 2 * sx;
    const double k = 0.0002908882086657216;
    const double cr = std::round(R / 2.0), cc = std::round(C / 2.0);  // standard, acuity
    const double dr = R / 2.0, dc = C / 2.0;                          // degradation
    ArrayD out(R, C);
    for (std::size_t col = 1; col <= C; ++col)
        for (std::size_t row = 1; row <= R; ++row) {
            // standresmap
            double X = col - cc, Y = row - cr;
            double rd = std::sqrt(X * X + Y * Y);
            double ecc = std::atan(rd / pixdist) * 57.29577951308232;
            double gsm = 0.023 * std::pow(ecc, 2) + 0.3651 * ecc + 1.0;
            double gsp = (k / pixdist) * (std::pow(rd, 2) + std::pow(pixdist, 2)) * gsm;
            double res0 = std::min(0.6418 / (gsp / 2), 1.0);
            // minresmap
            double gspm = minmar * (std::pow(rd, 2) + std::pow(pixdist, 2)) * (k / pixdist);
            double subres = 0.6418 / (gspm / 2);
            // degradationmapim
            double Xd = col - dc, Yd = row - dr;
            double rdd = std::sqrt(Xd * Xd + Yd * Yd);
            double eccd = std::atan(rdd / pixdist) * 57.29577951308232;
            double rpol = (176.2774 / 90) * eccd;
            double ex = Xd / (rdd + 0.001), ey = Yd / (rdd + 0.001);
            long xpol = std::lround(rpol * ex + 200), ypol = std::lround(rpol * ey + 200);
            double msk = im(ypol - 1, xpol - 1, 2) / 255.0;
            out(row - 1, col - 1) = std::min(res0 * msk, subres);
        }
    return out;
}

}  // namespace

TEST(ResmapIndependent, FusedMapEqualsPlainMapOnRandomPlots) {
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<int> byte(0, 255);
    struct Case {
        std::size_t sx, sy, prow, pcol;
        double pixdist, minmar;
    };
    const Case cases[] = {{1, 1, 376, 376, 50.0, 1.0},     {2, 3, 400, 400, 0.7, 0.5},
                          {7, 5, 380, 390, 3.3, 2.0},      {33, 20, 376, 500, 21.9, 0.17},
                          {64, 47, 400, 400, 181.4, 1.3},  {101, 60, 420, 377, 35.0, 5.0},
                          {50, 90, 400, 400, 1e4, 0.02}};
    for (const auto& t : cases) {
        ArrayU8 p(t.prow, t.pcol, 3);
        for (auto& v : p.span()) v = static_cast<std::uint8_t>(byte(rng));
        const ArrayD fused = resmaptotim(p, t.sx, t.sy, t.pixdist, t.minmar);
        const ArrayD plain = plain_resmap(p, t.sx, t.sy, t.pixdist, t.minmar);
        ASSERT_TRUE(fused.same_size(plain)) << t.sx << " x " << t.sy;
        std::size_t bad = 0;
        for (std::size_t i = 0; i < plain.numel(); ++i)
            if (!(std::abs(fused[i] - plain[i]) <= 1e-12 * std::max(1.0, std::abs(plain[i])))) ++bad;
        EXPECT_EQ(bad, 0u) << "map of image " << t.sx << " x " << t.sy << ", pixdist " << t.pixdist;
        for (double v : fused.span()) ASSERT_TRUE(v >= 0.0 && v <= 1.0);
    }
}

TEST(ResmapIndependent, SeparateMapsCombineToTheFusedMap) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255);
    ArrayU8 p(400, 400, 3);
    for (auto& v : p.span()) v = static_cast<std::uint8_t>(byte(rng));
    const std::size_t sx = 45, sy = 31;
    const double pixdist = 60.0, minmar = 0.8;
    const ArrayD s = standresmap(2 * sx, 2 * sy, pixdist);
    const ArrayD d = degradationmapim(p, 2 * sx, 2 * sy, pixdist);
    const ArrayD m = minresmap(minmar, 2 * sx, 2 * sy, pixdist);
    const ArrayD fused = resmaptotim(p, sx, sy, pixdist, minmar);
    for (std::size_t i = 0; i < fused.numel(); ++i)
        ASSERT_EQ(fused[i], std::min(s[i] * d[i], m[i])) << "element " << i;
}

// ---------------------------------------------------------------------------
// Refused inputs.

TEST(ResmapRefusesBadInput, PolarPlotOfWrongShapeNamesFoundAndNeededSize) {
    auto message = [](const AnyImage& plot) -> std::string {
        try {
            resmaptotim(plot, 10, 10, 100.0, 1.0);
        } catch (const Error& e) {
            return e.what();
        }
        return "no error";
    };
    const std::string small_rows = message(ArrayU8(375, 400, 3, 255));
    // Sizes as width x height in pixels.
    EXPECT_NE(small_rows.find("400 \u00D7 375"), std::string::npos) << small_rows;
    EXPECT_NE(small_rows.find("376 \u00D7 376"), std::string::npos) << small_rows;
    const std::string small_cols = message(ArrayU8(400, 300, 3, 255));
    EXPECT_NE(small_cols.find("300 \u00D7 400"), std::string::npos) << small_cols;
    const std::string gray = message(ArrayU8(400, 400, 1, 255));
    EXPECT_NE(gray.find("1 plane"), std::string::npos) << gray;
    EXPECT_NE(gray.find("3 planes"), std::string::npos) << gray;
    const std::string two = message(ArrayU8(400, 400, 2, 255));
    EXPECT_NE(two.find("2 planes"), std::string::npos) << two;
    const std::string four = message(ArrayU8(400, 400, 4, 255));
    EXPECT_NE(four.find("4 planes"), std::string::npos) << four;
    EXPECT_EQ(message(ArrayU8()).find("no error"), std::string::npos);
    // The smallest accepted plot works.
    EXPECT_EQ(message(ArrayU8(376, 376, 3, 255)), "no error");
    EXPECT_THROW(degradationmapim(ArrayU8(375, 376, 3), 4, 4, 10.0), Error);
}

TEST(ResmapRefusesBadInput, DistanceAndAngleMustBePositiveAndFinite) {
    const ArrayU8 p = uniform_plot(255);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {0.0, -5.0, nan, inf}) {
        EXPECT_THROW(resmaptotim(p, 8, 8, bad, 1.0), Error) << bad;
        EXPECT_THROW(resmaptotim(p, 8, 8, 100.0, bad), Error) << bad;
        EXPECT_THROW(standresmap(8, 8, bad), Error) << bad;
        EXPECT_THROW(minresmap(1.0, 8, 8, bad), Error) << bad;
        EXPECT_THROW(minresmap(bad, 8, 8, 100.0), Error) << bad;
        EXPECT_THROW(degradationmapim(p, 8, 8, bad), Error) << bad;
    }
}
