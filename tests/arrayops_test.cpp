#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "toolkit/arrayops.hpp"
#include "toolkit/memory.hpp"
#include "toolkit/parallel.hpp"
#include "testutil.hpp"

using namespace ocu;
using ocu::testutil::max_abs_diff;
using ocu::testutil::ThreadCount;

namespace {

// Same-size correlation written straight from its definition (1-based, as
// the definition reads): Y(r, c) = sum K(i, j) X(r + i - (kr+1)/2, c + j - (kc+1)/2).
ArrayD reference_correlation(const ArrayD& x, const ArrayD& k) {
    const long m = static_cast<long>(x.rows()), n = static_cast<long>(x.cols());
    const long kr = static_cast<long>(k.rows()), kc = static_cast<long>(k.cols());
    ArrayD y(x.rows(), x.cols());
    for (long r = 1; r <= m; ++r)
        for (long c = 1; c <= n; ++c) {
            double s = 0.0;
            for (long i = 1; i <= kr; ++i)
                for (long j = 1; j <= kc; ++j) {
                    const long xr = r + i - (kr + 1) / 2, xc = c + j - (kc + 1) / 2;
                    if (xr < 1 || xr > m || xc < 1 || xc > n) continue;
                    s += k(static_cast<std::size_t>(i - 1), static_cast<std::size_t>(j - 1)) *
                         x(static_cast<std::size_t>(xr - 1), static_cast<std::size_t>(xc - 1));
                }
            y(static_cast<std::size_t>(r - 1), static_cast<std::size_t>(c - 1)) = s;
        }
    return y;
}

ArrayD random_array(std::mt19937& rng, std::size_t rows, std::size_t cols, double lo = 0.0, double hi = 1.0) {
    std::uniform_real_distribution<double> u(lo, hi);
    ArrayD a(rows, cols);
    for (auto& v : a.span()) v = u(rng);
    return a;
}

std::vector<double> random_vector(std::mt19937& rng, std::size_t n) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> v(n);
    for (auto& x : v) x = u(rng);
    return v;
}

ArrayD outer(const std::vector<double>& col, const std::vector<double>& row) {
    ArrayD k(col.size(), row.size());
    for (std::size_t i = 0; i < col.size(); ++i)
        for (std::size_t j = 0; j < row.size(); ++j) k(i, j) = col[i] * row[j];
    return k;
}

}  // namespace

TEST(ArrayStorage, SpanInStorageOrderAndReleaseHandsItOver) {
    // 2 x 3 x 2: element (r, c, p) at p * 6 + c * 2 + r.
    ArrayD a(2, 3, 2);
    for (std::size_t i = 0; i < a.numel(); ++i) a.span()[i] = static_cast<double>(i);
    EXPECT_EQ(a(1, 2, 0), 5.0);
    EXPECT_EQ(a(0, 1, 1), 8.0);
    const double* storage = a.data();
    ArrayD::Storage v = std::move(a).release();
    ASSERT_EQ(v.size(), 12u);
    EXPECT_EQ(v.data(), storage);  // taken over, not copied
    EXPECT_EQ(v[11], 11.0);
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(a.rows(), 0u);
    EXPECT_EQ(a.cols(), 0u);
    EXPECT_EQ(a.planes(), 1u);
}

TEST(ArrayStorage, UninitializedArraysHaveTheirSizeAndKeepWhatIsWritten) {
    ArrayD u = ArrayD::uninitialized(3, 4, 2);
    EXPECT_EQ(u.rows(), 3u);
    EXPECT_EQ(u.cols(), 4u);
    EXPECT_EQ(u.planes(), 2u);
    ASSERT_EQ(u.numel(), 24u);
    for (std::size_t i = 0; i < u.numel(); ++i) u[i] = 0.5 * static_cast<double>(i);
    EXPECT_EQ(u(2, 3, 1), 11.5);  // (1 * 4 + 3) * 3 + 2 = 23
    const ArrayU8 none = ArrayU8::uninitialized(0, 5);
    EXPECT_TRUE(none.empty());
    EXPECT_THROW((void)ArrayD::uninitialized(std::size_t{1} << 20, std::size_t{1} << 20, 4), Error);

    const ArrayD big = uninitialized_array(2, 3, 2, Pages::Huge);
    EXPECT_TRUE(big.rows() == 2 && big.cols() == 3 && big.planes() == 2 && big.numel() == 12);
    EXPECT_EQ(zeroed_array(2, 3, 2, Pages::MapAhead), ArrayD(2, 3, 2, 0.0));

    // Copies are deep; storage is taken over, a std::vector is copied.
    ArrayD copy = u;
    copy[0] = -1.0;
    EXPECT_EQ(u[0], 0.0);
    ArrayD::Storage s(6, 2.0);
    const double* where = s.data();
    const ArrayD taken(2, 3, 1, std::move(s));
    EXPECT_EQ(taken.data(), where);
    const std::vector<double> v(6, 2.0);
    const ArrayD copied(2, 3, 1, v);
    EXPECT_NE(copied.data(), v.data());
    EXPECT_EQ(copied, taken);
    EXPECT_THROW(ArrayD(2, 2, 1, v), Error);  // the data must match the size
}

