// From perimetry values to the polar plot: dB to sensitivity and blue, the
// normal model against its table, the interpolation (exact at the points,
// linear in a triangle, continued along rays), the blind spot of either eye,
// the binocular field, and the plot read back by the fixation-dependent
// simulation. Expected values are worked out by hand from the formulas.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <string>

#include "cli_testutil.hpp"
#include "field/field.hpp"
#include "fixdep/resmap.hpp"
#include "testutil.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

using namespace ocu;
using namespace ocu::field;
using ocu::testutil::error_of;
using ::testing::HasSubstr;

namespace {

// The 24-2 grid of the right eye: 6 degrees apart, 3 off the meridians,
// nasal points at (-27, +-3); `value` gives each point's total deviation
// (NaN: not seen).
Measurement field_24_2(const std::function<double(double, double)>& value, std::optional<Eye> eye = Eye::OD) {
    Measurement m;
    m.source = "test.csv";
    m.eye = eye;
    m.kind = Kind::TotalDeviation;
    for (int y = -21; y <= 21; y += 6) {
        const int w = std::abs(y) == 21 ? 9 : std::abs(y) == 15 ? 15 : 21;
        for (int x = std::abs(y) == 3 ? -27 : -w; x <= w; x += 6) {
            const double v = value(x, y);
            m.points.push_back({double(x), double(y), std::isnan(v) ? 0.0 : v, !std::isnan(v), "p"});
        }
    }
    EXPECT_EQ(m.points.size(), 54u);
    return m;
}

// The blue value at (x, y) degrees: row 200 - y * k, column 200 + x * k (1-based).
int blue_at(const ArrayU8& im, double x, double y) {
    const double k = 176.2774 / 90;
    return im(static_cast<std::size_t>(std::lround(200 - y * k)) - 1,
              static_cast<std::size_t>(std::lround(200 + x * k)) - 1, 2);
}

const double kNotSeen = std::nan("");

}  // namespace

TEST(FieldConversion, DecibelsToSensitivityAndBlue) {
    EXPECT_NEAR(sensitivity_from_td(-3), 0.501187, 1e-6);  // 10^-0.3
    EXPECT_EQ(blue_of(sensitivity_from_td(-3)), 128);      // 127.8
    EXPECT_EQ(blue_of(sensitivity_from_td(-20)), 3);       // 2.55
    EXPECT_EQ(sensitivity_from_td(0), 1.0);
    EXPECT_EQ(sensitivity_from_td(4), 1.0);
    // A threshold below 0 dB is blind; exactly 0 dB is not.
    EXPECT_EQ(sensitivity(-31, 30), 0.0);
    EXPECT_NEAR(sensitivity(-30, 30), 0.001, 1e-12);
    // The normal model: 33 - 0.3 * eccentricity - 0.08 * (age - 20).
    EXPECT_DOUBLE_EQ(normal_threshold_db(0, 0, 20), 33.0);
    EXPECT_DOUBLE_EQ(normal_threshold_db(0, 0, 10), 33.0);
    EXPECT_NEAR(normal_threshold_db(3, 3, 50), 29.3272078, 1e-7);
    EXPECT_NEAR(normal_threshold_db(-27, 3, 70), 20.8501534, 1e-7);
    EXPECT_DOUBLE_EQ(normal_threshold_db(0, 120, 20), 6.0);  // taken as 90 degrees

    // Not seen anywhere ("<0"): blind everywhere inside the circle.
    const PolarPlot p = polar_plot(field_24_2([](double, double) { return kNotSeen; }));
    for (double x : {0.0, 10.0, -40.0, 80.0}) EXPECT_EQ(blue_at(p.image, x, 5), 0) << x;
}

TEST(FieldInterpolation, ExactAtEveryTestPoint) {
    const Measurement m = field_24_2([](double x, double y) { return 0.3 * x - 0.2 * y + 0.01 * x * y + std::sin(x); });
    std::vector<Interpolator::Node> nodes;
    for (const TestPoint& p : m.points) nodes.push_back({p.x, p.y, p.db});
    const Interpolator f(nodes);
    for (const auto& n : nodes) EXPECT_NEAR(f(n.x, n.y), n.value, 1e-12) << n.x << ", " << n.y;
}

