// Colour vision simulations: values worked out by hand from the published
// matrices and the sRGB formulas, the properties of the table (identity at
// severity 0, rows summing to 1, linear interpolation, the protan confusion
// line), the transfer function at its break points, the vectorised power
// against std::pow, and bad input.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <random>
#include <type_traits>
#include <utility>
#include <vector>

#include "colour/colour.hpp"
#include "colour/kernels.hpp"
#include "colour/srgb.hpp"
#include "testutil.hpp"

namespace {

using ocu::AnyImage;
using ocu::ArrayD;
using ocu::ArrayU16;
using ocu::ArrayU8;
using ocu::colour::Deficiency;
using ocu::testutil::error_of;
using ocu::testutil::expect_error;
using ocu::testutil::max_abs_diff;
using ocu::testutil::random_u8;

constexpr Deficiency kTypes[] = {Deficiency::Protan, Deficiency::Deutan, Deficiency::Tritan};

// The sRGB encoder written out here, to make test inputs.
double encode(double l) { return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055; }

ArrayD scaled(const ArrayU8& a) {
    ArrayD d(a.rows(), a.cols(), a.planes());
    for (std::size_t i = 0; i < a.numel(); ++i) d[i] = a[i] / 255.0;
    return d;
}

TEST(Colour, SeverityZeroGivesTheInputBack) {
    const ArrayU8 im = random_u8(37, 53, 3, 1);
    const ArrayD want = scaled(im);
    for (const Deficiency t : kTypes) {
        EXPECT_LE(max_abs_diff(ocu::colour::simulate_cvd(im, t, 0.0), want), 1e-12);
        EXPECT_LE(max_abs_diff(ocu::colour::simulate_cvd(want, t, 0.0), want), 1e-12);
    }
}

TEST(Colour, RowsSumToOneSoGrayStaysGray) {
    for (const Deficiency t : kTypes) {
        for (int k = 0; k <= 10; ++k) {
            const auto m = ocu::colour::cvd_matrix(t, k / 10.0);
            for (int r = 0; r < 3; ++r) EXPECT_NEAR(m[3 * r] + m[3 * r + 1] + m[3 * r + 2], 1.0, 5e-6);
        }
    }
    ArrayU8 grays(1, 256, 3);
    for (std::size_t v = 0; v < 256; ++v)
        for (std::size_t p = 0; p < 3; ++p) grays(0, v, p) = static_cast<std::uint8_t>(v);
    for (const Deficiency t : kTypes) {
        for (const double s : {0.1, 0.37, 1.0}) {
            EXPECT_LE(max_abs_diff(ocu::colour::simulate_cvd(grays, t, s), scaled(grays)), 1e-5);
        }
    }
}

TEST(Colour, MatricesInterpolateLinearlyBetweenTabulatedSeverities) {
    // Protan at 0.2 and 0.3, copied from the published table.
    const double m2[9] = {0.734766, 0.334872, -0.069637, 0.05184, 0.919198,
                          0.028963, -0.004928, -0.004209, 1.009137};
    const double m3[9] = {0.630323, 0.465641, -0.095964, 0.069181, 0.890046,
                          0.040773, -0.006308, -0.007724, 1.014032};
    const auto half = ocu::colour::cvd_matrix(Deficiency::Protan, 0.25);
    const auto at3 = ocu::colour::cvd_matrix(Deficiency::Protan, 0.3);
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(half[i], (m2[i] + m3[i]) / 2, 1e-16) << i;
        EXPECT_EQ(at3[i], m3[i]) << i;
    }
    // Tritan at severity 1, the last row of the table.
    EXPECT_EQ(ocu::colour::cvd_matrix(Deficiency::Tritan, 1.0)[8], 0.3039);
}

