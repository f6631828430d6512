// Fixation-dependent rendering through the real engine plug-in: level counts,
// the first fixation point, blind and fully resolved parts, clicks on images
// of another size than the masks were made for, and refused inputs.
//
// The engine keeps its masks for the whole process. Each test prepares the
// masks it relies on; the first test needs a process in which no masks were
// ever prepared (CTest runs every test in a process of its own).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "fixdep/simulation.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

using namespace ocu;
using namespace ocu::fixdep;

namespace {

const double kGrey = std::sqrt(64.0 / 255.0);  // 0.500979, the blind value

// How a stored value v is shown where the image is fully resolved: v squared
// on the 0..1 scale, stored in 8 bits (rounded half up, values are >= 0),
// square root back.
double resolved(double v) {
    const double sq = std::floor(255.0 * (v / 255.0) * (v / 255.0) + 0.5);
    return std::sqrt(sq / 255.0);
}

// A gray test image holding every value 0..255 in a pattern.
ArrayU8 gray_image(std::size_t rows, std::size_t cols, unsigned seed = 0) {
    ArrayU8 im(rows, cols);
    for (std::size_t c = 0; c < cols; ++c)
        for (std::size_t r = 0; r < rows; ++r) im(r, c) = static_cast<std::uint8_t>((r * 7 + c * 13 + seed) % 256);
    return im;
}

ArrayU8 colour_image(std::size_t rows, std::size_t cols) {
    ArrayU8 im(rows, cols, 3);
    for (std::size_t p = 0; p < 3; ++p)
        for (std::size_t c = 0; c < cols; ++c)
            for (std::size_t r = 0; r < rows; ++r)
                im(r, c, p) = static_cast<std::uint8_t>((r * 5 + c * 3 + p * 80) % 256);
    return im;
}

// Masks from a map of one value for an image of sx columns and sy rows.
void uniform_masks(std::size_t sx, std::size_t sy, double value) {
    ArrayD m(2 * sy, 2 * sx, 1, value);
    prepare_masks(m);
}

// A polar plot whose left half of the field (plot columns below 200) is blind.
ArrayU8 left_blind_plot() {
    ArrayU8 p(400, 400, 3, 255);
    for (std::size_t c = 0; c < 199; ++c)
        for (std::size_t r = 0; r < 400; ++r) p(r, c, 2) = 0;
    return p;
}

void expect_all_resolved(const ArrayD& out, const ArrayU8& im) {
    ASSERT_TRUE(out.rows() == im.rows() && out.cols() == im.cols() && out.planes() == im.planes());
    std::size_t bad = 0;
    for (std::size_t i = 0; i < im.numel(); ++i)
        if (std::abs(out[i] - resolved(im[i])) > 1e-15) ++bad;
    EXPECT_EQ(bad, 0u);
}

}  // namespace

TEST(FixdepEngineOrder, RenderingBeforeAnyMasksFails) {
    try {
        fixdepimage(5, 5, AnyImage(gray_image(16, 16)));
        FAIL() << "rendered without masks";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("The resmap for this image has not yet been set"),
                  std::string::npos)
            << e.what();
    }
}