TEST(FieldInterpolation, LinearInsideATriangleByHand) {
    // Two triangles: (0,0) (10,0) (0,10) with values 0 10 20, i.e. x + 2y; and
    // (10,0) (12,12) (0,10) with values 10 0 20.
    const Interpolator f({{0, 0, 0}, {10, 0, 10}, {0, 10, 20}, {12, 12, 0}});
    EXPECT_NEAR(f(2, 3), 8.0, 1e-12);
    EXPECT_NEAR(f(5, 5), 15.0, 1e-12);  // on the shared edge
    // (8, 8) = (10, 0) + 3/7 (2, 12) + 2/7 (-10, 10): 2/7 * 10 + 3/7 * 0 + 2/7 * 20.
    EXPECT_NEAR(f(8, 8), 60.0 / 7.0, 1e-12);
    EXPECT_EQ(f.inside(13, 13), std::nullopt);
}

TEST(FieldInterpolation, ContinuedAlongTheRayFromFixation) {
    // A square around fixation, values x + 2y at the corners, 0 in the middle.
    const Interpolator f({{-10, -10, -30}, {10, -10, -10}, {10, 10, 30}, {-10, 10, 10}, {0, 0, 0}});
    EXPECT_NEAR(f(20, 0), 10.0, 1e-12);    // leaves at (10, 0)
    EXPECT_NEAR(f(40, 20), 20.0, 1e-12);   // leaves at (10, 5)
    EXPECT_NEAR(f(30, 30), 30.0, 1e-12);   // through the corner (10, 10)
    EXPECT_NEAR(f(0, -40), -20.0, 1e-12);  // leaves at (0, -10)
    EXPECT_NEAR(f(-85, 17), -6.0, 1e-12);  // leaves at (-10, 2)
    // Fixation outside the hull: the crossing nearest the point, else the nearest hull point.
    const Interpolator g({{10, 10, 1}, {20, 10, 2}, {10, 20, 3}});
    EXPECT_NEAR(g(30, 30), 2.5, 1e-12);    // leaves at (15, 15)
    EXPECT_NEAR(g(0, 0), 1.0, 1e-12);      // nearest: (10, 10)
    EXPECT_NEAR(g(5, 15), 2.0, 1e-12);     // nearest: (10, 15)

    EXPECT_EQ(error_of([] { Interpolator({{0, 0, 1}, {1, 1, 1}}); }),
              "There are 2 test points; at least three are needed.");
    EXPECT_EQ(error_of([] { Interpolator({{0, 0, 1}, {1, 1, 1}, {3, 3, 2}}); }),
              "All test points lie on one line; they must span an area.");
}

TEST(FieldPlot, MinusThreeDecibelsEverywhereHullOrNormalPeriphery) {
    const Measurement m = field_24_2([](double, double) { return -3.0; });
    const PolarPlot hull = polar_plot(m);
    ASSERT_EQ(hull.image.rows(), 400u);
    ASSERT_EQ(hull.image.cols(), 400u);
    ASSERT_EQ(hull.image.planes(), 3u);
    EXPECT_EQ(hull.eyes, Eyes::OD);
    PlotOptions normal;
    normal.periphery = Periphery::Normal;
    const PolarPlot norm = polar_plot(m, normal);
    for (auto [x, y] : {std::pair{0.0, 0.0}, {-15.0, 10.0}, {2.0, -20.0}}) {
        EXPECT_EQ(blue_at(hull.image, x, y), 128);
        EXPECT_EQ(blue_at(norm.image, x, y), 128);
    }
    for (auto [x, y] : {std::pair{60.0, 0.0}, {0.0, -40.0}, {-50.0, 50.0}}) {
        EXPECT_EQ(blue_at(hull.image, x, y), 128);
        EXPECT_EQ(blue_at(norm.image, x, y), 255);
    }
    EXPECT_EQ(hull.image(0, 0, 2), 235);  // the frame outside 90 degrees
}

TEST(FieldPlot, SameDataAsOdAndOsMirrorsTheBlindSpot) {
    const Measurement m = field_24_2([](double, double) { return 0.0; }, std::nullopt);
    PlotOptions opts;
    opts.eye = Eye::OD;
    const ArrayU8 od = polar_plot(m, opts).image;
    opts.eye = Eye::OS;
    const PolarPlot os = polar_plot(m, opts);
    EXPECT_EQ(os.eyes, Eyes::OS);
    // The blind spot: 5.5 wide, 7.5 high, centred (15, -1.5) for OD.
    EXPECT_EQ(blue_at(od, 15, -1.5), 0);
    EXPECT_EQ(blue_at(od, 17.2, -1.5), 0);
    EXPECT_EQ(blue_at(od, 18.4, -1.5), 255);
    EXPECT_EQ(blue_at(od, 15, -4.9), 0);
    EXPECT_EQ(blue_at(od, 15, -5.8), 255);
    EXPECT_EQ(blue_at(od, -15, -1.5), 255);
    EXPECT_EQ(blue_at(os.image, -15, -1.5), 0);
    EXPECT_EQ(blue_at(os.image, 15, -1.5), 255);
    // Everything else alike: OS is OD mirrored about column 200.
    for (std::size_t c = 1; c < 400; ++c)
        for (std::size_t r = 0; r < 400; ++r) ASSERT_EQ(os.image(r, 399 - c, 2), od(r, c - 1, 2)) << r << ", " << c;
}