TEST(Rounding, HalvesAwayFromZero) {
    EXPECT_EQ(round_half_away(0.5), 1.0);
    EXPECT_EQ(round_half_away(1.5), 2.0);
    EXPECT_EQ(round_half_away(2.5), 3.0);
    EXPECT_EQ(round_half_away(-2.5), -3.0);
    EXPECT_EQ(round_half_away(5.5), 6.0);
    EXPECT_EQ(round_half_away(-0.5), -1.0);
    EXPECT_EQ(round_half_away(-1.5), -2.0);
    EXPECT_EQ(round_half_away(0.49999999999999994), 0.0);
    EXPECT_EQ(round_half_away(2.4), 2.0);
    EXPECT_EQ(round_half_away(-2.6), -3.0);
}

TEST(Uint8Conversion, RoundsThenSaturates) {
    EXPECT_EQ(to_uint8(255.0 * (128.0 / 255.0) * (128.0 / 255.0)), 64);  // 64.25
    EXPECT_EQ(to_uint8(255.6), 255);
    EXPECT_EQ(to_uint8(-3.0), 0);
    EXPECT_EQ(to_uint8(0.5), 1);
    EXPECT_EQ(to_uint8(254.5), 255);
    EXPECT_EQ(to_uint8(127.5), 128);
    EXPECT_EQ(to_uint8(0.49), 0);
    EXPECT_EQ(to_uint8(-0.6), 0);
    EXPECT_EQ(to_uint8(1e300), 255);
    EXPECT_EQ(to_uint8(std::numeric_limits<double>::infinity()), 255);
    EXPECT_EQ(to_uint8(-std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(to_uint8(std::numeric_limits<double>::quiet_NaN()), 0);

    ArrayD a(1, 4);
    a[0] = 64.25;
    a[1] = 255.6;
    a[2] = -3.0;
    a[3] = 99.5;
    const ArrayU8 u = to_uint8(a);
    ASSERT_EQ(u.cols(), 4u);
    EXPECT_EQ(u[0], 64);
    EXPECT_EQ(u[1], 255);
    EXPECT_EQ(u[2], 0);
    EXPECT_EQ(u[3], 100);
}

TEST(DoubleConversion, ExactValuesAndShape) {
    ArrayU8 u(2, 1, 2);
    u[0] = 128;
    u[1] = 0;
    u[2] = 255;
    u[3] = 7;
    const ArrayD d = to_double(u);
    ASSERT_EQ(d.rows(), 2u);
    ASSERT_EQ(d.cols(), 1u);
    ASSERT_EQ(d.planes(), 2u);
    EXPECT_EQ(d[0], 128.0);
    EXPECT_EQ(d[1], 0.0);
    EXPECT_EQ(d[2], 255.0);
    EXPECT_EQ(d[3], 7.0);
}

TEST(MinimumMaximum, WithScalarsAndArrays) {
    const ArrayD a(2, 2, 1, std::vector<double>{-0.5, 0.25, 1.5, 1.0});
    // Clipping to 0..1: maximum with 0, then minimum with 1.
    const ArrayD clipped = minimum(maximum(a, 0.0), 1.0);
    ASSERT_EQ(clipped.numel(), 4u);
    const double want_clipped[4] = {0.0, 0.25, 1.0, 1.0};
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(clipped[i], want_clipped[i]);

    ArrayD b(2, 2, 1, 0.5);
    const ArrayD lo = minimum(a, b), hi = maximum(a, b);
    const double want_lo[4] = {-0.5, 0.25, 0.5, 0.5}, want_hi[4] = {0.5, 0.5, 1.5, 1.0};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(lo[i], want_lo[i]);
        EXPECT_EQ(hi[i], want_hi[i]);
    }
    EXPECT_THROW(minimum(a, ArrayD(2, 3)), Error);
    EXPECT_THROW(maximum(a, ArrayD(2, 2, 2)), Error);

    EXPECT_EQ(min_element(a), -0.5);
    EXPECT_TRUE(std::isnan(min_element(ArrayD())));
}

TEST(SumAll, AddsEveryElement) {
    ArrayD a(2, 3);
    for (std::size_t i = 0; i < 6; ++i) a[i] = static_cast<double>(i + 1);
    EXPECT_EQ(sum_all(a), 21.0);
    EXPECT_EQ(sum_all(ArrayD(4, 5, 1, 0.25)), 5.0);
}

TEST(Meshgrid, ColumnNumbersThenRowNumbers) {
    const auto [xs, ys] = meshgrid(3, 2);  // over 1..3 columns and 1..2 rows
    ASSERT_EQ(xs.rows(), 2u);
    ASSERT_EQ(xs.cols(), 3u);
    ASSERT_EQ(ys.rows(), 2u);
    ASSERT_EQ(ys.cols(), 3u);
    for (std::size_t r = 0; r < 2; ++r)
        for (std::size_t c = 0; c < 3; ++c) {
            EXPECT_EQ(xs(r, c), static_cast<double>(c + 1));
            EXPECT_EQ(ys(r, c), static_cast<double>(r + 1));
        }
}

// ---------------------------------------------------------------------------
TEST(Correlation, OnesWithNinthsShowTheZeroBorder) {
    const ArrayD x(3, 3, 1, 1.0);
    const ArrayD k(3, 3, 1, 1.0 / 9.0);
    const ArrayD y = correlate_same(x, k);
    ASSERT_EQ(y.rows(), 3u);
    ASSERT_EQ(y.cols(), 3u);
    const double corner = 4.0 / 9.0, edge = 6.0 / 9.0;
    const double want[3][3] = {{corner, edge, corner}, {edge, 1.0, edge}, {corner, edge, corner}};
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t c = 0; c < 3; ++c) EXPECT_NEAR(y(r, c), want[r][c], 1e-15) << r << "," << c;

    const std::vector<double> third(3, 1.0 / 3.0);
    const ArrayD ys = correlate_same_separable(x, third, third);
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t c = 0; c < 3; ++c) EXPECT_NEAR(ys(r, c), want[r][c], 1e-15) << r << "," << c;
}