TEST(Colour, ProtanDichromatAgainstHandValues) {
    // Pure red is linear (1, 0, 0): the first column of the protan matrix at
    // severity 1, (0.152286, 0.114503, -0.003882), the last clipped to 0, then
    // encoded: 1.055 * 0.152286^(1/2.4) - 0.055 = 0.42660847171078622 and so on.
    // Green 128 is linear ((128/255 + 0.055) / 1.055)^2.4 = 0.21586050011389916,
    // times the second column (1.052583, 0.786281, -0.048116).
    const ArrayU8 im(1, 2, 3, {255, 0, /* green */ 0, 128, /* blue */ 0, 0});
    const ArrayD out = ocu::colour::simulate_cvd(im, Deficiency::Protan, 1.0);
    EXPECT_NEAR(out(0, 0, 0), 0.42660847171078622, 1e-12);
    EXPECT_NEAR(out(0, 0, 1), 0.37265427742344544, 1e-12);
    EXPECT_EQ(out(0, 0, 2), 0.0);
    EXPECT_NEAR(out(0, 1, 0), 0.51398143640754394, 1e-12);
    EXPECT_NEAR(out(0, 1, 1), 0.44886635481978784, 1e-12);
    EXPECT_EQ(out(0, 1, 2), 0.0);
}

TEST(Colour, ColoursOnAProtanConfusionLineLookTheSame) {
    // The dichromat matrix is singular: colours that differ by its null
    // vector n (perpendicular to its first two rows) are confused.
    const double r1[3] = {0.152286, 1.052583, -0.204868}, r2[3] = {0.114503, 0.786281, 0.099216};
    const double n[3] = {r1[1] * r2[2] - r1[2] * r2[1], r1[2] * r2[0] - r1[0] * r2[2],
                         r1[0] * r2[1] - r1[1] * r2[0]};
    const double c1[3] = {0.2, 0.3, 0.3};
    ArrayD im(1, 2, 3);
    for (std::size_t p = 0; p < 3; ++p) {
        im(0, 0, p) = encode(c1[p]);
        im(0, 1, p) = encode(c1[p] + 2 * n[p]);  // red 0.2 -> 0.73 in linear light
    }
    ASSERT_GT(im(0, 1, 0) - im(0, 0, 0), 0.3);
    const ArrayD out = ocu::colour::simulate_cvd(im, Deficiency::Protan, 1.0);
    for (std::size_t p = 0; p < 3; ++p) EXPECT_NEAR(out(0, 0, p), out(0, 1, p), 1.0 / 255) << p;
}

TEST(Colour, AchromatopsiaShowsLuminanceInAllPlanes) {
    // Pure green: Y = 0.7152, encoded 1.055 * 0.7152^(1/2.4) - 0.055.
    const ArrayU8 green(1, 1, 3, {0, 255, 0});
    const ArrayD out = ocu::colour::run(green, {Deficiency::Achromat, 0.5});
    for (std::size_t p = 0; p < 3; ++p) EXPECT_NEAR(out(0, 0, p), 0.86248136852914819, 1e-12);

    const ArrayD rnd = ocu::colour::simulate_achromatopsia(random_u8(20, 30, 3, 2));
    for (std::size_t i = 0; i < 20 * 30; ++i) {
        EXPECT_EQ(rnd[i], rnd[i + 600]);
        EXPECT_EQ(rnd[i], rnd[i + 1200]);
    }
}

TEST(Colour, GrayImagesComeBackUnchanged) {
    const ArrayU8 g8 = random_u8(9, 11, 1, 3);
    ArrayU16 g16(9, 11, 1);
    for (std::size_t i = 0; i < g8.numel(); ++i) g16[i] = static_cast<std::uint16_t>(g8[i] * 257);
    for (const Deficiency t : {Deficiency::Protan, Deficiency::Tritan, Deficiency::Achromat}) {
        EXPECT_EQ(ocu::colour::simulate_cvd(g8, t, 1.0), scaled(g8));
        EXPECT_LE(max_abs_diff(ocu::colour::simulate_cvd(g16, t, 1.0), scaled(g8)), 1e-15);
        EXPECT_EQ(ocu::colour::simulate_cvd(scaled(g8), t, 1.0), scaled(g8));
    }
}

TEST(Colour, SampleTypesAgree) {
    const ArrayU8 im = random_u8(13, 17, 3, 4);
    ArrayU16 im16(13, 17, 3);
    for (std::size_t i = 0; i < im.numel(); ++i) im16[i] = static_cast<std::uint16_t>(im[i] * 257);
    const ArrayD want = ocu::colour::simulate_cvd(im, Deficiency::Deutan, 0.8);
    EXPECT_LE(max_abs_diff(ocu::colour::simulate_cvd(im16, Deficiency::Deutan, 0.8), want), 1e-14);
    EXPECT_LE(max_abs_diff(ocu::colour::simulate_cvd(scaled(im), Deficiency::Deutan, 0.8), want), 1e-14);
    // Doubles outside 0..1 are clipped first.
    ArrayD over = scaled(im);
    over[0] = 7.5;
    over[1] = -2;
    ArrayD clipped = scaled(im);
    clipped[0] = 1;
    clipped[1] = 0;
    EXPECT_EQ(ocu::colour::simulate_cvd(over, Deficiency::Deutan, 0.8),
              ocu::colour::simulate_cvd(clipped, Deficiency::Deutan, 0.8));
}

