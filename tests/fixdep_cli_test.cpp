// `ocumbra-sim fixdep` run as a separate process: the default fixation, the
// order of --at points, the resolution map output, and refused inputs (clear
// message, no output file left behind).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_testutil.hpp"
#include "fixdep/simulation.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

namespace fs = std::filesystem;
using namespace ocu;
using namespace ocu::testutil;

namespace {

ToolRun run_fixdep(const std::vector<std::string>& args) { return run_command("fixdep", args); }

// Polar plot with the left half of the field blind, as a bitmap file.
std::string left_blind_plot(const TempDir& dir) {
    ArrayU8 p(400, 400, 3, 255);
    for (std::size_t c = 0; c < 199; ++c)
        for (std::size_t r = 0; r < 400; ++r) p(r, c, 2) = 0;
    const std::string path = dir.file("leftblind.bmp");
    imwrite(AnyImage(p), path);
    return path;
}

// A 51-column, 33-row gray image with detail everywhere.
std::string small_image(const TempDir& dir) {
    ArrayU8 im(33, 51);
    for (std::size_t c = 0; c < 51; ++c)
        for (std::size_t r = 0; r < 33; ++r) im(r, c) = static_cast<std::uint8_t>((r * 37 + c * 11) % 256);
    const std::string path = dir.file("small.bmp");
    imwrite(AnyImage(im), path);
    return path;
}

}  // namespace

