// Acuity notations and the Pelli-Robson score. Expected values are worked out
// by hand: 20/200 = 6/60 = decimal 0.1 = logMAR 1.0; 10^-0.3 = 0.50118723362727;
// 10^(1.95 - 1.65) = 10^0.3 = 1.99526231496888.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "clinical/units.hpp"
#include "testutil.hpp"

using ocu::clinical::contrast_factor_from_logcs;
using ocu::clinical::kNormalLogCS;
using ocu::clinical::parse_acuity;
using ocu::testutil::error_of;
using ocu::testutil::expect_error;

namespace {
double acuity(const std::string& text) { return parse_acuity(text, "acuity"); }
}  // namespace

TEST(Acuity, OneValueInEveryNotation) {
    for (const char* text : {"20/200", "6/60", "0.1", ".1", "1e-1", "+0.1", "logMAR 1.0", "1.0 logMAR", "LOGMAR 1",
                             "logmar1", "1\tLogMar", "20 / 200"})
        EXPECT_NEAR(acuity(text), 0.1, 1e-12) << text;
    EXPECT_DOUBLE_EQ(acuity("20/40"), 0.5);
    EXPECT_DOUBLE_EQ(acuity("6/12"), 0.5);
    EXPECT_DOUBLE_EQ(acuity("7/3"), 7.0 / 3.0);
    EXPECT_NEAR(acuity("logMAR 0.3"), 0.50118723362727, 1e-12);
    // The ends of the logMAR range are allowed.
    EXPECT_NEAR(acuity("logMAR -0.3"), 1.99526231496888, 1e-12);
    EXPECT_NEAR(acuity("3 logMAR"), 0.001, 1e-15);
}

TEST(Acuity, ErrorsNameTheFieldAndQuoteTheText) {
    const auto call = [](const char* text) { return [text] { parse_acuity(text, "visual acuity (mar)"); }; };
    expect_error(call("good"),
                 "Invalid visual acuity (mar): \"good\". Enter a decimal acuity (for example 0.5), a Snellen "
                 "fraction (20/40, 6/12) or a logMAR value (logMAR 0.3, 0.3 logMAR).");
    expect_error(call("0,5"), "Invalid visual acuity (mar): \"0,5\". Use a point as decimal separator (0.5, not 0,5).");
    expect_error(call(" 0.5"), "Invalid visual acuity (mar): \" 0.5\". Remove the spaces before and after the value.");
    expect_error(call("20/0"),
                 "Invalid visual acuity (mar): \"20/0\". Both parts of a Snellen fraction must be greater than 0.");
    expect_error(call("logMAR 3.1"), "Invalid visual acuity (mar): \"logMAR 3.1\". A logMAR value must lie between "
                                     "-0.3 and 3.");
    expect_error(call("0"), "Invalid visual acuity (mar): \"0\". A decimal acuity must be greater than 0.");
    expect_error(call("1e999"),
                 "Invalid visual acuity (mar): \"1e999\". The number is too large or too small for an acuity.");
}

TEST(Acuity, RejectsEverythingElse) {
    const std::string kNone = "Enter a decimal acuity";
    const struct {
        const char* text;
        std::string why;
    } cases[] = {
        {"", kNone}, {"0x1p-1", kNone}, {"inf", kNone}, {"nan", kNone}, {"-inf", kNone}, {"0.5x", kNone},
        {"0.5.", kNone}, {"1e", kNone}, {"e1", kNone}, {".", kNone}, {"20/", kNone}, {"/40", kNone},
        {"20/40/2", kNone}, {"20/40 logMAR", kNone}, {"logMAR", kNone}, {"logMAR 0.3 logMAR", kNone},
        {"0.3 log MAR", kNone}, {"0.3 logMARs", kNone}, {"0.5 ", "Remove the spaces"},
        {"logMAR 0,3", "decimal separator"}, {"-20/40", "Snellen"}, {"20/-40", "Snellen"}, {"0/20", "Snellen"},
        {"logMAR -0.31", "between -0.3 and 3"}, {"logMAR 1e9", "between -0.3 and 3"},
        {"-0.1", "greater than 0"}, {"1e300/1e-300", "too large or too small"},
    };
    for (const auto& c : cases) {
        const std::string err = error_of([&] { acuity(c.text); });
        EXPECT_NE(err.find("Invalid acuity: \"" + std::string(c.text) + "\". "), std::string::npos) << c.text;
        EXPECT_NE(err.find(c.why), std::string::npos) << c.text << ": " << err;
    }
}

TEST(PelliRobson, ContrastFactor) {
    EXPECT_EQ(kNormalLogCS, 1.95);
    EXPECT_NEAR(contrast_factor_from_logcs(1.65), 1.995, 5e-4);
    EXPECT_NEAR(contrast_factor_from_logcs(1.65), 1.99526231496888, 1e-12);
    EXPECT_DOUBLE_EQ(contrast_factor_from_logcs(1.95), 1.0);
    // A reference of one's own: 1.8 - 1.2 = 0.6 log units, 10^0.6.
    EXPECT_NEAR(contrast_factor_from_logcs(1.2, 1.8), 3.98107170553497, 1e-12);
    // The ends of the chart: 10^1.95 and 10^-0.45.
    EXPECT_NEAR(contrast_factor_from_logcs(0.0), 89.1250938133746, 1e-10);
    EXPECT_NEAR(contrast_factor_from_logcs(2.4), 0.354813389233575, 1e-12);
}

TEST(PelliRobson, ScoresOffTheChartAreErrors) {
    expect_error([] { contrast_factor_from_logcs(2.5); },
                 "Invalid Pelli-Robson score (logCS): 2.5. Enter a log contrast sensitivity between 0 and 2.4 "
                 "(1.95 is normal).");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const double v : {-0.01, 2.41, nan, std::numeric_limits<double>::infinity()})
        EXPECT_NE(error_of([v] { contrast_factor_from_logcs(v); }).find("Invalid Pelli-Robson score (logCS): "),
                  std::string::npos)
            << v;
    EXPECT_NE(error_of([nan] { contrast_factor_from_logcs(nan); }).find("(logCS): NaN."), std::string::npos);
    EXPECT_NE(error_of([] { contrast_factor_from_logcs(1.0, 3.0); }).find("(reference logCS): 3."),
              std::string::npos);
}