TEST(Colour, ResultsDoNotDependOnTheThreadCount) {
    const ArrayU8 im = random_u8(150, 230, 3, 5);
    ArrayD one, three;
    {
        ocu::testutil::ThreadCount tc(1);
        one = ocu::colour::simulate_cvd(im, Deficiency::Tritan, 0.45);
    }
    {
        ocu::testutil::ThreadCount tc(3);
        three = ocu::colour::simulate_cvd(im, Deficiency::Tritan, 0.45);
    }
    EXPECT_TRUE(one == three);
}

TEST(Colour, PlainFormAgreesWithTheVectorisedOne) {
    const ArrayU8 im = random_u8(31, 41, 3, 9);
    const ArrayD vec8 = ocu::colour::simulate_cvd(im, Deficiency::Protan, 0.55);
    const ArrayD vecd = ocu::colour::simulate_achromatopsia(scaled(im));
    ocu::colour::plain_form_override() = true;
    const ArrayD plain8 = ocu::colour::simulate_cvd(im, Deficiency::Protan, 0.55);
    const ArrayD plaind = ocu::colour::simulate_achromatopsia(scaled(im));
    ocu::colour::plain_form_override() = false;
    EXPECT_LE(max_abs_diff(plain8, vec8), 1e-15);
    EXPECT_LE(max_abs_diff(plaind, vecd), 1e-15);
}

// Large results are written with streaming stores from the first 64-byte
// boundary on: the same values as ordinary stores, at every start offset and
// with a ragged end, one row or three.
TEST(Colour, StreamedStoresGiveTheSameValues) {
    const ArrayU8 im = random_u8(1, 203, 3, 12);
    const std::uint8_t* in[3] = {im.data(), im.data() + 203, im.data() + 406};
    const auto m = ocu::colour::cvd_matrix(Deficiency::Deutan, 0.7);
    for (bool one_row : {false, true}) {
        for (std::size_t off = 0; off < 8; ++off) {
            std::vector<double> a(3 * 203 + 16, -1.0), b(a.size(), -1.0);
            double* outa[3] = {a.data() + off, a.data() + off + 203, a.data() + off + 406};
            double* outb[3] = {b.data() + off, b.data() + off + 203, b.data() + off + 406};
            ocu::colour::mix_encode_u8(m, in, outa, 203, one_row, false);
            ocu::colour::mix_encode_u8(m, in, outb, 203, one_row, true);
            ASSERT_TRUE(a == b) << "offset " << off << (one_row ? ", one row" : "");
        }
    }
}

