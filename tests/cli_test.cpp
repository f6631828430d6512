// ocumbra-sim: option parsing, the error policy, and `convert` run as a
// separate process from the program folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.hpp"
#include "cli/options.hpp"
#include "cli/output.hpp"
#include "cli_testutil.hpp"
#include "toolkit/error.hpp"
#include "toolkit/imageio.hpp"

using namespace ocu;
using namespace ocu::cli;
using namespace ocu::testutil;
namespace fs = std::filesystem;

namespace {

std::string fixture(const std::string& name) { return std::string(OCU_TEST_DATA) + "/" + name; }

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// Captures what a function writes to stderr (fd 2).
template <class F>
std::string capture_stderr(F f) {
    TempDir io;
    std::fflush(stderr);
    const int saved = ::dup(2);
    FILE* sink = std::fopen(io.file("err").c_str(), "w");
    ::dup2(::fileno(sink), 2);
    f();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::fclose(sink);
    return slurp(io.file("err"));
}

}  // namespace

// ---------------------------------------------------------------------------
TEST(ParseArgs, SeparateAndJoinedValuesAndRepeats) {
    const Parsed p = parse_args({"--width", "30", "in.png", "--at=1,2", "--at", "3.5,-4", "out.npy"},
                                {"--width", "--at"}, 2);
    EXPECT_EQ(p.positional, (std::vector<std::string>{"in.png", "out.npy"}));
    EXPECT_EQ(p.last("--width", "20"), "30");
    EXPECT_EQ(p.options.at("--at"), (std::vector<std::string>{"1,2", "3.5,-4"}));
    EXPECT_EQ(p.last("--acuity", "1"), "1");
    EXPECT_FALSE(p.has("--acuity"));
}

TEST(ParseArgs, DoubleDashEndsTheOptions) {
    const Parsed p = parse_args({"--width", "3", "--", "--odd name.png", "--", "out.npy"}, {"--width"}, 2, 3);
    EXPECT_EQ(p.positional, (std::vector<std::string>{"--odd name.png", "--", "out.npy"}));
    EXPECT_EQ(p.last("--width", ""), "3");
    EXPECT_EQ(parse_args({"--", "--width", "3"}, {"--width"}, 2).positional,
              (std::vector<std::string>{"--width", "3"}));
}

TEST(ParseArgs, UsageErrors) {
    EXPECT_THROW(parse_args({"--bogus", "1", "a", "b"}, {"--width"}, 2), UsageError);
    EXPECT_THROW(parse_args({"a", "b", "--width"}, {"--width"}, 2), UsageError);  // no value
    EXPECT_THROW(parse_args({"a"}, {}, 2), UsageError);
    EXPECT_THROW(parse_args({"a", "b", "c"}, {}, 2), UsageError);
    EXPECT_THROW(parse_args({}, {}, 2), UsageError);
}

TEST(ParseNumber, FiniteDecimalsOnly) {
    EXPECT_EQ(parse_number("20", "--width"), 20.0);
    EXPECT_EQ(parse_number("0.1", "--acuity"), 0.1);
    EXPECT_EQ(parse_number("1e-3", "--x"), 0.001);
    EXPECT_EQ(parse_number("-2.5", "--x"), -2.5);
    EXPECT_EQ(parse_number("+3", "--x"), 3.0);
    EXPECT_EQ(parse_number(".5", "--x"), 0.5);
    // Hexadecimal and blanks before or after are refused alike.
    for (const char* bad : {"", "abc", "1.5x", "inf", "nan", "1e999", " ", "2,3", "0x14", " 20", "20 ", "\t1",
                            "1e", "."}) {
        EXPECT_THROW(parse_number(bad, "--width"), UsageError) << bad;
    }
    try {
        parse_number("abc", "--width");
    } catch (const UsageError& e) {
        EXPECT_NE(std::string(e.what()).find("--width"), std::string::npos);
    }
}

TEST(ParsePoint, ColumnCommaRow) {
    EXPECT_EQ(parse_point("3,4.5", "--at"), (std::pair<double, double>{3.0, 4.5}));
    EXPECT_EQ(parse_point("-1,1e3", "--at"), (std::pair<double, double>{-1.0, 1000.0}));
    for (const char* bad : {"3", "3,", ",4", "1,2,3", "a,b", ""}) {
        EXPECT_THROW(parse_point(bad, "--at"), UsageError) << bad;
    }
}

TEST(OutputPath, NpyByExtensionInAnyCase) {
    EXPECT_TRUE(is_npy_path("a.npy"));
    EXPECT_TRUE(is_npy_path("dir.x/A.NPY"));
    EXPECT_FALSE(is_npy_path("a.npy.png"));
    EXPECT_FALSE(is_npy_path("npy"));
    EXPECT_FALSE(is_npy_path("a.png"));
}

