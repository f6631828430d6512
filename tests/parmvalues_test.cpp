// The value rules of the parameter dialogs: the glare slider's bands and the
// checks the commands make on the values a dialog returns.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "dialogs/parmvalues.hpp"
#include "toolkit/error.hpp"
#include "testutil.hpp"

using namespace ocu::dlg;
using ocu::testutil::error_of;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
}  // namespace

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
    for (double w : {20.0, 0.001, 90.0, 179.9}) EXPECT_EQ(error_of([&] { check_width(w); }), "");
    for (double m : {1.0, 0.05, 2.0, 1e-6}) EXPECT_EQ(error_of([&] { check_acuity(m); }), "");
    for (double c : {1.0, 0.1, 5.0}) EXPECT_EQ(error_of([&] { check_contrast(c); }), "");
}

TEST(ParameterChecks, WidthOutsideZeroTo180NamesFieldAndValue) {
    const std::string nan_msg = error_of([] { check_width(std::nan("")); });
    EXPECT_NE(nan_msg.find("(width): NaN."), std::string::npos) << nan_msg;
    EXPECT_NE(error_of([] { check_width(0.0); }).find("(width): 0."), std::string::npos);
    EXPECT_NE(error_of([] { check_width(-5.0); }).find("(width): -5."), std::string::npos);
    EXPECT_NE(error_of([] { check_width(180.0); }).find("(width): 180."), std::string::npos);
    EXPECT_NE(error_of([] { check_width(kInf); }).find("(width): Inf."), std::string::npos);
    EXPECT_NE(error_of([] { check_width(-kInf); }).find("(width): -Inf."), std::string::npos);
}

TEST(ParameterChecks, AcuityAndContrastMustBePositiveAndFinite) {
    EXPECT_NE(error_of([] { check_acuity(std::nan("")); }).find("(mar): NaN."),
              std::string::npos);
    EXPECT_NE(error_of([] { check_acuity(0.0); }).find("(mar): 0."), std::string::npos);
    EXPECT_NE(error_of([] { check_acuity(-0.5); }).find("(mar): -0.5."), std::string::npos);
    EXPECT_NE(error_of([] { check_acuity(kInf); }).find("(mar): Inf."), std::string::npos);
    EXPECT_NE(error_of([] { check_contrast(std::nan("")); }).find("(contrastf): NaN."),
              std::string::npos);
    EXPECT_NE(error_of([] { check_contrast(0.0); }).find("(contrastf): 0."),
              std::string::npos);
    EXPECT_NE(error_of([] { check_contrast(-2.0); }).find("(contrastf): -2."),
              std::string::npos);
    EXPECT_NE(error_of([] { check_contrast(kInf); }).find("(contrastf): Inf."),
              std::string::npos);
}