// Views in C order (red, green, blue of a pixel together, as NumPy keeps
// images) and in a transposed layout give exactly the values of the array
// entry, in both forms of the encoder, with ragged ends.
TEST(Colour, ViewsInOtherLayoutsGiveTheArrayResult) {
    for (bool plain : {false, true}) {
        ocu::colour::plain_form_override() = plain;
        for (const auto& size : {std::pair<std::size_t, std::size_t>{7, 5}, {61, 83}}) {
            const std::size_t rows = size.first, cols = size.second;
            const ArrayU8 im = random_u8(rows, cols, 3, 21);
            std::vector<std::uint8_t> c_order(im.numel());
            for (std::size_t r = 0; r < rows; ++r)
                for (std::size_t c = 0; c < cols; ++c)
                    for (std::size_t p = 0; p < 3; ++p) c_order[(r * cols + c) * 3 + p] = im(r, c, p);
            auto c_view = [&](auto* data) {
                ocu::View<std::remove_pointer_t<decltype(data)>> v(data, rows, cols, 3);
                v.row_stride = static_cast<std::ptrdiff_t>(3 * cols);
                v.col_stride = 3;
                v.plane_stride = 1;
                return v;
            };
            for (const auto type : {Deficiency::Deutan, Deficiency::Achromat}) {
                const ArrayD want = ocu::colour::simulate_cvd(im, type, 0.85);
                std::vector<double> got(want.numel(), -1.0);
                ocu::colour::simulate_cvd(c_view(static_cast<const std::uint8_t*>(c_order.data())), type, 0.85,
                                          c_view(got.data()));
                // Column-major samples into C order.
                std::vector<double> from_planes(want.numel(), -1.0);
                ocu::colour::simulate_cvd(im.view(), type, 0.85, c_view(from_planes.data()));
                EXPECT_TRUE(from_planes == got);
                // Rows one after another in the result: a layout of neither kind.
                ArrayD transposed(3 * cols, rows);
                ocu::View<double> t(transposed.data(), rows, cols, 3);
                t.row_stride = static_cast<std::ptrdiff_t>(3 * cols);
                t.col_stride = 1;
                t.plane_stride = static_cast<std::ptrdiff_t>(cols);
                ocu::colour::simulate_cvd(im.view(), type, 0.85, t);
                for (std::size_t r = 0; r < rows; ++r)
                    for (std::size_t c = 0; c < cols; ++c)
                        for (std::size_t p = 0; p < 3; ++p) {
                            ASSERT_EQ(std::bit_cast<std::uint64_t>(got[(r * cols + c) * 3 + p]),
                                      std::bit_cast<std::uint64_t>(want(r, c, p)))
                                << rows << "x" << cols << " at " << r << "," << c << "," << p << (plain ? " plain" : "");
                            ASSERT_EQ(std::bit_cast<std::uint64_t>(t(r, c, p)), std::bit_cast<std::uint64_t>(want(r, c, p)));
                        }
            }
        }
    }
    ocu::colour::plain_form_override() = false;
    EXPECT_THROW(ocu::colour::simulate_cvd(random_u8(4, 4, 3, 1).view(), Deficiency::Protan, 1,
                                           ArrayD(4, 5, 3).view()),
                 ocu::Error);
}

TEST(Colour, TransferFunctionOnBothSidesOfItsBreakPoints) {
    using ocu::colour::srgb_decode;
    const double above_d = std::nextafter(0.04045, 1.0);
    EXPECT_NEAR(srgb_decode(0.04045), 0.0031308049535603715, 1e-18);  // 0.04045 / 12.92
    // ((c + 0.055) / 1.055)^2.4 there is 0.0031308072830676825, 2.3e-9 higher.
    EXPECT_NEAR(srgb_decode(above_d), 0.0031308072830676825, 1e-17);
    EXPECT_NEAR(srgb_decode(0.5), 0.21404114048223244, 1e-15);

    // 12.92 * 0.0031308 below, 1.055 * 0.0031308^(1/2.4) - 0.055 above.
    const std::vector<double> lin = {0.0031308, std::nextafter(0.0031308, 1.0), 0.5, -0.2, 1.7};
    const std::vector<double> want = {0.040449936, 0.040449907482690157, 0.73535698305244949, 0.0, 1.0};
    std::vector<double> got(lin.size());
    ocu::colour::srgb_encode_clipped(lin, got);
    for (std::size_t i = 0; i < lin.size(); ++i) {
        EXPECT_NEAR(got[i], want[i], 1e-15) << i;
        if (i < 3) {
            EXPECT_NEAR(ocu::colour::srgb_encode(lin[i]), want[i], 1e-15) << i;
        }
    }
}

// Distance in units in the last place of two positive doubles.
std::int64_t ulps(double a, double b) {
    const std::int64_t d = std::bit_cast<std::int64_t>(a) - std::bit_cast<std::int64_t>(b);
    return d < 0 ? -d : d;
}

