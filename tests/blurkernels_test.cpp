#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <random>

#include "fixindep/blurkernels.hpp"
#include "fixindep/symfilter.hpp"
#include "toolkit/arrayops.hpp"
#include "toolkit/parallel.hpp"
#include "testutil.hpp"

using namespace ocu;
using namespace ocu::fixindep;
using ocu::testutil::max_abs_diff;
using ocu::testutil::ThreadCount;

namespace {

const double kPi = 3.14159265358979323846;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// The normal density written out independently.
double density(double x, double s) { return std::exp(-x * x / (2 * s * s)) / (s * std::sqrt(2 * kPi)); }

// Kernel element (i, j) from the profile formula, normalised by the squared profile sum.
double expected_element(double sig, bool steep, int w, int i, int j) {
    auto ys = [&](int x) {
        return steep ? 2 * density(x, sig) - density(x, std::sqrt(2.0) * sig) : density(x, sig);
    };
    double sum = 0;
    for (int x = -w; x <= w; ++x) sum += ys(x);
    return ys(i) * ys(j) / (sum * sum);
}

ArrayD random_plane(std::size_t rows, std::size_t cols, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    ArrayD a(rows, cols);
    for (double& v : a.span()) v = u(gen);
    return a;
}

// Plain same-size correlation with a zero border, straight from its definition.
ArrayD naive_correlate(const ArrayD& x, const ArrayD& k) {
    const long m = static_cast<long>(x.rows()), n = static_cast<long>(x.cols());
    const long hr = static_cast<long>(k.rows() / 2), hc = static_cast<long>(k.cols() / 2);
    ArrayD y(x.rows(), x.cols());
    for (long r = 0; r < m; ++r)
        for (long c = 0; c < n; ++c) {
            double s = 0;
            for (long i = -hr; i <= hr; ++i)
                for (long j = -hc; j <= hc; ++j) {
                    if (r + i < 0 || r + i >= m || c + j < 0 || c + j >= n) continue;
                    s += k(static_cast<std::size_t>(i + hr), static_cast<std::size_t>(j + hc)) *
                         x(static_cast<std::size_t>(r + i), static_cast<std::size_t>(c + j));
                }
            y(static_cast<std::size_t>(r), static_cast<std::size_t>(c)) = s;
        }
    return y;
}

}  // namespace

TEST(Gauss, NormalDensityValues) {
    EXPECT_NEAR(gauss(0.0, 0.0, 1.0), 0.3989422804014327, 1e-16);
    EXPECT_NEAR(gauss(1.0, 0.0, 1.0), 0.24197072451914337, 1e-16);
    // Mean 1, deviation 2 at x = 3: one deviation from the mean.
    EXPECT_NEAR(gauss(3.0, 1.0, 2.0), std::exp(-0.5) / (2.0 * std::sqrt(2 * kPi)), 1e-16);
    EXPECT_DOUBLE_EQ(gauss(-2.5, 0.0, 0.7), gauss(2.5, 0.0, 0.7));
}

TEST(Gauss, KeepsTheShapeOfItsArgument) {
    ArrayD row(1, 5);
    for (std::size_t c = 0; c < 5; ++c) row(0, c) = static_cast<double>(c) - 2.0;
    const ArrayD y = gauss(row, 0.0, 1.5);
    ASSERT_EQ(y.rows(), 1u);
    ASSERT_EQ(y.cols(), 5u);
    for (std::size_t c = 0; c < 5; ++c) EXPECT_NEAR(y(0, c), density(row(0, c), 1.5), 1e-16);

    ArrayD mat(2, 3);
    for (std::size_t i = 0; i < 6; ++i) mat[i] = 0.5 * static_cast<double>(i);
    const ArrayD z = gauss(mat, 1.0, 0.5);
    ASSERT_TRUE(z.same_size(mat));
    EXPECT_NEAR(z(1, 2), density(2.5 - 1.0, 0.5), 1e-16);
}

TEST(Gauss, RefusesInvalidDeviation) {
    for (double s : {0.0, -1.0, kNaN, kInf, -kInf, 1e-200, 1e200}) {
        EXPECT_THROW(gauss(0.0, 0.0, s), Error) << s;
        EXPECT_THROW(gauss(ArrayD(2, 2), 0.0, s), Error) << s;
    }
}

