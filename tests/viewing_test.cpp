// The viewing parameters' checks (one message each, naming the field and the
// value) and the viewing distance in pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "testutil.hpp"
#include "toolkit/error.hpp"
#include "toolkit/viewing.hpp"

using namespace ocu::viewing;
using ocu::testutil::error_of;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
}  // namespace

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
    EXPECT_NE(error_of([] { check_acuity(std::nan("")); }).find("(mar): NaN."), std::string::npos);
    EXPECT_NE(error_of([] { check_acuity(0.0); }).find("(mar): 0."), std::string::npos);
    EXPECT_NE(error_of([] { check_acuity(-0.5); }).find("(mar): -0.5."), std::string::npos);
    EXPECT_NE(error_of([] { check_acuity(kInf); }).find("(mar): Inf."), std::string::npos);
    EXPECT_NE(error_of([] { check_contrast(std::nan("")); }).find("(contrastf): NaN."), std::string::npos);
    EXPECT_NE(error_of([] { check_contrast(0.0); }).find("(contrastf): 0."), std::string::npos);
    EXPECT_NE(error_of([] { check_contrast(-2.0); }).find("(contrastf): -2."), std::string::npos);
    EXPECT_NE(error_of([] { check_contrast(kInf); }).find("(contrastf): Inf."), std::string::npos);
}

TEST(ParameterChecks, OneTextPerField) {
    EXPECT_EQ(error_of([] { check_width(180.0); }),
              "Invalid image width (width): 180. Enter the image's width in degrees, a number greater than 0 "
              "and less than 180.");
    EXPECT_EQ(
        error_of([] { check_acuity(0.0); }),
        "Invalid visual acuity (mar): 0. Enter the decimal acuity, a number greater than 0 (for example 1 "
        "or 0.5).");
    EXPECT_EQ(error_of([] { check_contrast(-1.0); }),
              "Invalid contrast factor (contrastf): -1. Enter a number greater than 0 (1 is normal contrast "
              "sensitivity).");
}

TEST(ViewingDistance, HalfTheColumnsOverTheTangentOfHalfTheWidth) {
    // 640 columns spanning 20 degrees: 320 / tan(10 deg) = 1814.81 pixels.
    EXPECT_NEAR(viewing_distance(640, 20.0), 1814.81, 0.005);
    // 90 degrees: tan(45 deg) = 1, so the distance is half the columns.
    EXPECT_NEAR(viewing_distance(500, 90.0), 250.0, 1e-12);
    EXPECT_NE(error_of([] { viewing_distance(640, 0.0); }).find("(width): 0."), std::string::npos);
}