TEST(FieldPlot, NotSeenPointInTheBlindSpotTakesItsPlace) {
    Measurement m = field_24_2([](double, double) { return 0.0; });
    EXPECT_EQ(blue_at(polar_plot(m).image, 15, 2), 0);  // inside the added ellipse
    m.points.push_back({15, -1.5, 0, false, "p"});
    // Interpolated between the not-seen point and (15, 3) at 0 dB instead.
    const int b = blue_at(polar_plot(m).image, 15, 2);
    EXPECT_GT(b, 0);
    EXPECT_LT(b, 255);
}

TEST(FieldPlot, TheEyeMustBeKnownAndAgree) {
    const Measurement none = field_24_2([](double, double) { return 0.0; }, std::nullopt);
    EXPECT_EQ(error_of([&] { polar_plot(none); }),
              "File \"test.csv\" does not say which eye was measured (no eye column, \"eye\" key or "
              "laterality); give the eye, OD or OS.");
    const Measurement od = field_24_2([](double, double) { return 0.0; });
    PlotOptions os;
    os.eye = Eye::OS;
    EXPECT_EQ(error_of([&] { polar_plot(od, os); }),
              "File \"test.csv\" holds the right eye (OD), not the left eye (OS) asked for.");
    EXPECT_THAT(error_of([&] { binocular_polar_plot(od, od); }), HasSubstr("Both fields are of the right eye (OD)"));
    PlotOptions old;
    old.age = 121;
    EXPECT_EQ(error_of([&] { polar_plot(od, old); }), "The age 121 is outside 0..120 years.");
}

TEST(FieldPlot, BinocularTakesTheBetterEyeAtEachPlace) {
    // OD blind on the left, normal on the right; OS (not named: the other eye)
    // blind on the right, -3 dB on the left.
    const Measurement od = field_24_2([](double x, double) { return x < 0 ? kNotSeen : 0.0; });
    const Measurement os = field_24_2([](double x, double) { return x > 0 ? kNotSeen : -3.0; }, std::nullopt);
    const PolarPlot b = binocular_polar_plot(od, os);
    EXPECT_EQ(b.eyes, Eyes::Both);
    EXPECT_STREQ(eyes_name(b.eyes), "OD+OS");
    EXPECT_EQ(blue_at(b.image, -30, 10), 128);  // OS
    EXPECT_EQ(blue_at(b.image, -10, -20), 128);
    EXPECT_EQ(blue_at(b.image, 30, 10), 255);   // OD
    EXPECT_EQ(blue_at(b.image, 10, -20), 255);

    // The shipped right homonymous hemianopia (OD as CSV, OS as DICOM): the
    // right half stays blind, and each eye fills the other's blind spot.
    const PolarPlot h = binocular_polar_plot(read_measurement(find_data_file("fields/hemianopia_right_24-2_OD.csv")),
                                             read_measurement(find_data_file("fields/hemianopia_right_24-2_OS.dcm")));
    EXPECT_EQ(blue_at(h.image, 20, 10), 0);
    EXPECT_EQ(blue_at(h.image, 15, -1.5), 0);
    EXPECT_GT(blue_at(h.image, -15, -1.5), 150);
    EXPECT_GT(blue_at(h.image, -20, 10), 150);
}

TEST(FieldPlot, WrittenAsBmpAndReadByTheFixationDependentSimulation) {
    const Measurement m = field_24_2([](double x, double) { return x > 0 ? kNotSeen : 0.0; });
    const PolarPlot p = polar_plot(m);
    ocu::testutil::TempDir dir;
    imwrite(p.image, dir.file("polarfield.bmp"));
    const AnyImage back = imread(dir.file("polarfield.bmp"));
    ASSERT_TRUE(std::holds_alternative<ArrayU8>(back));
    EXPECT_EQ(std::get<ArrayU8>(back), p.image);
    // A 200 x 200 map, 100 pixels = 30 degrees: 60 pixels off centre is 19.1 degrees.
    const double pixdist = 100 / std::tan(std::numbers::pi / 6);
    const ArrayD msk = fixdep::degradationmapim(back, 200, 200, pixdist);
    EXPECT_EQ(msk(99, 39), 1.0);   // left: seen
    EXPECT_EQ(msk(99, 159), 0.0);  // right: blind
    EXPECT_EQ(msk(39, 39), 1.0);    // up and left
}