TEST(BlurKernels, HalfWidthsRoundHalvesAwayFromZero) {
    EXPECT_EQ(blur_halfwidth(1.0), 4.0);         // round(4.0)
    EXPECT_EQ(blur_halfwidth(2.0), 8.0);         // round(7.5)
    EXPECT_EQ(blur_halfwidth(std::sqrt(2.0)), 5.0);  // round(5.4497)
    EXPECT_EQ(blur_halfwidth(0.1 * std::sqrt(2.0)), 1.0);  // round(0.99497)
    EXPECT_EQ(gaussblurkern(1.0).rows(), 9u);
    EXPECT_EQ(gaussblurkern(2.0).rows(), 17u);
    EXPECT_EQ(gaussblurkern(2.0).cols(), 17u);
    EXPECT_EQ(steepblurkern(1.0).rows(), 11u);
    EXPECT_EQ(steepblurkern(0.1).rows(), 3u);
}

TEST(BlurKernels, GaussianKernelMatchesFormula) {
    const ArrayD k = gaussblurkern(1.0);
    ASSERT_EQ(k.rows(), 9u);
    ASSERT_EQ(k.cols(), 9u);
    double sum = 0, biggest = 0;
    for (double v : k.span()) {
        sum += v;
        biggest = std::max(biggest, v);
    }
    EXPECT_NEAR(sum, 1.0, 1e-14);
    EXPECT_EQ(biggest, k(4, 4));
    for (int i = -4; i <= 4; ++i)
        for (int j = -4; j <= 4; ++j)
            EXPECT_NEAR(k(static_cast<std::size_t>(i + 4), static_cast<std::size_t>(j + 4)),
                        expected_element(1.0, false, 4, i, j), 1e-16);
}

TEST(BlurKernels, SteepKernelMatchesFormulaAndHasNegativeBands) {
    const ArrayD k = steepblurkern(1.0);
    ASSERT_EQ(k.rows(), 11u);
    double sum = 0;
    for (double v : k.span()) sum += v;
    EXPECT_NEAR(sum, 1.0, 1e-14);
    // Middle row: negative at both ends, positive in the centre.
    EXPECT_LT(k(5, 0), 0.0);
    EXPECT_LT(k(5, 10), 0.0);
    EXPECT_GT(k(5, 5), 0.0);
    // Corners: product of two negative tails.
    EXPECT_GT(k(0, 0), 0.0);
    for (int i = -5; i <= 5; ++i)
        for (int j = -5; j <= 5; ++j) {
            const std::size_t a = static_cast<std::size_t>(i + 5), b = static_cast<std::size_t>(j + 5);
            EXPECT_NEAR(k(a, b), expected_element(1.0, true, 5, i, j), 1e-15);
            EXPECT_EQ(k(a, b), k(b, a));
            EXPECT_EQ(k(a, b), k(10 - a, b));
        }
}

TEST(BlurKernels, SmallSteepKernelIsPracticallyTheIdentity) {
    const ArrayD k = steepblurkern(0.1);
    ASSERT_EQ(k.rows(), 3u);
    EXPECT_NEAR(k(1, 1), 1.0, 1e-9);
    for (auto [r, c] : {std::pair{0, 1}, {2, 1}, {1, 0}, {1, 2}}) {
        EXPECT_LT(k(r, c), 0.0);
        EXPECT_GT(k(r, c), -1e-10);
    }
    for (auto [r, c] : {std::pair{0, 0}, {0, 2}, {2, 0}, {2, 2}}) EXPECT_LT(std::abs(k(r, c)), 1e-20);

    const ArrayD im = random_plane(13, 17, 3);
    EXPECT_LT(max_abs_diff(steepblurfast(im, 0.1), im), 1e-9);
}

TEST(BlurKernels, ProfilesAreNormalisedAndSymmetric) {
    for (double sig : {0.3, 1.0, 2.6}) {
        for (const auto& p : {gaussblurprofile(sig), steepblurprofile(sig)}) {
            double s = 0;
            for (double v : p) s += v;
            EXPECT_NEAR(s, 1.0, 1e-14);
            for (std::size_t i = 0; i < p.size(); ++i) EXPECT_EQ(p[i], p[p.size() - 1 - i]);
        }
    }
    EXPECT_EQ(steepblurprofile(1.0).size(), 11u);
    EXPECT_EQ(gaussblurprofile(2.0).size(), 17u);
}

