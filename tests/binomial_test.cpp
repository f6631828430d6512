// Binomial pyramid filters: kernel values, mirrored convolution, blur-and-halve,
// double-and-blur, their sizes and error texts. Expected values are worked out
// by hand from the (1 4 6 4 1)/16 kernel and the mirror rule.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "glare/binomial.hpp"
#include "toolkit/arrayops.hpp"
#include "toolkit/parallel.hpp"
#include "testutil.hpp"

namespace {

using ocu::ArrayD;
using ocu::testutil::expect_error;
using ocu::testutil::max_abs_diff;
using Sizes = std::vector<std::pair<int, int>>;

ArrayD filled(std::size_t r, std::size_t c, double v) { return ArrayD(r, c, 1, v); }

ArrayD random_array(std::size_t r, std::size_t c, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(0.0, 100.0);
    ArrayD a(r, c);
    for (auto& v : a.span()) v = u(gen);
    return a;
}

TEST(BinomialFilter, WeightsAreBinomialCoefficientsOverPowerOfTwo) {
    const ArrayD b2 = ocu::glare::binomialfilter(2);
    ASSERT_EQ(b2.rows(), 2u);
    ASSERT_EQ(b2.cols(), 1u);
    EXPECT_EQ(b2[0], 0.5);
    EXPECT_EQ(b2[1], 0.5);

    const ArrayD b3 = ocu::glare::binomialfilter(3);
    ASSERT_EQ(b3.rows(), 3u);
    EXPECT_EQ(b3[0], 0.25);
    EXPECT_EQ(b3[1], 0.5);
    EXPECT_EQ(b3[2], 0.25);

    const ArrayD b5 = ocu::glare::binomialfilter(5);
    ASSERT_EQ(b5.rows(), 5u);
    ASSERT_EQ(b5.cols(), 1u);
    const double want5[] = {0.0625, 0.25, 0.375, 0.25, 0.0625};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(b5[static_cast<std::size_t>(i)], want5[i]);

    // C(6, i) / 64 = 1 6 15 20 15 6 1 over 64.
    const ArrayD b7 = ocu::glare::binomialfilter(7);
    const double want7[] = {1, 6, 15, 20, 15, 6, 1};
    ASSERT_EQ(b7.rows(), 7u);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(b7[static_cast<std::size_t>(i)], want7[i] / 64.0);
}

TEST(BinomialFilter, SizeBelowTwoIsRejected) {
    for (int sz : {1, 0, -4}) {
        expect_error([&] { ocu::glare::binomialfilter(sz); }, "size argument must be larger than 1");
    }
}

TEST(BinomialFilter, KernelIsOuterProductSummingToOne) {
    const ArrayD f = ocu::glare::binomial_kernel5();
    ASSERT_EQ(f.rows(), 5u);
    ASSERT_EQ(f.cols(), 5u);
    EXPECT_EQ(f(0, 0), 1.0 / 256);
    EXPECT_EQ(f(2, 2), 36.0 / 256);
    EXPECT_EQ(f(1, 2), 24.0 / 256);
    EXPECT_EQ(f(0, 4), 1.0 / 256);
    EXPECT_EQ(ocu::sum_all(f), 1.0);
}

TEST(Rconv2, BorderSampleIsCentreOfMirror) {
    ArrayD x(10, 10);
    x(0, 0) = 1;
    const ArrayD y = ocu::glare::rconv2(x, ocu::glare::binomial_kernel5());
    ASSERT_EQ(y.rows(), 10u);
    ASSERT_EQ(y.cols(), 10u);
    EXPECT_DOUBLE_EQ(y(0, 0), 36.0 / 256);
    EXPECT_DOUBLE_EQ(y(0, 1), 24.0 / 256);
    EXPECT_DOUBLE_EQ(y(1, 0), 24.0 / 256);
    EXPECT_DOUBLE_EQ(y(1, 1), 16.0 / 256);
    EXPECT_DOUBLE_EQ(y(0, 2), 6.0 / 256);
    EXPECT_EQ(y(3, 3), 0.0);
    EXPECT_EQ(y(0, 3), 0.0);
}

TEST(Rconv2, SampleNextToBorderMeetsItsThreeMirrorImages) {
    ArrayD x(10, 10);
    x(1, 1) = 1;
    const ArrayD y = ocu::glare::rconv2(x, ocu::glare::binomial_kernel5());
    EXPECT_DOUBLE_EQ(y(0, 0), 64.0 / 256);
    EXPECT_DOUBLE_EQ(y(1, 1), 49.0 / 256);  // 36 + 6 + 6 + 1
    EXPECT_DOUBLE_EQ(y(0, 1), (24.0 + 24.0 + 4.0 + 4.0) / 256);
}

TEST(Rconv2, RampRowsNearBothBorders) {
    ArrayD x(10, 10);
    for (std::size_t c = 0; c < 10; ++c)
        for (std::size_t r = 0; r < 10; ++r) x(r, c) = static_cast<double>(c + 1);
    const ArrayD y = ocu::glare::rconv2(x, ocu::glare::binomial_kernel5());
    for (std::size_t r = 0; r < 10; ++r) {
        EXPECT_DOUBLE_EQ(y(r, 0), 1.75);
        EXPECT_DOUBLE_EQ(y(r, 1), 2.125);
        EXPECT_DOUBLE_EQ(y(r, 2), 3.0);
        EXPECT_DOUBLE_EQ(y(r, 3), 4.0);
        EXPECT_DOUBLE_EQ(y(r, 8), 142.0 / 16);  // columns 7 8 9 10 9
        EXPECT_DOUBLE_EQ(y(r, 9), 148.0 / 16);  // columns 8 9 10 9 8
    }
}

TEST(Rconv2, RolesSwapWhenFirstIsSmaller) {
    // 3 x 3 ones against the kernel: the kernel is mirrored (rows 2 1 2 3 4 5 4)
    // and summed over 3 x 3 windows.
    const ArrayD ones = filled(3, 3, 1.0);
    for (const ArrayD& y : {ocu::glare::rconv2(ones, ocu::glare::binomial_kernel5()),
                            ocu::glare::rconv2(ocu::glare::binomial_kernel5(), ones)}) {
        ASSERT_EQ(y.rows(), 5u);
        ASSERT_EQ(y.cols(), 5u);
        EXPECT_DOUBLE_EQ(y(0, 0), 0.5625 * 0.5625);
        EXPECT_DOUBLE_EQ(y(2, 2), 0.875 * 0.875);
        EXPECT_DOUBLE_EQ(y(0, 2), 0.5625 * 0.875);
    }
}

TEST(Rconv2, CtrMovesTheBorderSplit) {
    // Rows read 1, 2, 3; a 2 x 2 box of ones. ctr 0 mirrors one row above
    // (rows 2 1 2 3), ctr 1 one row below (rows 1 2 3 2).
    ArrayD x(3, 3);
    for (std::size_t c = 0; c < 3; ++c)
        for (std::size_t r = 0; r < 3; ++r) x(r, c) = static_cast<double>(r + 1);
    const ArrayD box = filled(2, 2, 1.0);
    const ArrayD y0 = ocu::glare::rconv2(x, box);
    const ArrayD y1 = ocu::glare::rconv2(x, box, 1);
    ASSERT_EQ(y0.rows(), 3u);
    ASSERT_EQ(y1.rows(), 3u);
    ASSERT_EQ(y1.cols(), 3u);
    const double want0[] = {6, 6, 10}, want1[] = {6, 10, 10};
    for (std::size_t r = 0; r < 3; ++r) {
        for (std::size_t c = 0; c < 3; ++c) {
            EXPECT_DOUBLE_EQ(y0(r, c), want0[r]);
            EXPECT_DOUBLE_EQ(y1(r, c), want1[r]);
        }
    }
}

TEST(Rconv2, NeitherLargerInBothDimensionsIsAnError) {
    const std::string text = "one arg must be larger than the other in both dimensions!";
    const ArrayD k = ocu::glare::binomial_kernel5();
    expect_error([&] { ocu::glare::rconv2(ArrayD(3, 8), k); }, text);
    expect_error([&] { ocu::glare::rconv2(k, ArrayD(3, 8)); }, text);
    expect_error([&] { ocu::glare::rconv2(ArrayD(8, 3), k); }, text);
}

TEST(Rconv2, BorderLargerThanArrayIsAnErrorNotAnOverrun) {
    // A shift this large would mirror rows that do not exist.
    EXPECT_THROW(ocu::glare::rconv2(ArrayD(2, 2), ArrayD(2, 2), 6), ocu::Error);
    EXPECT_THROW(ocu::glare::rconv2(ArrayD(4, 4), ArrayD(3, 3), -6), ocu::Error);
}

TEST(Corrdnzel, SizesRoundUp) {
    const ArrayD a = ocu::glare::corrdnzel(random_array(5, 7, 1));
    EXPECT_EQ(a.rows(), 3u);
    EXPECT_EQ(a.cols(), 4u);
    const ArrayD b = ocu::glare::corrdnzel(random_array(6, 8, 2));
    EXPECT_EQ(b.rows(), 3u);
    EXPECT_EQ(b.cols(), 4u);
}

TEST(Corrdnzel, ConstantStaysConstantUpToTheBorders) {
    const ArrayD y = ocu::glare::corrdnzel(filled(11, 9, 7.5));
    ASSERT_EQ(y.rows(), 6u);
    ASSERT_EQ(y.cols(), 5u);
    for (double v : y.span()) EXPECT_DOUBLE_EQ(v, 7.5);
}

TEST(Corrdnzel, RampKeepsOddColumnsOfTheBlur) {
    // Columns 1, 3, 5, 7, 9 of the blurred ramp 1..10.
    ArrayD x(10, 10);
    for (std::size_t c = 0; c < 10; ++c)
        for (std::size_t r = 0; r < 10; ++r) x(r, c) = static_cast<double>(c + 1);
    const ArrayD y = ocu::glare::corrdnzel(x);
    ASSERT_EQ(y.rows(), 5u);
    ASSERT_EQ(y.cols(), 5u);
    const double want[] = {1.75, 3, 5, 7, 8.875};
    for (std::size_t r = 0; r < 5; ++r)
        for (std::size_t c = 0; c < 5; ++c) EXPECT_DOUBLE_EQ(y(r, c), want[c]);
}

TEST(Corrdnzel, EqualsEveryOtherSampleOfTheMirroredConvolution) {
    for (auto [r, c] : Sizes{{5, 5}, {9, 14}, {17, 6}, {32, 33}, {12, 301}}) {
        const ArrayD x = random_array(static_cast<std::size_t>(r), static_cast<std::size_t>(c), 3);
        const ArrayD t = ocu::glare::rconv2(x, ocu::glare::binomial_kernel5());
        const ArrayD y = ocu::glare::corrdnzel(x);
        ASSERT_EQ(y.rows(), static_cast<std::size_t>((r + 1) / 2));
        ASSERT_EQ(y.cols(), static_cast<std::size_t>((c + 1) / 2));
        for (std::size_t j = 0; j < y.cols(); ++j)
            for (std::size_t i = 0; i < y.rows(); ++i) EXPECT_NEAR(y(i, j), t(2 * i, 2 * j), 1e-12);
    }
}

TEST(Corrdnzel, SmallArrayIsFilteredByItselfWithTheKernelMirrored) {
    // 3 x 3 ones: the kernel is the larger argument; keep rows/columns 1 and 3
    // of the 5 x 5 result.
    const ArrayD y = ocu::glare::corrdnzel(filled(3, 3, 1.0));
    ASSERT_EQ(y.rows(), 2u);
    ASSERT_EQ(y.cols(), 2u);
    EXPECT_DOUBLE_EQ(y(0, 0), 0.31640625);
    EXPECT_DOUBLE_EQ(y(0, 1), 0.4921875);
    EXPECT_DOUBLE_EQ(y(1, 0), 0.4921875);
    EXPECT_DOUBLE_EQ(y(1, 1), 0.765625);
}

TEST(Corrdnzel, ElongatedArrayFails) {
    expect_error([] { ocu::glare::corrdnzel(ArrayD(4, 8)); },
                 "one arg must be larger than the other in both dimensions!");
    expect_error([] { ocu::glare::corrdnzel(ArrayD(30, 2)); },
                 "one arg must be larger than the other in both dimensions!");
}

TEST(Upconvzel, SizeDoublesAndConstantHalves) {
    const ArrayD y = ocu::glare::upconvzel(filled(3, 4, 6.0));
    ASSERT_EQ(y.rows(), 6u);
    ASSERT_EQ(y.cols(), 8u);
    for (double v : y.span()) EXPECT_DOUBLE_EQ(v, 3.0);
}

TEST(Upconvzel, RampAlongRowsByHand) {
    // Rows 1, 2, 3 interleaved with zeros: 1 0 2 0 3 0, mirrored as 2 0 | ... | 3 0.
    ArrayD x(3, 3);
    for (std::size_t c = 0; c < 3; ++c)
        for (std::size_t r = 0; r < 3; ++r) x(r, c) = static_cast<double>(r + 1);
    const ArrayD y = ocu::glare::upconvzel(x);
    ASSERT_EQ(y.rows(), 6u);
    ASSERT_EQ(y.cols(), 6u);
    const double want[] = {10, 12, 16, 20, 23, 24};
    for (std::size_t c = 0; c < 6; ++c)
        for (std::size_t r = 0; r < 6; ++r) EXPECT_DOUBLE_EQ(y(r, c), want[r] / 16.0);
}

TEST(Upconvzel, EqualsTwiceTheMirroredConvolutionOfTheInterleavedArray) {
    for (auto [r, c] : Sizes{{3, 3}, {4, 7}, {9, 5}, {16, 12}, {7, 75}}) {
        const ArrayD x = random_array(static_cast<std::size_t>(r), static_cast<std::size_t>(c), 5);
        ArrayD t(2 * x.rows(), 2 * x.cols());
        for (std::size_t j = 0; j < x.cols(); ++j)
            for (std::size_t i = 0; i < x.rows(); ++i) t(2 * i, 2 * j) = x(i, j);
        ArrayD want = ocu::glare::rconv2(t, ocu::glare::binomial_kernel5());
        for (auto& v : want.span()) v *= 2.0;
        EXPECT_LT(max_abs_diff(ocu::glare::upconvzel(x), want), 1e-12);
    }
}

TEST(Upconvzel, SmallAndElongatedArraysFollowTheConvolutionRoles) {
    // 2 x 2 becomes 4 x 4, smaller than the kernel: the kernel is filtered and
    // the result has the kernel's size.
    const ArrayD y = ocu::glare::upconvzel(filled(2, 2, 1.0));
    EXPECT_EQ(y.rows(), 5u);
    EXPECT_EQ(y.cols(), 5u);
    expect_error([] { ocu::glare::upconvzel(ArrayD(1, 5)); },
                 "one arg must be larger than the other in both dimensions!");
}

TEST(PyramidRepeats, ZeroOrNegativeLevelsChangeNothing) {
    const ArrayD x = random_array(7, 9, 11);
    EXPECT_EQ(ocu::glare::blurdnzel(x, 0), x);
    EXPECT_EQ(ocu::glare::upblurzel(x, 0), x);
    EXPECT_EQ(ocu::glare::blurdnzel(x, -2), x);
    EXPECT_EQ(ocu::glare::upblurzel(x, -1), x);
}

TEST(PyramidRepeats, ConstantLevelsScaleByPowersOfTwo) {
    const ArrayD d = ocu::glare::blurdnzel(filled(40, 44, 3.0), 3);
    ASSERT_EQ(d.rows(), 5u);
    ASSERT_EQ(d.cols(), 6u);
    for (double v : d.span()) EXPECT_DOUBLE_EQ(v, 24.0);
    const ArrayD u = ocu::glare::upblurzel(filled(5, 6, 24.0), 3);
    ASSERT_EQ(u.rows(), 40u);
    ASSERT_EQ(u.cols(), 48u);
    for (double v : u.span()) EXPECT_DOUBLE_EQ(v, 3.0);
}

TEST(PyramidRepeats, SizesOfA375By500Image) {
    // 375 188 94 47 24 12 and 500 250 125 63 32 16, then doubled five times.
    const ArrayD d = ocu::glare::blurdnzel(ArrayD(375, 500), 5);
    EXPECT_EQ(d.rows(), 12u);
    EXPECT_EQ(d.cols(), 16u);
    const ArrayD u = ocu::glare::upblurzel(d, 5);
    EXPECT_EQ(u.rows(), 384u);
    EXPECT_EQ(u.cols(), 512u);
}

TEST(PyramidRepeats, ResizedDoublingMatchesDoublingThenNearestResize) {
    const ArrayD ws = random_array(6, 8, 13);
    for (auto [m, n] : Sizes{{23, 30}, {24, 32}, {20, 31}}) {
        const ArrayD full = ocu::glare::upblurzel(ws, 2);
        const ArrayD want = ocu::imresize_nearest(full, static_cast<std::size_t>(m),
                                                  static_cast<std::size_t>(n));
        ArrayD got(static_cast<std::size_t>(m), static_cast<std::size_t>(n));
        ocu::glare::upblurzel_resized(ws, 2, got.view());
        EXPECT_LT(max_abs_diff(got, want), 1e-12) << m << " x " << n;
    }
    // Row 23 of 23 reads row 24 of 24 (floor(22.5 * 24/23) = 23, 0-based).
    ArrayD ramp(6, 8);
    for (std::size_t c = 0; c < 8; ++c)
        for (std::size_t r = 0; r < 6; ++r) ramp(r, c) = static_cast<double>(r);
    const ArrayD full = ocu::glare::upblurzel(ramp, 2);
    ArrayD got(23, 32);
    ocu::glare::upblurzel_resized(ramp, 2, got.view());
    EXPECT_DOUBLE_EQ(got(22, 0), full(23, 0));
    EXPECT_DOUBLE_EQ(got(0, 0), full(0, 0));
}

TEST(PyramidRepeats, ResultsDoNotDependOnThreadCount) {
    const ArrayD x = random_array(301, 419, 17);
    auto run = [&](unsigned threads) {
        ocu::thread_count_override() = threads;
        ArrayD d = ocu::glare::blurdnzel(x, 3);
        ArrayD u = ocu::glare::upblurzel(d, 3);
        ocu::thread_count_override() = 0;
        return std::pair{d, u};
    };
    const auto one = run(1);
    for (unsigned t : {2u, 3u, 7u}) {
        const auto many = run(t);
        EXPECT_EQ(one.first, many.first);
        EXPECT_EQ(one.second, many.second);
    }
}

TEST(PyramidRepeats, MultiPlaneArraysAreRefused) {
    EXPECT_THROW(ocu::glare::corrdnzel(ArrayD(8, 8, 3)), ocu::Error);
    EXPECT_THROW(ocu::glare::rconv2(ArrayD(8, 8, 2), ocu::glare::binomial_kernel5()), ocu::Error);
}

}  // namespace