TEST(Correlation, KernelIsNotFlipped) {
    // A single 1 at the centre of a 5 x 5 image picks up the kernel turned
    // half way round: Y(r, c) = K(2 - (r - 1), 2 - (c - 1)) around the centre (0-based).
    ArrayD x(5, 5);
    x(2, 2) = 1.0;
    ArrayD k(3, 3);
    for (std::size_t i = 0; i < 9; ++i) k[i] = static_cast<double>(i + 1);  // column-major 1..9
    const ArrayD y = correlate_same(x, k);
    for (std::size_t r = 1; r <= 3; ++r)
        for (std::size_t c = 1; c <= 3; ++c) EXPECT_EQ(y(r, c), k(3 - r, 3 - c)) << r << "," << c;
    EXPECT_EQ(y(0, 0), 0.0);
    EXPECT_EQ(y(4, 4), 0.0);
    // Row vector kernel [1 2 3] on a row [10 20 30]: Y(c) = 1*X(c-1) + 2*X(c) + 3*X(c+1).
    ArrayD row(1, 3);
    row[0] = 10;
    row[1] = 20;
    row[2] = 30;
    ArrayD k1(1, 3);
    k1[0] = 1;
    k1[1] = 2;
    k1[2] = 3;
    const ArrayD yr = correlate_same(row, k1);
    EXPECT_EQ(yr[0], 2 * 10 + 3 * 20);
    EXPECT_EQ(yr[1], 1 * 10 + 2 * 20 + 3 * 30);
    EXPECT_EQ(yr[2], 1 * 20 + 2 * 30);
}

