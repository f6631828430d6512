// The value rules of the parameter dialogs: typed text to number, number to
// field text, the glare slider's bands and the checks the commands make.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "dialogs/parmvalues.hpp"
#include "toolkit/error.hpp"

using namespace ocu::dlg;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();

// The message of the error `f` throws, or "" when it throws nothing.
template <class F>
std::string error_text(F&& f) {
    try {
        f();
    } catch (const ocu::Error& e) {
        return e.what();
    }
    return "";
}
}  // namespace

TEST(TextToDouble, ReadsTheNumbersAUserTypes) {
    EXPECT_EQ(text_to_double("0.5"), 0.5);
    EXPECT_EQ(text_to_double("2"), 2.0);
    EXPECT_EQ(text_to_double("1e-1"), 0.1);
    EXPECT_EQ(text_to_double("30"), 30.0);
    EXPECT_EQ(text_to_double("0.25"), 0.25);
    EXPECT_EQ(text_to_double("-2.5"), -2.5);
    EXPECT_EQ(text_to_double("+4"), 4.0);
    EXPECT_EQ(text_to_double(".5"), 0.5);
    EXPECT_EQ(text_to_double("-.25e2"), -25.0);
    EXPECT_EQ(text_to_double("3."), 3.0);
    EXPECT_EQ(text_to_double("2.5E+3"), 2500.0);
    EXPECT_EQ(text_to_double("007"), 7.0);
    EXPECT_EQ(text_to_double("0"), 0.0);
    EXPECT_TRUE(std::signbit(text_to_double("-0")));
}

TEST(TextToDouble, IgnoresSurroundingBlanks) {
    EXPECT_EQ(text_to_double("  20 "), 20.0);
    EXPECT_EQ(text_to_double("\t0.1\n"), 0.1);
    EXPECT_EQ(text_to_double(" -1e2\r\n"), -100.0);
}

TEST(TextToDouble, ReadsInfinityAndNaNWords) {
    EXPECT_EQ(text_to_double("Inf"), kInf);
    EXPECT_EQ(text_to_double("inf"), kInf);
    EXPECT_EQ(text_to_double("-Inf"), -kInf);
    EXPECT_EQ(text_to_double("+INFINITY"), kInf);
    EXPECT_TRUE(std::isnan(text_to_double("NaN")));
    EXPECT_TRUE(std::isnan(text_to_double("nan")));
}

TEST(TextToDouble, MagnitudesBeyondTheDoubleRange) {
    EXPECT_EQ(text_to_double("1e400"), kInf);
    EXPECT_EQ(text_to_double("-1e400"), -kInf);
    EXPECT_EQ(text_to_double("1" + std::string(400, '0')), kInf);
    EXPECT_EQ(text_to_double("0.00001e309"), 1e304);
    EXPECT_EQ(text_to_double("1e-400"), 0.0);
    EXPECT_TRUE(std::signbit(text_to_double("-1e-400")));
    EXPECT_EQ(text_to_double("0." + std::string(400, '0') + "1"), 0.0);
    EXPECT_EQ(text_to_double("12345e-400"), 0.0);
    EXPECT_EQ(text_to_double("1e-310"), 1e-310);  // a subnormal still reads
    EXPECT_EQ(text_to_double("1e99999999999999999999"), kInf);
    EXPECT_EQ(text_to_double("1e-99999999999999999999"), 0.0);
}

TEST(TextToDouble, AnythingElseIsNaN) {
    for (const char* bad :
         {"", " ", "\t", "abc", "twenty", "0,5", "1,000", "1e", "1e+", "e5", ".", "+", "-",
          "1.2.3", "1 2", "0x10", "--1", "+-1", "12abc", "abc12", "in", "infinit", "nan(1)",
          "1d2", "5%", "1/2", "\xe2\x88\x9e", "1e5.5", ". 5", "- 1"}) {
        EXPECT_TRUE(std::isnan(text_to_double(bad))) << "text: \"" << bad << "\"";
    }
    EXPECT_TRUE(std::isnan(text_to_double(std::string("1\0" "2", 3))));
}

TEST(NumberText, WholeNumbersHaveNoDecimalPoint) {
    EXPECT_EQ(number_text(20.0), "20");
    EXPECT_EQ(number_text(1.0), "1");
    EXPECT_EQ(number_text(0.0), "0");
    EXPECT_EQ(number_text(-0.0), "0");
    EXPECT_EQ(number_text(-3.0), "-3");
    EXPECT_EQ(number_text(123456789012345.0), "123456789012345");
}