TEST(FixdepCommandLine, DefaultFixationIsTheRoundedCentre) {
    TempDir dir;
    const std::string plot = left_blind_plot(dir), input = small_image(dir);
    // 51 columns, 33 rows: round(25.5) = 26, round(16.5) = 17.
    ToolRun r = run_fixdep({"--width", "60", "--polar", plot, input, dir.file("default.npy")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_fixdep({"--width", "60", "--polar", plot, "--at", "26,17", input, dir.file("centre.npy")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_fixdep({"--width", "60", "--polar", plot, "--at", "25,17", input, dir.file("left.npy")});
    ASSERT_EQ(r.status, 0) << r.err;
    const ArrayD def = read_npy_f8(dir.file("default.npy"));
    ASSERT_EQ(def.rows(), 33u);
    ASSERT_EQ(def.cols(), 51u);
    EXPECT_EQ(def, read_npy_f8(dir.file("centre.npy")));
    EXPECT_NE(def, read_npy_f8(dir.file("left.npy")));
}

TEST(FixdepCommandLine, OutputHoldsTheLastOfSeveralPoints) {
    TempDir dir;
    const std::string plot = left_blind_plot(dir), input = small_image(dir);
    ASSERT_EQ(run_fixdep({"--polar", plot, "--at", "5,5", input, dir.file("a.npy")}).status, 0);
    ASSERT_EQ(run_fixdep({"--polar", plot, "--at", "40.5,20", input, dir.file("b.npy")}).status, 0);
    const ToolRun r =
        run_fixdep({"--polar", plot, "--at", "5,5", "--at=40.5,20", input, dir.file("ab.npy")});
    ASSERT_EQ(r.status, 0) << r.err;
    const ArrayD a = read_npy_f8(dir.file("a.npy")), b = read_npy_f8(dir.file("b.npy"));
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(read_npy_f8(dir.file("ab.npy")), b);
    EXPECT_NE(a, b);
}

TEST(FixdepCommandLine, ResolutionMapIsWrittenExactlyOrAsImage) {
    TempDir dir;
    const std::string plot = left_blind_plot(dir), input = small_image(dir);
    const ToolRun r = run_fixdep({"--polar", plot, "--width", "1", "--acuity", "0.5", "--resmap",
                                  dir.file("res.npy"), input, dir.file("out.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    const ArrayD res = read_npy_f8(dir.file("res.npy"));
    ASSERT_EQ(res.rows(), 66u);
    ASSERT_EQ(res.cols(), 102u);
    // The centre: normal vision is capped at 1; acuity 0.5 (2 minutes of arc)
    // allows 0.6418 / (2 * d * (pi / 10800) / 2) = 0.75508 with d = 25.5 / tan(0.5 degrees).
    const double d = 25.5 / std::tan(0.5 * 3.141592653589793 / 180.0);
    EXPECT_NEAR(res(32, 50), 0.6418 / (2.0 * d * 0.0002908882086657216 / 2.0), 1e-12);
    EXPECT_NEAR(res(32, 50), 0.75508, 1e-5);
    EXPECT_EQ(res(32, 10), 0.0);  // left of the centre is blind, kept as 0 (not -1)
    for (double v : res.span()) ASSERT_TRUE(v >= 0.0 && v <= 1.0);
    const AnyImage png = imread(dir.file("out.png"));
    EXPECT_EQ(image_rows(png), 33u);
    EXPECT_EQ(image_cols(png), 51u);

    ASSERT_EQ(run_fixdep({"--polar", plot, "--resmap", dir.file("res.bmp"), input, dir.file("o.bmp")}).status, 0);
    const AnyImage bmp = imread(dir.file("res.bmp"));
    EXPECT_EQ(image_rows(bmp), 66u);
    EXPECT_EQ(image_cols(bmp), 102u);
}

TEST(FixdepCommandLine, BuiltInPolarPlotIsTheDefault) {
    TempDir dir;
    const std::string input = small_image(dir);
    ASSERT_EQ(run_fixdep({input, dir.file("default.npy")}).status, 0);
    ASSERT_EQ(run_fixdep({"--polar", program_data_dir() + "polarplotREmd.bmp", input, dir.file("md.npy")}).status, 0);
    ASSERT_EQ(run_fixdep({"--polar", program_data_dir() + "polarplotREnormal.bmp", input, dir.file("n.npy")}).status, 0);
    const ArrayD def = read_npy_f8(dir.file("default.npy"));
    ASSERT_FALSE(def.empty());
    EXPECT_EQ(def, read_npy_f8(dir.file("md.npy")));
    EXPECT_NE(def, read_npy_f8(dir.file("n.npy")));
}

TEST(FixdepCommandLine, RefusedInputsLeaveNoFiles) {
    TempDir dir;
    const std::string plot = left_blind_plot(dir), input = small_image(dir);
    const std::string out = dir.file("out.png"), res = dir.file("res.npy");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string text;
    };
    ArrayU8 small_plot(300, 500, 3, 255);
    imwrite(AnyImage(small_plot), dir.file("smallplot.bmp"));
    ArrayU8 gray_plot(400, 400, 1, 255);
    imwrite(AnyImage(gray_plot), dir.file("grayplot.bmp"));
    ArrayU8 line(1, 40, 1, 100);
    imwrite(AnyImage(line), dir.file("line.bmp"));
    const std::vector<Case> cases = {
        {{"--polar", dir.file("smallplot.bmp"), input}, 1, "500 \u00D7 300"},
        {{"--polar", dir.file("smallplot.bmp"), input}, 1, "376 \u00D7 376"},
        {{"--polar", dir.file("grayplot.bmp"), input}, 1, "1 plane"},
        {{"--polar", dir.file("missing.bmp"), input}, 1, "missing.bmp"},
        // Option values out of range are usage errors, as for glare.
        {{"--width", "0", "--polar", plot, input}, 2, "width"},
        {{"--width", "-20", "--polar", plot, input}, 2, "width"},
        {{"--acuity", "0", "--polar", plot, input}, 2, "acuity"},
        {{"--acuity", "-0.5", "--polar", plot, input}, 2, "acuity"},
        {{"--acuity", "nan", "--polar", plot, input}, 2, "--acuity"},
        {{"--width", "abc", "--polar", plot, input}, 2, "--width"},
        {{"--at", "3", "--polar", plot, input}, 2, "--at"},
        {{"--polar", plot, dir.file("line.bmp")}, 1, "at least 2 \u00D7 2 pixels; this one has 40 \u00D7 1."},
        {{"--polar", plot, dir.file("nothere.png")}, 1, "nothere.png"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end() - 1, {"--resmap", res});
        args.push_back(out);
        const ToolRun r = run_fixdep(args);
        EXPECT_EQ(r.status, c.status) << c.text << ": " << r.err;
        EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out)) << c.text;
        EXPECT_FALSE(fs::exists(res)) << c.text;
    }
}