TEST(Correlation, MatchesTheDefinitionOnRandomDataIncludingHugeKernels) {
    std::mt19937 rng(2024);
    std::uniform_int_distribution<std::size_t> dim(1, 23), half(0, 15);
    for (int trial = 0; trial < 40; ++trial) {
        const std::size_t m = dim(rng), n = dim(rng);
        const std::size_t kr = 2 * half(rng) + 1, kc = 2 * half(rng) + 1;  // often larger than the image
        const ArrayD x = random_array(rng, m, n);
        const std::vector<double> kcol = random_vector(rng, kr), krow = random_vector(rng, kc);
        const ArrayD k = outer(kcol, krow);
        const ArrayD want = reference_correlation(x, k);
        const ArrayD y2 = correlate_same(x, k);
        const ArrayD ys = correlate_same_separable(x, kcol, krow);
        ASSERT_TRUE(y2.same_size(want));
        ASSERT_TRUE(ys.same_size(want));
        EXPECT_LT(max_abs_diff(y2, want), 1e-12) << m << "x" << n << " kernel " << kr << "x" << kc;
        EXPECT_LT(max_abs_diff(ys, want), 1e-12) << m << "x" << n << " kernel " << kr << "x" << kc;
    }
}

TEST(Correlation, ResultDoesNotDependOnTheThreadCount) {
    std::mt19937 rng(7);
    const ArrayD x = random_array(rng, 97, 131);
    const std::vector<double> kcol = random_vector(rng, 15), krow = random_vector(rng, 9);
    const ArrayD k = outer(kcol, krow);
    ArrayD one2d, one_sep;
    {
        ThreadCount t(1);
        one2d = correlate_same(x, k);
        one_sep = correlate_same_separable(x, kcol, krow);
    }
    for (unsigned threads : {2u, 3u, 8u}) {
        ThreadCount t(threads);
        EXPECT_EQ(correlate_same(x, k), one2d) << threads;
        EXPECT_EQ(correlate_same_separable(x, kcol, krow), one_sep) << threads;
    }
}

TEST(Correlation, RefusesWrongShapes) {
    const ArrayD x(4, 4, 1, 1.0);
    EXPECT_THROW(correlate_same(x, ArrayD(2, 3, 1, 1.0)), Error);  // even kernel extent
    EXPECT_THROW(correlate_same(x, ArrayD(3, 4, 1, 1.0)), Error);
    EXPECT_THROW(correlate_same(ArrayD(4, 4, 3, 1.0), ArrayD(3, 3, 1, 1.0)), Error);  // 3-D image
    const std::vector<double> even(2, 0.5), odd(3, 1.0);
    EXPECT_THROW(correlate_same_separable(x, even, odd), Error);
    EXPECT_THROW(correlate_same_separable(x, odd, std::vector<double>{}), Error);
    ArrayD y(3, 4);
    EXPECT_THROW(correlate_same(x.view(), ArrayD(3, 3).view(), y.view()), Error);  // output size
}

// ---------------------------------------------------------------------------
TEST(Rgb2Gray, WeightsAreTheFirstRowOfTheInverseMatrix) {
    // Inverse of [1 .956 .621; 1 -.272 -.647; 1 -1.106 1.703] by cofactors:
    // its first row is (C11, C21, C31) / det.
    const double m[3][3] = {{1.0, 0.956, 0.621}, {1.0, -0.272, -0.647}, {1.0, -1.106, 1.703}};
    auto cof = [&](int r, int c) {
        const int r0 = (r + 1) % 3, r1 = (r + 2) % 3, c0 = (c + 1) % 3, c1 = (c + 2) % 3;
        return m[r0][c0] * m[r1][c1] - m[r0][c1] * m[r1][c0];
    };
    const double det = m[0][0] * cof(0, 0) + m[0][1] * cof(0, 1) + m[0][2] * cof(0, 2);
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(kGrayWeights[static_cast<std::size_t>(j)], cof(j, 0) / det, 1e-14);
    EXPECT_NEAR(kGrayWeights[0] + kGrayWeights[1] + kGrayWeights[2], 1.0, 1e-14);
}