// ---------------------------------------------------------------------------
TEST(RunGuarded, ExitStatusesAndOneLineMessages) {
    int status = -1;
    std::string err = capture_stderr([&] { status = run_guarded([] { return 0; }); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(err, "");

    err = capture_stderr([&] {
        status = run_guarded([]() -> int { throw Error("Can't open file \"x\" for reading;\nyou may not have read permission."); });
    });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, "ocumbra-sim: Can't open file \"x\" for reading; you may not have read permission.\n");

    err = capture_stderr([&] { status = run_guarded([]() -> int { throw std::runtime_error("boom"); }); });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, "ocumbra-sim: boom\n");

    err = capture_stderr([&] { status = run_guarded([]() -> int { throw UsageError("unknown option --x"); }); });
    EXPECT_EQ(status, 2);
    EXPECT_EQ(err.rfind("ocumbra-sim: unknown option --x\n", 0), 0u) << err;
    EXPECT_NE(err.find(usage_text()), std::string::npos);
}

TEST(RunGuarded, FailedRunRemovesWhatItWrote) {
    TempDir dir;
    const ArrayD a(2, 2, 1, 0.5);
    int status = -1;
    capture_stderr([&] {
        status = run_guarded([&]() -> int {
            write_output(a, dir.file("first.npy"));
            write_output(a, dir.file("second.png"));
            throw Error("the third output failed");
        });
    });
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(dir.empty());

    capture_stderr([&] {
        status = run_guarded([&] {
            write_output(a, dir.file("partial.png"));
            return 1;
        });
    });
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(dir.empty());

    status = run_guarded([&] {
        write_output(a, dir.file("kept.png"));
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(fs::exists(dir.file("kept.png")));
}

TEST(WriteOutput, NpyHoldsTheExactDoublesOtherwiseTheImageWriter) {
    TempDir dir;
    ArrayD a(1, 2);
    a[0] = 0.1;
    a[1] = 0.7;
    write_output(a, dir.file("r.NPY"));
    const std::string f = slurp(dir.file("r.NPY"));
    ASSERT_EQ(f.size(), 128u + 16);
    EXPECT_NE(f.find("'descr': '<f8'"), std::string::npos);
    double d[2];
    std::memcpy(d, f.data() + 128, 16);
    EXPECT_EQ(d[0], 0.1);
    EXPECT_EQ(d[1], 0.7);

    write_output(a, dir.file("r.png"));
    const ArrayU8 img = std::get<ArrayU8>(imread(dir.file("r.png")));
    EXPECT_EQ(img[0], 26);   // 25.5 -> 26
    EXPECT_EQ(img[1], 179);  // 178.5 -> 179
}

// ---------------------------------------------------------------------------
TEST(ConvertCommand, WritesTheSamplesAsRead) {
    TempDir dir;
    ToolRun r = run_tool({"convert", fixture("rgb.png"), dir.file("rgb.npy")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::string f = slurp(dir.file("rgb.npy"));
    EXPECT_NE(f.find("{'descr': '|u1', 'fortran_order': False, 'shape': (20, 30, 3), }"), std::string::npos);
    ASSERT_EQ(f.size(), 128u + 20 * 30 * 3);
    // Pixel (row 1, column 2), 0-based: R = 11 + 6, G = 5 + 26 + 50, B = 255 - 9 - 4.
    const std::size_t at = 128 + (1 * 30 + 2) * 3;
    EXPECT_EQ(static_cast<unsigned char>(f[at]), 17);
    EXPECT_EQ(static_cast<unsigned char>(f[at + 1]), 81);
    EXPECT_EQ(static_cast<unsigned char>(f[at + 2]), 242);

    r = run_tool({"convert", fixture("gray16.tif"), dir.file("g16.npy")});
    ASSERT_EQ(r.status, 0) << r.err;
    f = slurp(dir.file("g16.npy"));
    EXPECT_NE(f.find("'descr': '<u2'"), std::string::npos);
    EXPECT_NE(f.find("'shape': (20, 30), }"), std::string::npos);
    // Element (0, 1) = 1017 = 0x03F9, little-endian.
    EXPECT_EQ(static_cast<unsigned char>(f[128 + 2]), 0xF9);
    EXPECT_EQ(static_cast<unsigned char>(f[128 + 3]), 0x03);

    r = run_tool({"convert", fixture("gray.png"), dir.file("g.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    const ArrayU8 g = std::get<ArrayU8>(imread(dir.file("g.bmp")));
    ASSERT_EQ(g.planes(), 1u);
    EXPECT_EQ(g(2, 3), 12 * 2 + 5 * 3);
}

TEST(ConvertCommand, ErrorsExitOneWithOneLineAndNoOutput) {
    TempDir dir;
    ToolRun r = run_tool({"convert", "no_such_input.jpg", dir.file("o.npy")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ocumbra-sim: File \"no_such_input.jpg\" does not exist.\n");
    EXPECT_TRUE(dir.empty());

    std::ofstream(dir.file("notes.bmp")) << "not an image";
    r = run_tool({"convert", dir.file("notes.bmp"), dir.file("o.png")});
    EXPECT_EQ(r.status, 1);
    // The reader's text names no file: the tool puts the file's name in front.
    EXPECT_EQ(r.err, "ocumbra-sim: \"" + dir.file("notes.bmp") + "\": Unable to determine the file format.\n");
    EXPECT_FALSE(fs::exists(dir.file("o.png")));

    r = run_tool({"convert", fixture("rgb.png"), dir.file("o.gif")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines_of(r.err).size(), 1u) << r.err;
    EXPECT_FALSE(fs::exists(dir.file("o.gif")));

    r = run_tool({"convert", fixture("rgb.png"), dir.file("missing/o.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines_of(r.err).size(), 1u) << r.err;

    // A damaged file: the codec's own diagnostics stay out of the report.
    const std::string tif = slurp(fixture("rgb_lzw.tif"));
    std::ofstream(dir.file("cut.tif"), std::ios::binary) << tif.substr(0, tif.size() / 2);
    r = run_tool({"convert", dir.file("cut.tif"), dir.file("o.npy")});
    EXPECT_EQ(r.status, 1);
    ASSERT_FALSE(lines_of(r.err).empty());
    EXPECT_NE(lines_of(r.err).back().find("is damaged or incomplete"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.file("o.npy")));
}

TEST(ConvertCommand, UsageErrorsExitTwo) {
    TempDir dir;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"convert", fixture("rgb.png")},
          std::vector<std::string>{"convert", fixture("rgb.png"), dir.file("a.npy"), dir.file("b.npy")},
          std::vector<std::string>{"convert", "--width", "3", fixture("rgb.png"), dir.file("a.npy")},
          std::vector<std::string>{"bogus-command", "a", "b"}, std::vector<std::string>{}}) {
        const ToolRun r = run_tool(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(dir.empty());
}

TEST(CommandTable, FeedsTheUsageTextAndTheDispatcher) {
    EXPECT_EQ(std::string(usage_text()),
              "usage:\n"
              "  ocumbra-sim fixindep [--width DEG] [--acuity A] [--contrast F | --logcs S] [--side-by-side] INPUT OUTPUT\n"
              "  ocumbra-sim fixdep   [--width DEG] [--acuity A] [--polar FILE | --field FILE [--other-eye FILE]] "
              "[--at X,Y]... [--resmap FILE] [--side-by-side] INPUT OUTPUT\n"
              "  ocumbra-sim glare    [--width DEG] [--glare N] [--side-by-side] INPUT OUTPUT\n"
              "  ocumbra-sim colour   --type protan|deutan|tritan|achromat [--severity S] [--side-by-side] INPUT OUTPUT\n"
              "  ocumbra-sim field    [--eye OD|OS] [--age N] [--periphery hull|normal] [--other-eye FILE] "
              "INPUT OUTPUT.bmp\n"
              "  ocumbra-sim scenario (FILE.json | --preset NAME) [--width DEG] [--at X,Y]... [--side-by-side] INPUT OUTPUT\n"
              "  ocumbra-sim presets\n"
              "  ocumbra-sim convert  INPUT OUTPUT\n"
              "  ocumbra-sim batch    [--jobs N] [--skip-existing] [--shard I/N] [--pattern '{stem}_{sim}.png'] "
              "--out DIR SIMULATION [ITS OPTIONS] INPUT...\n");
    ASSERT_EQ(commands().size(), 9u);
    for (const Command& c : commands()) EXPECT_EQ(find_command(c.name), &c) << c.name;
    EXPECT_EQ(find_command("glare")->run, &run_glare);
    EXPECT_EQ(find_command("nosuch"), nullptr);
    EXPECT_EQ(find_command(""), nullptr);
    EXPECT_EQ(summaries_text().substr(0, 30), "  fixindep  reduced acuity and");
    EXPECT_NE(summaries_text().find("\n  fixdep    a visual-field defect"), std::string::npos);
}

TEST(HelpText, ListsEveryCommandAndExitsZero) {
    const ToolRun r = run_tool({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* word : {"fixindep", "fixdep", "glare", "convert", "--width", "--acuity", "--contrast",
                             "--glare", "--polar", "--at", "--resmap", ".npy"}) {
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    }
}