TEST(SymmetricTaps, SumsPairsOfNeighbours) {
    // Centre 10 with neighbours 1, 2 | 3, 4 at offsets 1, 2 (stride 1).
    const double c[] = {1, 2, 10, 3, 4};
    const double h[] = {0.5, 0.25, 0.125};
    double out = 0;
    symmetric_taps(c + 2, 1, 1, h, &out);
    EXPECT_DOUBLE_EQ(out, 0.5 * 10 + 0.25 * (2 + 3) + 0.125 * (1 + 4));
    // Strided: the same values every third element; many outputs use the vector path.
    std::vector<double> big(3 * 60);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<double>(i % 7);
    std::vector<double> res(40);
    symmetric_taps(big.data() + 6, 3, 40, h, res.data());
    for (std::size_t s = 0; s < 40; ++s) {
        const double* p = big.data() + 6 + s;
        EXPECT_DOUBLE_EQ(res[s], 0.5 * p[0] + 0.25 * (p[-3] + p[3]) + 0.125 * (p[-6] + p[6])) << s;
    }
}

TEST(SymmetricTaps, ThreeProfilesAtOnceEqualThreeSingleCalls) {
    const std::vector<double> data = [] {
        std::vector<double> d(45 + 2 * 30);
        std::mt19937 gen(17);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (double& v : d) v = u(gen);
        return d;
    }();
    const double* c = data.data() + 30;
    auto half = [](double sig) {
        const std::vector<double> p = steepblurprofile(sig);
        return std::vector<double>(p.begin() + static_cast<std::ptrdiff_t>(p.size() / 2), p.end());
    };
    const std::vector<double> h0 = half(0.9), h1 = half(1.8), h2 = half(3.6);  // half-widths 5, 9, 18
    for (bool vec : {true, false}) {
        allow_vector_filter(vec);
        for (auto order : {std::array<const std::vector<double>*, 3>{&h0, &h1, &h2}, {&h2, &h0, &h1}}) {
            std::array<std::vector<double>, 3> together, single;
            for (int b = 0; b < 3; ++b) {
                together[b].assign(45, 0.0);
                single[b].assign(45, 0.0);
                symmetric_taps(c, 1, 45, *order[b], single[b].data());
            }
            symmetric_taps3(c, 45, {*order[0], *order[1], *order[2]},
                            {together[0].data(), together[1].data(), together[2].data()});
            for (int b = 0; b < 3; ++b) EXPECT_TRUE(together[b] == single[b]) << "profile " << b << " vec " << vec;
        }
    }
    allow_vector_filter(true);
}

TEST(SteepBlur, SeparableEqualsTwoDimensionalCorrelation) {
    for (auto [rows, cols, sig] : {std::tuple{37u, 53u, 1.3}, {64u, 48u, 2.7}, {5u, 9u, 2.0}, {1u, 1u, 0.8},
                                   {1u, 40u, 1.0}, {33u, 2u, 3.1}}) {
        const ArrayD im = random_plane(rows, cols, rows * 31 + cols);
        const ArrayD fast = steepblurfast(im, sig);
        const ArrayD direct = steepblur2d(im.view(), sig);
        const ArrayD toolkit2d = correlate_same(im, steepblurkern(sig));
        EXPECT_LT(max_abs_diff(fast, direct), 1e-13) << rows << "x" << cols;
        EXPECT_LT(max_abs_diff(fast, toolkit2d), 1e-13) << rows << "x" << cols;
        const ArrayD gfast = gaussblurfast(im.view(), sig);
        EXPECT_LT(max_abs_diff(gfast, gaussblur2d(im.view(), sig)), 1e-13);
    }
}

TEST(SteepBlur, TwoDimensionalFormMatchesPlainDefinition) {
    const ArrayD im = random_plane(12, 15, 9);
    EXPECT_LT(max_abs_diff(steepblur2d(im.view(), 0.9), naive_correlate(im, steepblurkern(0.9))), 1e-14);
    EXPECT_LT(max_abs_diff(gaussblur2d(im.view(), 1.1), naive_correlate(im, gaussblurkern(1.1))), 1e-14);
    EXPECT_LT(max_abs_diff(steepblurfast(im, 0.9), naive_correlate(im, steepblurkern(0.9))), 1e-14);
}