TEST(Rgb2Gray, PixelsAndClipping) {
    ArrayD x(1, 5, 3);
    const double px[5][3] = {{1, 1, 1}, {1, 0, 0}, {0, 0, 1}, {2, 2, 2}, {-1, -0.5, 0}};
    for (std::size_t c = 0; c < 5; ++c)
        for (std::size_t p = 0; p < 3; ++p) x(0, c, p) = px[c][p];
    const ArrayD g = rgb2gray(x);
    ASSERT_EQ(g.rows(), 1u);
    ASSERT_EQ(g.cols(), 5u);
    ASSERT_EQ(g.planes(), 1u);
    EXPECT_NEAR(g[0], 1.0, 1e-14);
    EXPECT_NEAR(g[1], 0.298936, 1e-6);
    EXPECT_NEAR(g[2], 0.114020904255103, 1e-15);
    EXPECT_EQ(g[3], 1.0);  // clipped
    EXPECT_EQ(g[4], 0.0);  // clipped
}

TEST(Rgb2Gray, NeedsExactlyThreePlanes) {
    EXPECT_THROW(rgb2gray(ArrayD(2, 2, 2)), Error);
    EXPECT_THROW(rgb2gray(ArrayD(2, 2, 4)), Error);
    EXPECT_THROW(rgb2gray(ArrayD(2, 2)), Error);
}

// ---------------------------------------------------------------------------
TEST(Imresize, IndexRuleOfThe384By512Example) {
    // sc = 1.024 both ways; output row 1 reads input row 1, row 375 reads row
    // floor(374.5 * 1.024) + 1 = 384 (1-based).
    const auto rows = nearest_indices(384, 375);
    ASSERT_EQ(rows.size(), 375u);
    EXPECT_EQ(rows.front(), 0u);
    EXPECT_EQ(rows.back(), 383u);
    // Output row 2: floor(1.5 * 1.024) = 1; row 100: floor(99.5 * 1.024) = floor(101.888) = 101.
    EXPECT_EQ(rows[1], 1u);
    EXPECT_EQ(rows[99], 101u);
    const auto cols = nearest_indices(512, 500);
    ASSERT_EQ(cols.size(), 500u);
    EXPECT_EQ(cols.front(), 0u);
    EXPECT_EQ(cols.back(), 511u);

    ArrayU8 a(384, 512);
    for (std::size_t c = 0; c < 512; ++c)
        for (std::size_t r = 0; r < 384; ++r) a(r, c) = static_cast<std::uint8_t>((r * 7 + c * 3) % 251);
    const ArrayU8 b = imresize_nearest(a, 375, 500);
    ASSERT_EQ(b.rows(), 375u);
    ASSERT_EQ(b.cols(), 500u);
    EXPECT_EQ(b(374, 499), a(383, 511));
    EXPECT_EQ(b(99, 0), a(101, 0));
}

TEST(Imresize, HalvingDoublingAndPlanes) {
    // 4 -> 2: sc = 2, centres at 1 and 3 (0-based); 2 -> 4: sc = 0.5, rows 0 0 1 1.
    EXPECT_EQ(nearest_indices(4, 2), (std::vector<std::size_t>{1, 3}));
    EXPECT_EQ(nearest_indices(2, 4), (std::vector<std::size_t>{0, 0, 1, 1}));
    EXPECT_EQ(nearest_indices(3, 1), (std::vector<std::size_t>{1}));

    ArrayD a(2, 2, 3);
    for (std::size_t i = 0; i < a.numel(); ++i) a[i] = static_cast<double>(i);
    const ArrayD b = imresize_nearest(a, 4, 4);
    ASSERT_EQ(b.planes(), 3u);
    for (std::size_t p = 0; p < 3; ++p)
        for (std::size_t r = 0; r < 4; ++r)
            for (std::size_t c = 0; c < 4; ++c) EXPECT_EQ(b(r, c, p), a(r / 2, c / 2, p));
    EXPECT_THROW(nearest_indices(0, 3), Error);
    EXPECT_THROW(nearest_indices(3, 0), Error);
}

TEST(Imresize, SameSizeIsUnchanged) {
    std::mt19937 rng(3);
    for (std::size_t m : {1u, 7u, 375u})
        for (std::size_t n : {1u, 5u, 500u}) {
            const ArrayD a = random_array(rng, m, n);
            EXPECT_EQ(imresize_nearest(a, m, n), a) << m << "x" << n;
        }
}

