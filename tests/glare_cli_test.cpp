// `ocumbra-sim glare` run as a separate process: defaults, options, refused
// option values and inputs (no output file left behind), and the .npy result.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_testutil.hpp"
#include "glare/glare.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

namespace fs = std::filesystem;
using namespace ocu::testutil;

namespace {

ToolRun run_glare(const std::vector<std::string>& args) { return run_command("glare", args); }

TEST(GlareCommandLine, TinyImageWithoutVeilIsTheImageOverItsMaximum) {
    // 8 x 8 has no pyramid level left, so the veil is 0 whatever the factor.
    TempDir dir;
    ocu::ArrayU8 im(8, 8);
    for (std::size_t i = 0; i < im.numel(); ++i) im[i] = static_cast<std::uint8_t>(3 * i + 10);
    ocu::imwrite(ocu::AnyImage(im), dir.file("tiny.bmp"));
    const ToolRun r = run_glare({"--glare", "10", dir.file("tiny.bmp"), dir.file("out.npy")});
    ASSERT_EQ(r.status, 0) << r.err;
    const ocu::ArrayD out = read_npy_f8(dir.file("out.npy"));
    ASSERT_EQ(out.rows(), 8u);
    ASSERT_EQ(out.cols(), 8u);
    const double mx = 3 * 63 + 10;
    for (std::size_t i = 0; i < im.numel(); ++i) EXPECT_DOUBLE_EQ(out[i], im[i] / mx);
}

TEST(GlareCommandLine, NpyHoldsTheFreshComputationForTheGivenSettings) {
    TempDir dir;
    const std::string input = ocu::program_data_dir() + "NatIm13.jpg";
    const ocu::AnyImage im = ocu::imread(input);

    const ToolRun r1 = run_glare({input, dir.file("default.npy")});
    ASSERT_EQ(r1.status, 0) << r1.err;
    EXPECT_EQ(read_npy_f8(dir.file("default.npy")), ocu::glare::run(im, {20, 1, 2, 2}).imt);

    const ToolRun r2 = run_glare({"--width", "35", "--glare=6", input, dir.file("w35.npy")});
    ASSERT_EQ(r2.status, 0) << r2.err;
    const ocu::ArrayD w35 = read_npy_f8(dir.file("w35.npy"));
    EXPECT_EQ(w35, ocu::glare::run(im, {35, 6, 2, 2}).imt);
    EXPECT_NE(w35, read_npy_f8(dir.file("default.npy")));

    // Other extensions go through the image writer.
    const ToolRun r3 = run_glare({input, dir.file("out.png")});
    ASSERT_EQ(r3.status, 0) << r3.err;
    const ocu::AnyImage png = ocu::imread(dir.file("out.png"));
    EXPECT_EQ(ocu::image_rows(png), ocu::image_rows(im));
    EXPECT_EQ(ocu::image_cols(png), ocu::image_cols(im));
}

TEST(GlareCommandLine, BadOptionValuesAreUsageErrorsAndWriteNothing) {
    TempDir dir;
    const std::string input = ocu::program_data_dir() + "NatIm13.jpg";
    const std::vector<std::vector<std::string>> bad = {
        {"--glare", "11"},  {"--glare", "-1"},   {"--glare", "2.5"}, {"--glare", "lots"},
        {"--width", "0"},   {"--width", "-20"},  {"--width", "180"}, {"--width", "nan"},
        {"--width", "20x"}, {"--blur", "3"},     {"--glare"},
    };
    for (auto args : bad) {
        args.push_back(input);
        args.push_back(dir.file("out.npy"));
        const ToolRun r = run_glare(args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << args[1];
        EXPECT_EQ(r.err.rfind("ocumbra-sim: ", 0), 0u) << r.err;
        EXPECT_FALSE(fs::exists(dir.file("out.npy"))) << args[0];
    }
    EXPECT_EQ(run_glare({input}).status, 2);
    EXPECT_EQ(run_glare({input, dir.file("a.npy"), dir.file("b.npy")}).status, 2);
}

TEST(GlareCommandLine, UnreadableOrUnsuitableInputFailsAndWritesNothing) {
    TempDir dir;
    const ToolRun missing = run_glare({dir.file("nothing.jpg"), dir.file("out.npy")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("does not exist"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists(dir.file("out.npy")));

    {
        FILE* f = std::fopen(dir.file("junk.jpg").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("this is not an image", f);
        std::fclose(f);
    }
    EXPECT_EQ(run_glare({dir.file("junk.jpg"), dir.file("out.npy")}).status, 1);
    EXPECT_FALSE(fs::exists(dir.file("out.npy")));

    // 4 rows and 200 columns: a pyramid level too narrow for the filters.
    ocu::imwrite(ocu::AnyImage(ocu::ArrayU8(4, 200, 1, 100)), dir.file("strip.bmp"));
    const ToolRun strip = run_glare({dir.file("strip.bmp"), dir.file("out.npy")});
    EXPECT_EQ(strip.status, 1);
    EXPECT_NE(strip.err.find("one arg must be larger than the other in both dimensions!"),
              std::string::npos)
        << strip.err;
    EXPECT_FALSE(fs::exists(dir.file("out.npy")));
}

}  // namespace

TEST(SideBySideCommandLine, InputLeftResultRightForEverySimulation) {
    // Glare on 8 x 8 (no veil): left the input / 255, right the input over its maximum.
    TempDir dir;
    ocu::ArrayU8 im(8, 8);
    for (std::size_t i = 0; i < im.numel(); ++i) im[i] = static_cast<std::uint8_t>(3 * i + 10);
    ocu::imwrite(ocu::AnyImage(im), dir.file("tiny.bmp"));
    const ToolRun r = run_glare({"--side-by-side", dir.file("tiny.bmp"), dir.file("out.npy")});
    ASSERT_EQ(r.status, 0) << r.err;
    const ocu::ArrayD out = read_npy_f8(dir.file("out.npy"));
    ASSERT_EQ(out.rows(), 8u);
    ASSERT_EQ(out.cols(), 16u);
    ASSERT_EQ(out.planes(), 1u);
    for (std::size_t c = 0; c < 8; ++c)
        for (std::size_t r0 = 0; r0 < 8; ++r0) {
            EXPECT_DOUBLE_EQ(out(r0, c), im(r0, c) / 255.0);
            EXPECT_DOUBLE_EQ(out(r0, c + 8), im(r0, c) / (3.0 * 63 + 10));
        }
    // The other simulations: the right half is what they write without it.
    const std::string photo = dir.file("photo.png");
    ocu::ArrayU8 colour(48, 64, 3);
    for (std::size_t i = 0; i < colour.numel(); ++i) colour[i] = static_cast<std::uint8_t>((i * 37) % 251);
    ocu::imwrite(ocu::AnyImage(colour), photo);
    for (const std::vector<std::string>& cmd :
         {std::vector<std::string>{"fixindep", "--acuity", "0.2"}, std::vector<std::string>{"fixdep"},
          std::vector<std::string>{"colour", "--type", "deutan"},
          std::vector<std::string>{"scenario", "--preset", "cataract"}}) {
        std::vector<std::string> plain(cmd.begin() + 1, cmd.end()), both = plain;
        plain.insert(plain.end(), {photo, dir.file("plain.npy")});
        both.insert(both.end(), {"--side-by-side", photo, dir.file("both.npy")});
        ASSERT_EQ(run_command(cmd[0], plain).status, 0) << cmd[0];
        const ToolRun rb = run_command(cmd[0], both);
        ASSERT_EQ(rb.status, 0) << cmd[0] << rb.err;
        const ocu::ArrayD a = read_npy_f8(dir.file("plain.npy")), b = read_npy_f8(dir.file("both.npy"));
        ASSERT_EQ(b.rows(), 48u) << cmd[0];
        ASSERT_EQ(b.cols(), 128u) << cmd[0];
        ASSERT_EQ(b.planes(), 3u) << cmd[0];
        bool same = true;
        for (std::size_t p = 0; p < 3; ++p)
            for (std::size_t c = 0; c < 64; ++c)
                for (std::size_t r0 = 0; r0 < 48; ++r0) {
                    same = same && b(r0, c, p) == colour(r0, c, p) / 255.0 && b(r0, c + 64, p) == a(r0, c, p);
                }
        EXPECT_TRUE(same) << cmd[0];
    }
    // A switch takes no value.
    EXPECT_EQ(run_glare({"--side-by-side=yes", dir.file("tiny.bmp"), dir.file("x.npy")}).status, 2);
}