TEST(Colour, EncoderPowerWithinOneUlpOfStdPow) {
    constexpr double lo = ocu::colour::kEncodeBreak;
    std::vector<double> x;
    std::mt19937_64 gen(6);
    std::uniform_real_distribution<double> u(lo, 1.0), lg(std::log(lo), 0.0);
    for (int i = 0; i < 1000000; ++i) x.push_back(u(gen));
    for (int i = 0; i < 1000000; ++i) x.push_back(std::min(1.0, std::max(lo, std::exp(lg(gen)))));
    // The break point, 1, and both sides of every power of two and every
    // sixteenth of a binade in between.
    for (double v = lo, k = 0; k < 64; ++k, v = std::nextafter(v, 1.0)) x.push_back(v);
    for (double v = 1.0, k = 0; k < 64; ++k, v = std::nextafter(v, 0.0)) x.push_back(v);
    for (int e = -8; e <= -1; ++e)
        for (int j = 0; j < 16; ++j) {
            const double b = std::ldexp(1.0 + j / 16.0, e);
            double up = b, down = b;
            for (int k = 0; k < 8; ++k, up = std::nextafter(up, 2.0), down = std::nextafter(down, 0.0)) {
                x.push_back(up);
                x.push_back(down);
            }
        }
    std::vector<double> y(x.size());
    ocu::colour::encoder_pow(x, y);
    std::size_t differ = 0;
    std::int64_t worst = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const std::int64_t d = ulps(y[i], std::pow(x[i], 1 / 2.4));
        worst = std::max(worst, d);
        differ += d != 0;
        if (d > 1) ADD_FAILURE() << "x = " << x[i] << ": " << d << " ulps";
    }
    EXPECT_LE(worst, 1);
    std::cout << "vectorised: " << ocu::colour::encoder_pow_vectorised() << ", " << differ << " of "
              << x.size() << " values differ from std::pow by one ulp\n";
}

TEST(Colour, BadInputIsRefusedNamingTheValue) {
    using ocu::colour::parse_deficiency;
    EXPECT_EQ(parse_deficiency("protan"), Deficiency::Protan);
    EXPECT_EQ(parse_deficiency("deutan"), Deficiency::Deutan);
    EXPECT_EQ(parse_deficiency("tritan"), Deficiency::Tritan);
    EXPECT_EQ(parse_deficiency("achromat"), Deficiency::Achromat);
    for (const Deficiency t : {Deficiency::Protan, Deficiency::Deutan, Deficiency::Tritan, Deficiency::Achromat})
        EXPECT_EQ(parse_deficiency(ocu::colour::deficiency_name(t)), t);
    expect_error([] { parse_deficiency("xyz"); },
                 "Colour vision type \"xyz\" is not one of protan, deutan, tritan, achromat.");
    expect_error([] { parse_deficiency("Protan"); },
                 "Colour vision type \"Protan\" is not one of protan, deutan, tritan, achromat.");
    expect_error([] { parse_deficiency(""); },
                 "Colour vision type \"\" is not one of protan, deutan, tritan, achromat.");

    expect_error([] { ocu::colour::check_severity(1.5); }, "The severity must be a number from 0 to 1, not 1.5.");
    expect_error([] { ocu::colour::check_severity(-0.01); }, "The severity must be a number from 0 to 1, not -0.01.");
    expect_error([] { ocu::colour::check_severity(std::nan("")); },
                 "The severity must be a number from 0 to 1, not NaN.");
    expect_error([] { ocu::colour::check({Deficiency::Achromat, -1}); },
                 "The severity must be a number from 0 to 1, not -1.");
    EXPECT_NO_THROW(ocu::colour::check({Deficiency::Tritan, 0}));
    const ArrayU8 im = random_u8(4, 5, 3, 7);
    for (const Deficiency t : {Deficiency::Deutan, Deficiency::Achromat}) {
        EXPECT_EQ(error_of([&] { ocu::colour::run(im, {t, 1.0000001}); }),
                  "The severity must be a number from 0 to 1, not 1.0000001.");
        EXPECT_EQ(error_of([&] { ocu::colour::run(im, {t, std::numeric_limits<double>::infinity()}); }),
                  "The severity must be a number from 0 to 1, not inf.");
    }

    for (const std::size_t planes : {2, 4}) {
        expect_error([&] { ocu::colour::simulate_cvd(random_u8(4, 5, planes, 8), Deficiency::Protan, 1); },
                     "The colour vision simulation needs a gray or a three-plane colour image, not one with " +
                         std::to_string(planes) + " planes.");
    }
    for (const std::size_t planes : {1, 3}) {
        ArrayD bad(4, 5, planes, 0.5);
        bad[7] = std::numeric_limits<double>::infinity();
        expect_error([&] { ocu::colour::simulate_cvd(bad, Deficiency::Protan, 1); },
                     "The image holds values that are not finite numbers.");
    }
}

}  // namespace