// ---------------------------------------------------------------------------
TEST(Spline3, IsTheParabolaThroughThreePoints) {
    // y = 2x^2 - 3x + 1 through x = 0, 1, 3 (unequal spacing).
    auto f = [](double x) { return 2 * x * x - 3 * x + 1; };
    const std::array<double, 3> xs = {0.0, 1.0, 3.0}, ys = {f(0.0), f(1.0), f(3.0)};
    EXPECT_NEAR(spline3(xs, ys, 2.0), 3.0, 1e-12);
    EXPECT_NEAR(spline3(xs, ys, -1.0), 6.0, 1e-12);
    EXPECT_NEAR(spline3(xs, ys, 0.75), f(0.75), 1e-12);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(spline3(xs, ys, xs[static_cast<std::size_t>(i)]), ys[static_cast<std::size_t>(i)], 1e-12);
    // Three points on a line give the line.
    EXPECT_NEAR(spline3({1.0, 2.0, 4.0}, {3.0, 5.0, 9.0}, 10.0), 21.0, 1e-12);
}

TEST(AreaMean, MeansOverTheCoveredAreaWithPartlyCoveredPixelsWeighted) {
    // 3 x 3 uint8 to 2 x 2: each output pixel spans 1.5 input pixels, so the
    // weights along an axis are (2/3, 1/3) and (1/3, 2/3).
    // Rows: (1 4 7), (2 5 8), (9 20 250), column-major below.
    ocu::ArrayU8 a(3, 3, 1, std::vector<std::uint8_t>{1, 2, 9, 4, 5, 20, 7, 8, 250});
    const auto r = std::get<ocu::ArrayU8>(ocu::area_mean(ocu::AnyImage(a), 2, 2));
    ASSERT_EQ(r.rows(), 2u);
    ASSERT_EQ(r.cols(), 2u);
    EXPECT_EQ(r(0, 0), 2);    // 21/9 = 2.33
    EXPECT_EQ(r(1, 0), 9);    // 85/9 = 9.44
    EXPECT_EQ(r(0, 1), 6);    // 57/9 = 6.33
    EXPECT_EQ(r(1, 1), 118);  // 1061/9 = 117.9
    // A whole factor: the means of the blocks, per plane.
    const ocu::ArrayD d(2, 2, 2, std::vector<double>{0, 1, 2, 3, 4, 4, 4, 5});
    EXPECT_EQ(std::get<ocu::ArrayD>(ocu::area_mean(ocu::AnyImage(d), 1, 1)), ocu::ArrayD(1, 1, 2, std::vector<double>{1.5, 4.25}));
    // Halves round away from zero; rows and columns resample independently.
    // Rows (1 4 10 11), (2 5 20 21) to two columns: 2.5, 3.5, 10.5, 20.5.
    ocu::ArrayU8 h(2, 4, 1, std::vector<std::uint8_t>{1, 2, 4, 5, 10, 20, 11, 21});
    EXPECT_EQ(std::get<ocu::ArrayU8>(ocu::area_mean(ocu::AnyImage(h), 2, 2)),
              ocu::ArrayU8(2, 2, 1, std::vector<std::uint8_t>{3, 4, 11, 21}));
    EXPECT_TRUE(ocu::area_mean(ocu::AnyImage(a), 3, 3) == ocu::AnyImage(a));
    EXPECT_THROW(ocu::area_mean(ocu::AnyImage(a), 0, 2), ocu::Error);
    EXPECT_THROW(ocu::area_mean(ocu::AnyImage(ocu::ArrayU8(0, 3, 1)), 1, 1), ocu::Error);
}

// ---------------------------------------------------------------------------
TEST(ThreadCount, FromTheEnvironmentOnlyAPlainWholeNumberFrom1To1024) {
    EXPECT_EQ(ocu::parse_thread_count("1"), 1u);
    EXPECT_EQ(ocu::parse_thread_count("12"), 12u);
    EXPECT_EQ(ocu::parse_thread_count("1024"), 1024u);
    for (const char* bad : {"", "0", "1025", "-2", " 2", "2 ", "+2", "2.5", "0x4", "two", "99999999999999999999"})
        EXPECT_EQ(ocu::parse_thread_count(bad), 0u) << bad;
    EXPECT_EQ(ocu::parse_thread_count(nullptr), 0u);
}