TEST(FixdepLevels, CountFollowsTheSmallerSideCappedAtSix) {
    EXPECT_EQ(fixdep_level_count(640, 480), 6);
    EXPECT_EQ(fixdep_level_count(100, 60), 5);
    EXPECT_EQ(fixdep_level_count(64, 64), 6);  // round(5.5) = 6
    EXPECT_EQ(fixdep_level_count(200, 63), 5);
    EXPECT_EQ(fixdep_level_count(2, 2), 1);
    EXPECT_EQ(fixdep_level_count(3, 1000), 1);
    EXPECT_EQ(fixdep_level_count(4, 9), 2);
    // The largest k with 2^k <= min(sx, sy), at most 6, for every size up to 2100.
    for (std::size_t s = 2; s <= 2100; ++s) {
        int k = 0;
        while ((std::size_t{2} << k) <= s) ++k;
        ASSERT_EQ(fixdep_level_count(s, 5000), std::min(k, 6)) << s;
        ASSERT_EQ(fixdep_level_count(5000, s), std::min(k, 6)) << s;
    }
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OCU_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define OCU_SANITIZED 1
#endif

TEST(FixdepLevels, MaskLevelsFollowTheSmallestPositiveMapValue) {
    // Mask k takes level k whole where v / 2 >= t_k = 0.41294708713 / 2^k
    // (map value 2 t_k: 0.0516 for k = 4, 0.0258 for k = 5, 0.0129 for k = 6).
    // The smallest positive value must reach that in mask L - 2.
    auto levels_for = [](double smallest, std::size_t sx, std::size_t sy) {
        ArrayD m(2 * sy, 2 * sx, 1, 1.0);
        m(0, 0) = smallest;
        m(1, 0) = 0.0;  // blind parts do not count
        m(2, 0) = -1.0;
        return mask_level_count(m, sx, sy);
    };
    EXPECT_EQ(levels_for(1.0, 640, 480), 6);
    EXPECT_EQ(levels_for(0.06, 640, 480), 6);   // t_4 reached: 6 levels as before
    EXPECT_EQ(levels_for(0.0517, 640, 480), 6);
    EXPECT_EQ(levels_for(0.0515, 640, 480), 7);  // just below 2 t_4
    EXPECT_EQ(levels_for(0.03, 640, 480), 7);
    EXPECT_EQ(levels_for(0.02, 640, 480), 8);
    EXPECT_EQ(levels_for(0.001, 640, 480), 8);  // capped: 2^8 <= 480 < 2^9
    EXPECT_EQ(levels_for(0.001, 4000, 3000), 11);  // 2^11 <= 3000; t_10 = 0.000403 <= 0.0005
    EXPECT_EQ(levels_for(0.001, 50, 50), 6);    // never below 6 (the image allows 5)
    ArrayD blind(20, 20, 1, 0.0);
    EXPECT_EQ(mask_level_count(blind, 10, 10), 6);

    // prepare_masks builds the masks with the count it chose and keeps it.
    ArrayD m(960, 1280, 1, 1.0);
    m(0, 0) = 0.001;
    prepare_masks(m);
    EXPECT_EQ(blendmask_levels(), 8);
    uniform_masks(640, 480, 1.0);
    EXPECT_EQ(blendmask_levels(), 6);
}

TEST(FixdepLevels, LargePhotosKeepTheirSeeingPeriphery) {
    // The normal field (only the blind spot) over an image 40 degrees wide, at
    // 600, 2400 and 8000 pixels wide: a finer pixel grid for the same angles
    // must not turn the seeing periphery into the blind grey. At every size
    // the grey share stays within the map's blind share over the image (the
    // blind spot), and no place the map gives a resolution of 0.01 or more
    // (the periphery at 8000 pixels has 0.019) is shown as the blind grey.
    const AnyImage plot = imread(find_data_file("polarplotREnormal.bmp"));
    std::vector<std::pair<std::size_t, std::size_t>> sizes = {{600, 150}, {2400, 256}};
#ifndef OCU_SANITIZED
    sizes.push_back({8000, 256});  // too slow under the sanitizers
#endif
    for (const auto& [sx, sy] : sizes) {
        Session session = prepare(sx, sy, {40.0, 1.0, plot});
        const ArrayD& restot = session.resmap();
        const Fixation f = session.centre();
        const ArrayD out = fixdepimage(f.x, f.y, AnyImage(ArrayU8(sy, sx, 1, 200)));
        // Map row sy (0-based) lies on the fixated row f.y - 1, column likewise.
        const std::size_t r0 = sy - static_cast<std::size_t>(f.y - 1), c0 = sx - static_cast<std::size_t>(f.x - 1);
        std::size_t grey = 0, blind = 0, grey_seeing = 0;
        for (std::size_t c = 0; c < sx; ++c)
            for (std::size_t r = 0; r < sy; ++r) {
                const bool is_grey = std::abs(out(r, c) - kGrey) < 0.01;
                const double v = restot(r0 + r, c0 + c);
                grey += is_grey ? 1 : 0;
                blind += v == 0.0 ? 1 : 0;
                grey_seeing += is_grey && v >= 0.01 ? 1 : 0;
            }
        const double n = static_cast<double>(sx * sy);
        EXPECT_LE(grey / n, blind / n + 0.005) << sx << " x " << sy;
        EXPECT_LT(grey_seeing / n, 0.001) << sx << " x " << sy;
    }
}

TEST(FixdepLevels, ImagesBelowTwoPixelsAreRefused) {
    EXPECT_THROW(fixdep_level_count(1, 100), Error);
    EXPECT_THROW(fixdep_level_count(100, 1), Error);
    EXPECT_THROW(fixdep_level_count(0, 0), Error);
    uniform_masks(8, 8, 1.0);
    EXPECT_THROW(fixdepimage(1, 1, AnyImage(ArrayU8(1, 50))), Error);
    EXPECT_THROW(fixdepimage(1, 1, AnyImage(ArrayU8(50, 1, 3))), Error);
    EXPECT_THROW(prepare(1, 40, {20.0, 1.0, AnyImage(left_blind_plot())}), Error);
    try {
        prepare(40, 1, {20.0, 1.0, AnyImage(left_blind_plot())});
        ADD_FAILURE() << "a one-row image was accepted";
    } catch (const Error& e) {
        // 40 columns, 1 row, written width x height.
        EXPECT_NE(std::string(e.what()).find("at least 2 \u00D7 2 pixels; this one has 40 \u00D7 1."),
                  std::string::npos)
            << e.what();
    }
}

TEST(FixdepCentre, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(centre_fixation(101, 60).x, 51.0);
    EXPECT_EQ(centre_fixation(100, 60).x, 50.0);
    EXPECT_EQ(centre_fixation(100, 61).y, 31.0);
    EXPECT_EQ(centre_fixation(100, 60).y, 30.0);
    EXPECT_EQ(centre_fixation(3, 2).x, 2.0);
    EXPECT_EQ(centre_fixation(3, 2).y, 1.0);
}

TEST(FixdepMaskMap, BlindPartsGoToTheEngineAsMinusOne) {
    ArrayD m(2, 3);
    const double vals[] = {0.0, 0.5, -0.0, 1e-300, 1.0, 0.0};
    for (std::size_t i = 0; i < 6; ++i) m[i] = vals[i];
    const ArrayD b = blind_as_minus_one(m);
    const double want[] = {-1.0, 0.5, -1.0, 1e-300, 1.0, -1.0};
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(b[i], want[i]) << i;
}

TEST(FixdepMaskMap, PreparationLeavesTheCallersMapUnchanged) {
    ArrayD m(40, 60);
    for (std::size_t i = 0; i < m.numel(); ++i) m[i] = (i % 3 == 0) ? 0.0 : 0.1 * static_cast<double>(i % 11);
    const ArrayD before = m;
    prepare_masks(m);
    EXPECT_EQ(m, before);
    // Also when the engine refuses the map (three planes are not a 2-D map).
    std::vector<double> data(40 * 60 * 3, 0.0);
    data[5] = 0.7;
    ArrayD bad(40, 60, 3, std::move(data));
    const ArrayD bad_before = bad;
    EXPECT_THROW(prepare_masks(bad), Error);
    EXPECT_EQ(bad, bad_before);
}

TEST(FixdepRendering, FullyResolvedMapShowsTheSquaredRoundedValues) {
    // Worked values: 128 -> 64 -> 0.500979 (not 128/255), 255 stays 1, 1 -> 0.
    EXPECT_NEAR(resolved(128), 0.500979, 1e-6);
    EXPECT_EQ(resolved(255), 1.0);
    EXPECT_EQ(resolved(1), 0.0);

    const ArrayU8 im = gray_image(60, 100);
    uniform_masks(100, 60, 1.0);
    for (auto [x, y] : {std::pair{50.0, 30.0}, {1.0, 1.0}, {100.0, 60.0}, {-20.0, 500.0}}) {
        SCOPED_TRACE(x);
        expect_all_resolved(fixdepimage(x, y, AnyImage(im)), im);
    }
    const ArrayD one = fixdepimage(50, 30, AnyImage(ArrayU8(60, 100, 1, 128)));
    EXPECT_NEAR(one(17, 33), 0.500979, 1e-6);
}

TEST(FixdepRendering, BlindMapShowsUniformGrey) {
    uniform_masks(100, 60, 0.0);
    const ArrayD g = fixdepimage(50, 30, AnyImage(gray_image(60, 100)));
    for (double v : g.span()) ASSERT_EQ(v, kGrey);
    EXPECT_NEAR(kGrey, 0.500979, 1e-6);
    const ArrayD c = fixdepimage(10, 50, AnyImage(colour_image(60, 100)));
    ASSERT_EQ(c.planes(), 3u);
    for (double v : c.span()) ASSERT_EQ(v, kGrey);
}

TEST(FixdepRendering, ColourPlanesAreRenderedAlike) {
    uniform_masks(90, 70, 0.3);  // blurred but not blind
    const ArrayU8 g = gray_image(70, 90, 3);
    ArrayU8 rgb(70, 90, 3);
    for (std::size_t p = 0; p < 3; ++p)
        for (std::size_t i = 0; i < g.numel(); ++i) rgb[p * g.numel() + i] = g[i];
    const ArrayD one = fixdepimage(40, 20, AnyImage(g));
    const ArrayD three = fixdepimage(40, 20, AnyImage(rgb));
    ASSERT_EQ(three.planes(), 3u);
    for (std::size_t p = 0; p < 3; ++p)
        for (std::size_t i = 0; i < g.numel(); ++i) ASSERT_EQ(three[p * g.numel() + i], one[i]);
    // The blur is real: the result is not the fully resolved image.
    std::size_t differ = 0;
    for (std::size_t i = 0; i < g.numel(); ++i) differ += one[i] != resolved(g[i]);
    EXPECT_GT(differ, g.numel() / 2);
}

TEST(FixdepRendering, PlanesBeyondTheThirdStayZero) {
    uniform_masks(40, 30, 1.0);
    ArrayU8 im(30, 40, 4, 200);
    const ArrayD out = fixdepimage(20, 15, AnyImage(im));
    ASSERT_EQ(out.planes(), 4u);
    for (std::size_t r = 0; r < 30; ++r) {
        EXPECT_EQ(out(r, 7, 2), resolved(200));
        EXPECT_EQ(out(r, 7, 3), 0.0);
    }
    EXPECT_THROW(fixdepimage(20, 15, AnyImage(ArrayU8(30, 40, 2, 9))), Error);
    EXPECT_THROW(fixdepimage1(20, 15, AnyImage(ArrayU8(30, 40, 3, 9))), Error);
}

TEST(FixdepRendering, OtherSampleTypesAreSquaredFromTheirValues) {
    uniform_masks(20, 10, 1.0);
    ArrayU16 im(10, 20, 1, 300);  // above 255: the squared value saturates at 255
    im(3, 4) = 128;
    const ArrayD out = fixdepimage(10, 5, AnyImage(im));
    EXPECT_EQ(out(0, 0), 1.0);
    EXPECT_NEAR(out(3, 4), 0.500979, 1e-6);
}

TEST(FixdepCommand, HalfBlindFieldAroundTheCentre) {
    // Left half of the field blind; at 20 degrees over 256 columns the right
    // side is fully resolved up to about 9 degrees (115 pixels) out.
    const std::size_t sx = 256, sy = 192;
    const ArrayU8 im = gray_image(sy, sx, 11);
    const ArrayD restot = prepare(sx, sy, {20.0, 1.0, AnyImage(left_blind_plot())}).resmap();
    ASSERT_EQ(restot.rows(), 2 * sy);
    ASSERT_EQ(restot.cols(), 2 * sx);
    EXPECT_EQ(restot(sy - 1, sx - 1 - 40), 0.0);  // blind parts stay 0 in the kept map
    EXPECT_EQ(restot(sy - 1, sx - 1), 1.0);
    const Fixation f = centre_fixation(sx, sy);
    ASSERT_EQ(f.x, 128.0);
    ASSERT_EQ(f.y, 96.0);
    const ArrayD out = fixdepimage(f.x, f.y, AnyImage(im));
    // Right of the fixation, within 60 pixels: unchanged. Column 127 (0-based)
    // is the fixation column.
    for (std::size_t c = 127 + 8; c < 127 + 60; ++c)
        for (std::size_t r = 96 - 40; r < 96 + 40; ++r) ASSERT_EQ(out(r, c), resolved(im(r, c))) << r << "," << c;
    // Far left: only the grey of the coarsest level reaches there.
    for (std::size_t c = 0; c < 24; ++c)
        for (std::size_t r = 0; r < sy; ++r) ASSERT_EQ(out(r, c), kGrey) << r << "," << c;
}

TEST(FixdepSession, RunIsThePreparationThenTheCentre) {
    const std::size_t sx = 90, sy = 64;
    const AnyImage im(colour_image(sy, sx));
    const Params p{20.0, 1.0, AnyImage(left_blind_plot())};
    const ArrayD once = run(im, p);
    Session s = prepare(sx, sy, p);
    EXPECT_EQ(s.cols(), sx);
    EXPECT_EQ(s.rows(), sy);
    EXPECT_EQ(s.centre().x, 45.0);
    EXPECT_EQ(s.centre().y, 32.0);
    EXPECT_EQ(once, render(s, {45.0, 32.0}, im));
    // Rendering needs the engine's masks only, not the map.
    const ArrayD restot = s.release_resmap();
    EXPECT_EQ(restot.rows(), 2 * sy);
    EXPECT_EQ(restot.cols(), 2 * sx);
    EXPECT_TRUE(s.resmap().empty());
    ArrayD into(sy, sx, 3, 0.25);
    render(s, s.centre(), im, into);
    EXPECT_EQ(into, once);
    EXPECT_NE(render(s, {10.0, 32.0}, im), once);
}

TEST(FixdepCommand, FixationIsPassedAsReceived) {
    const std::size_t sx = 128, sy = 96;
    const AnyImage im(gray_image(sy, sx, 5));
    prepare(sx, sy, {20.0, 1.0, AnyImage(left_blind_plot())});
    // The engine truncates fractions and clamps to the image.
    EXPECT_EQ(fixdepimage(50.9, 30.7, im), fixdepimage(50, 30, im));
    EXPECT_EQ(fixdepimage(1000, -3, im), fixdepimage(127, 0, im));
    EXPECT_NE(fixdepimage(20, 30, im), fixdepimage(100, 30, im));
}

TEST(FixdepCommand, ClickOnAnImageOfAnotherSize) {
    // Masks made for 80 x 60 from an all-seeing map cover 160 x 120 around the fixation.
    uniform_masks(80, 60, 1.0);
    const ArrayU8 smaller = colour_image(30, 40);
    expect_all_resolved(fixdepimage(20, 15, AnyImage(smaller)), smaller);
    const ArrayU8 bigger = gray_image(90, 130);
    expect_all_resolved(fixdepimage(65, 45, AnyImage(bigger)), bigger);
    // Fixating a corner of a much larger image: beyond the map only grey remains.
    const ArrayU8 large = gray_image(200, 300);
    const ArrayD out = fixdepimage(1, 1, AnyImage(large));
    ASSERT_EQ(out.rows(), 200u);
    ASSERT_EQ(out.cols(), 300u);
    EXPECT_EQ(out(10, 10), resolved(large(10, 10)));
    for (std::size_t c = 220; c < 300; ++c)
        for (std::size_t r = 160; r < 200; ++r) ASSERT_EQ(out(r, c), kGrey);
}

TEST(FixdepCommand, RefusedInputsLeaveThePreviousMasks) {
    const std::size_t sx = 64, sy = 48;
    const ArrayU8 im = gray_image(sy, sx);
    uniform_masks(sx, sy, 1.0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const AnyImage plot(left_blind_plot());
    for (double bad : {0.0, -20.0, nan, 180.0, 400.0})
        EXPECT_THROW(prepare(sx, sy, {bad, 1.0, plot}), Error) << "width " << bad;
    for (double bad : {0.0, -1.0, nan, std::numeric_limits<double>::infinity()})
        EXPECT_THROW(prepare(sx, sy, {20.0, bad, plot}), Error) << "acuity " << bad;
    try {
        prepare(sx, sy, {20.0, 1.0, AnyImage(ArrayU8(300, 500, 3, 255))});
        ADD_FAILURE() << "small polar plot accepted";
    } catch (const Error& e) {
        const std::string t = e.what();
        // Sizes as width x height: 500 columns, 300 rows.
        EXPECT_NE(t.find("the one given has 500 \u00D7 300 pixels"), std::string::npos) << t;
        EXPECT_NE(t.find("376 \u00D7 376"), std::string::npos) << t;
    }
    EXPECT_THROW(prepare(sx, sy, {20.0, 1.0, AnyImage(ArrayU8(400, 400, 1, 255))}), Error);
    // None of these reached the engine: the all-seeing masks are still there.
    expect_all_resolved(fixdepimage(1, 1, AnyImage(im)), im);
}

TEST(FixdepRendering, RenderingIntoKeptStorage) {
    uniform_masks(40, 30, 1.0);
    ArrayU8 im(30, 40, 4, 77);
    for (std::size_t i = 0; i < 30 * 40; ++i) im[i] = static_cast<std::uint8_t>(i % 256);
    // A kept array of the right size: its storage is used, stale values vanish.
    ArrayD kept(30, 40, 4, 0.25);
    const double* storage = kept.data();
    fixdepimage(20, 15, AnyImage(im), kept);
    EXPECT_EQ(kept.data(), storage);
    for (std::size_t r = 0; r < 30; ++r)
        for (std::size_t c = 0; c < 40; ++c) {
            ASSERT_EQ(kept(r, c, 0), resolved(im(r, c, 0)));
            ASSERT_EQ(kept(r, c, 1), resolved(77));
            ASSERT_EQ(kept(r, c, 3), 0.0);
        }
    // A kept array of another size is replaced by one of the result's size.
    ArrayD other(5, 5, 1, 0.5);
    fixdepimage(20, 15, AnyImage(im), other);
    EXPECT_EQ(other, kept);
}

TEST(FixdepRendering, ImagesWithOneLevelShowOnlyTheGrey) {
    // A smaller side of 2 or 3 pixels leaves one level, which is the coarsest
    // one and therefore replaced by the grey, whatever the map.
    uniform_masks(30, 3, 1.0);
    for (std::size_t rows : {2u, 3u}) {
        const ArrayD out = fixdepimage(5, 1, AnyImage(gray_image(rows, 30)));
        for (double v : out.span()) ASSERT_EQ(v, kGrey);
    }
}