TEST(SteepBlur, ConstantPlaneKeepsItsValueAwayFromTheBorder) {
    const double v = 0.37;
    const ArrayD im(30, 26, 1, v);
    const ArrayD out = steepblurfast(im, 1.0);  // w = 5
    for (std::size_t c = 0; c < 26; ++c)
        for (std::size_t r = 0; r < 30; ++r) {
            const bool interior = r >= 5 && r < 25 && c >= 5 && c < 21;
            if (interior) {
                EXPECT_NEAR(out(r, c), v, 1e-14) << r << "," << c;
            } else {
                EXPECT_GT(std::abs(out(r, c) - v), 1e-6) << r << "," << c;
            }
        }
}

TEST(SteepBlur, ResultDoesNotDependOnThreadCount) {
    const ArrayD im = random_plane(97, 131, 21);
    ArrayD first, wide;
    for (unsigned n : {1u, 2u, 3u, 7u}) {
        ThreadCount tc(n);
        const ArrayD w = steepblurfast(im, 7.5);  // half-width 38: transposed strips
        if (wide.empty()) wide = w;
        EXPECT_TRUE(w == wide) << n << " threads";
        const ArrayD out = steepblurfast(im, 2.3);
        if (first.empty()) {
            first = out;
        } else {
            EXPECT_TRUE(out == first) << n << " threads";
        }
    }
}

TEST(SteepBlur, PlainAndVectorFiltersAgree) {
    // Narrow and wide kernels (the two row-pass forms), odd sizes for the tails.
    for (auto [rows, cols, sig] : {std::tuple{45u, 37u, 1.1}, {61u, 83u, 6.3}}) {
        const ArrayD im = random_plane(rows, cols, rows + cols);
        const ArrayD vec = steepblurfast(im, sig);
        allow_vector_filter(false);
        const ArrayD plain = steepblurfast(im, sig);
        ArrayD plain3;
        {
            ThreadCount tc(3);
            plain3 = steepblurfast(im, sig);
        }
        allow_vector_filter(true);
        EXPECT_LT(max_abs_diff(plain, vec), 1e-13);
        EXPECT_LT(max_abs_diff(plain, steepblur2d(im.view(), sig)), 1e-13);
        EXPECT_TRUE(plain3 == plain);
    }
}

TEST(SteepBlur, RefusesBadScalesAndShapes) {
    const ArrayD im = random_plane(8, 8, 1);
    for (double s : {0.0, -0.5, kNaN, kInf, -kInf, 1e-300}) {
        EXPECT_THROW(steepblurfast(im, s), Error) << s;
        EXPECT_THROW(gaussblurkern(s), Error) << s;
        EXPECT_THROW(steepblurkern(s), Error) << s;
        EXPECT_THROW(blur_halfwidth(s), Error) << s;
    }
    EXPECT_THROW(steepblurfast(ArrayD(4, 4, 3), 1.0), Error);
    EXPECT_THROW(steepblur2d(ArrayD(4, 4, 2).view(), 1.0), Error);
}

TEST(SteepBlur, RefusesKernelsFarLargerThanTheImage) {
    const ArrayD im = random_plane(10, 12, 2);
    // Limit for 10 x 12: half-width 2 * 12 + 64 = 88. Scale 17 gives round(3.5 * 17 * sqrt 2 + 0.5) = 85.
    EXPECT_NO_THROW(steepblurfast(im, 17.0));
    EXPECT_THROW(steepblurfast(im, 18.0), Error);  // half-width 90
    // Absurd scales fail at once, without building anything.
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_THROW(steepblurfast(im, 1e9), Error);
    EXPECT_THROW(steepblurfast(im, 1e300), Error);
    EXPECT_THROW(gaussblurkern(1e7), Error);
    EXPECT_THROW(steepblurkern(300.0), Error);  // 2-D kernel beyond half-width 1024
    EXPECT_THROW(gaussblurprofile(1e12), Error);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 1.0);
}