TEST(NumberText, OtherValues) {
    EXPECT_EQ(number_text(0.5), "0.5");
    EXPECT_EQ(number_text(0.1), "0.1");
    EXPECT_EQ(number_text(0.25), "0.25");
    EXPECT_EQ(number_text(-2.75), "-2.75");
    EXPECT_EQ(number_text(1e-5), "1e-05");
    EXPECT_EQ(number_text(std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(number_text(kInf), "Inf");
    EXPECT_EQ(number_text(-kInf), "-Inf");
}

TEST(NumberText, ReadsBackToTheSameValue) {
    for (double v : {20.0, 0.5, 0.1, 1.0 / 3.0, 2.0 / 3.0, 1e-5, 12.5, 1e15, 3e20, -7.25,
                     4.9e-324, 1.7976931348623157e308, kInf, -kInf}) {
        EXPECT_EQ(text_to_double(number_text(v)), v) << number_text(v);
    }
    EXPECT_TRUE(std::isnan(text_to_double(number_text(std::nan("")))));
}

TEST(GlareSlider, ExampleBands) {
    EXPECT_EQ(glare_factor(0.09), 0.0);  // 11 x 0.09 - 0.501 = 0.489
    EXPECT_EQ(glare_factor(0.0911), 1.0);
    EXPECT_EQ(glare_factor(0.95), 10.0);
    EXPECT_EQ(glare_factor(1.0), 10.0);
    EXPECT_EQ(glare_factor(0.0), 0.0);
    EXPECT_EQ(glare_factor(0.1), 1.0);
    EXPECT_EQ(glare_factor(0.7), 7.0);
    EXPECT_EQ(glare_factor(0.909), 9.0);   // 9.999 - 0.501 = 9.498
    EXPECT_EQ(glare_factor(0.9092), 10.0);  // 10.0012 - 0.501 = 9.5002
    EXPECT_EQ(glare_factor(std::nan("")), 0.0);
}

TEST(GlareSlider, ElevenBandsOfWidthOneEleventh) {
    // Band k starts at (k + 0.001) / 11; just inside and just outside each edge.
    for (int k = 1; k <= 10; ++k) {
        EXPECT_EQ(glare_factor((k + 0.0011) / 11.0), k) << "edge " << k;
        EXPECT_EQ(glare_factor((k + 0.0009) / 11.0), k - 1) << "edge " << k;
    }
    // Below the first edge everything is 0, also slightly negative positions.
    EXPECT_EQ(glare_factor(-0.05), 0.0);
    EXPECT_EQ(glare_factor(0.05), 0.0);
}

TEST(GlareSlider, PositionForAFactor) {
    EXPECT_EQ(slider_position(1.0), 0.1);
    EXPECT_EQ(slider_position(7.0), 0.7);
    EXPECT_EQ(slider_position(12.5), 1.0);
    EXPECT_EQ(slider_position(15.0), 1.0);
    EXPECT_EQ(slider_position(-3.0), 0.0);
    EXPECT_EQ(slider_position(std::nan("")), 0.0);
    EXPECT_DOUBLE_EQ(slider_position(0.55), 0.055);
}

TEST(GlareSlider, RoundTripGivesTheIntegerBack) {
    for (int k = 0; k <= 10; ++k) EXPECT_EQ(glare_factor(slider_position(k)), k);
    EXPECT_EQ(glare_factor(slider_position(12.5)), 10.0);
    EXPECT_EQ(glare_factor(slider_position(15.0)), 10.0);
    EXPECT_EQ(glare_factor(slider_position(-3.0)), 0.0);
    EXPECT_EQ(glare_factor(slider_position(0.55)), 0.0);  // 0.605 - 0.501 = 0.104
}

TEST(ParameterChecks, AcceptSensibleValues) {
    for (double w : {20.0, 0.001, 90.0, 179.9}) EXPECT_EQ(error_text([&] { check_width(w); }), "");
    for (double m : {1.0, 0.05, 2.0, 1e-6}) EXPECT_EQ(error_text([&] { check_acuity(m); }), "");
    for (double c : {1.0, 0.1, 5.0}) EXPECT_EQ(error_text([&] { check_contrast(c); }), "");
}

TEST(ParameterChecks, WidthOutsideZeroTo180NamesFieldAndValue) {
    const std::string nan_msg = error_text([] { check_width(std::nan("")); });
    EXPECT_NE(nan_msg.find("(width): NaN."), std::string::npos) << nan_msg;
    EXPECT_NE(error_text([] { check_width(0.0); }).find("(width): 0."), std::string::npos);
    EXPECT_NE(error_text([] { check_width(-5.0); }).find("(width): -5."), std::string::npos);
    EXPECT_NE(error_text([] { check_width(180.0); }).find("(width): 180."), std::string::npos);
    EXPECT_NE(error_text([] { check_width(kInf); }).find("(width): Inf."), std::string::npos);
    EXPECT_NE(error_text([] { check_width(-kInf); }).find("(width): -Inf."), std::string::npos);
}

TEST(ParameterChecks, AcuityAndContrastMustBePositiveAndFinite) {
    EXPECT_NE(error_text([] { check_acuity(std::nan("")); }).find("(mar): NaN."),
              std::string::npos);
    EXPECT_NE(error_text([] { check_acuity(0.0); }).find("(mar): 0."), std::string::npos);
    EXPECT_NE(error_text([] { check_acuity(-0.5); }).find("(mar): -0.5."), std::string::npos);
    EXPECT_NE(error_text([] { check_acuity(kInf); }).find("(mar): Inf."), std::string::npos);
    EXPECT_NE(error_text([] { check_contrast(std::nan("")); }).find("(contrastf): NaN."),
              std::string::npos);
    EXPECT_NE(error_text([] { check_contrast(0.0); }).find("(contrastf): 0."),
              std::string::npos);
    EXPECT_NE(error_text([] { check_contrast(-2.0); }).find("(contrastf): -2."),
              std::string::npos);
    EXPECT_NE(error_text([] { check_contrast(kInf); }).find("(contrastf): Inf."),
              std::string::npos);
}
