// ocumbra-sim's scenario, presets, colour and field commands run as separate
// processes: the combined run against the commands chained by hand through
// their .npy results, fixdep --field against the plot `field` wrote, and the
// tool's rules for outputs, numbers and options. Also the .npy input reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/npy_input.hpp"
#include "cli_testutil.hpp"
#include "colour/colour.hpp"
#include "toolkit/error.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

namespace fs = std::filesystem;
using namespace ocu;
using namespace ocu::testutil;

namespace {

std::string data(const std::string& name) { return program_data_dir() + name; }

void expect_ok(const ToolRun& r) { EXPECT_EQ(r.status, 0) << r.err; }

// A .npy file: version 1.0 header `dict` and the raw data.
std::string npy(const std::string& dict, const std::string& raw) {
    std::string h = dict;
    while ((10 + h.size() + 1) % 64 != 0) h += ' ';
    h += '\n';
    std::string s("\x93NUMPY\x01\x00", 8);
    s += static_cast<char>(h.size() & 0xFF);
    s += static_cast<char>(h.size() >> 8);
    return s + h + raw;
}

template <class T>
std::string raw(const std::vector<T>& v) {
    return std::string(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(T));
}

}  // namespace

TEST(ScenarioCommand, AllStepsEqualTheFourCommandsChainedByHand) {
    TempDir dir;
    const std::string in = data("NatIm13.jpg");
    expect_ok(run_command("glare", {"--width", "30", "--glare", "5", in, dir.file("1.npy")}));
    expect_ok(run_command("fixindep", {"--width", "30", "--acuity", "20/60", "--logcs", "1.4", dir.file("1.npy"),
                                       dir.file("2.npy")}));
    expect_ok(run_command("colour", {"--type", "deutan", "--severity", "0.6", dir.file("2.npy"), dir.file("3.npy")}));
    expect_ok(run_command("fixdep", {"--width", "30", "--acuity", "20/60", "--field",
                                     data("fields/glaucoma_early_24-2_OD.csv"), "--at", "250,180", dir.file("3.npy"),
                                     dir.file("hand.npy")}));
    std::ofstream(dir.file("s.json")) << R"({"steps": ["glare", "acuity", "colour", "field"], "width": 30,
        "glare": 5, "acuity": "20/60", "contrast": {"logcs": 1.4}, "colour": {"type": "deutan", "severity": 0.6},
        "field": ")" << data("fields/glaucoma_early_24-2_OD.csv") << R"(", "fixation": [250, 180]})";
    expect_ok(run_command("scenario", {dir.file("s.json"), in, dir.file("combined.npy")}));
    const ArrayD hand = read_npy_f8(dir.file("hand.npy"));
    ASSERT_EQ(hand.numel(), 600u * 400 * 3);
    EXPECT_EQ(read_npy_f8(dir.file("combined.npy")), hand);

    // --at renders each point in turn; the last one wins over the file's.
    expect_ok(run_command("scenario", {"--at", "1,1", "--at", "250,180", dir.file("s.json"), in, dir.file("at.npy")}));
    EXPECT_EQ(read_npy_f8(dir.file("at.npy")), hand);
}

TEST(ScenarioCommand, PresetsAreListedAndRunAndMistakesAreRefused) {
    TempDir dir;
    const ToolRun list = run_command("presets", {});
    expect_ok(list);
    for (const char* name : {"normal70", "cataract", "amd-early", "amd-late", "glaucoma-early", "glaucoma-advanced",
                             "diabetic-retinopathy", "retinitis-pigmentosa", "hemianopia-right", "illustrative"}) {
        EXPECT_NE(list.out.find(name), std::string::npos) << name;
    }
    expect_ok(run_command("scenario", {"--preset", "cataract", data("NatIm13.jpg"), dir.file("c.png")}));
    EXPECT_EQ(image_cols(imread(dir.file("c.png"))), 600u);

    EXPECT_EQ(run_command("scenario", {"--preset", "myopia", data("NatIm13.jpg"), dir.file("x.png")}).status, 2);
    std::ofstream(dir.file("bad.json")) << R"({"steps": ["glare"], "glare": 12})";
    const ToolRun bad = run_command("scenario", {dir.file("bad.json"), data("NatIm13.jpg"), dir.file("x.png")});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("key \"glare\""), std::string::npos) << bad.err;
    EXPECT_EQ(run_command("scenario", {"--preset", "cataract", dir.file("bad.json"), data("NatIm13.jpg"),
                                       dir.file("x.png")}).status, 2);
    EXPECT_FALSE(fs::exists(dir.file("x.png")));
}

TEST(FieldCommand, FixdepWithFieldEqualsPolarOnThePlotFieldWrote) {
    TempDir dir;
    const std::string od = data("fields/hemianopia_right_24-2_OD.csv");
    const std::string os = data("fields/hemianopia_right_24-2_OS.dcm");
    expect_ok(run_command("field", {"--other-eye", os, od, dir.file("both.bmp")}));
    const AnyImage plot = imread(dir.file("both.bmp"));
    EXPECT_EQ(image_rows(plot), 400u);
    EXPECT_EQ(image_planes(plot), 3u);
    expect_ok(run_command("fixdep", {"--polar", dir.file("both.bmp"), data("NatIm13.jpg"), dir.file("p.npy")}));
    expect_ok(run_command("fixdep", {"--field", od, "--other-eye", os, data("NatIm13.jpg"), dir.file("f.npy")}));
    EXPECT_EQ(read_npy_f8(dir.file("p.npy")), read_npy_f8(dir.file("f.npy")));

    // The 10-2 file names no eye.
    const std::string md = data("fields/macular_degeneration_10-2_OD.csv");
    EXPECT_EQ(run_command("field", {md, dir.file("md.bmp")}).status, 1);
    expect_ok(run_command("field", {"--eye", "OD", "--periphery", "normal", md, dir.file("md.bmp")}));
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--eye", "middle"},
                                                std::vector<std::string>{"--age", "150"},
                                                std::vector<std::string>{"--periphery", "edge"}}) {
        std::vector<std::string> args = bad;
        args.insert(args.end(), {md, dir.file("x.bmp")});
        EXPECT_EQ(run_command("field", args).status, 2) << bad[0];
    }
    EXPECT_EQ(run_command("fixdep", {"--polar", dir.file("both.bmp"), "--field", od, data("NatIm13.jpg"),
                                     dir.file("x.npy")}).status, 2);
}

TEST(ColourCommand, TypeAndSeverity) {
    TempDir dir;
    const std::string in = data("NatIm13.jpg");
    expect_ok(run_command("colour", {"--type", "tritan", "--severity", "0.25", in, dir.file("t.npy")}));
    EXPECT_EQ(read_npy_f8(dir.file("t.npy")), colour::run(imread(in), {colour::Deficiency::Tritan, 0.25}));
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{}, std::vector<std::string>{"--type", "red"},
          std::vector<std::string>{"--type", "protan", "--severity", "1.5"},
          std::vector<std::string>{"--type", "protan", "--severity", "nan"}}) {
        std::vector<std::string> args = bad;
        args.insert(args.end(), {in, dir.file("x.npy")});
        EXPECT_EQ(run_command("colour", args).status, 2);
    }
}

TEST(ClinicalOptions, SnellenLogcsAndPhotoWidth) {
    TempDir dir;
    const std::string in = data("chelsea.jpg");
    // 20/40 is 0.5; a score of 1.65 is the factor 10^0.3 = 1.99526...
    expect_ok(run_command("fixindep", {"--acuity", "20/40", "--logcs", "1.65", in, dir.file("a.npy")}));
    expect_ok(run_command("fixindep", {"--acuity", "0.5", "--contrast", "1.9952623149688795", in, dir.file("b.npy")}));
    EXPECT_EQ(read_npy_f8(dir.file("a.npy")), read_npy_f8(dir.file("b.npy")));
    EXPECT_EQ(run_command("fixindep", {"--contrast", "2", "--logcs", "1", in, dir.file("x.npy")}).status, 2);
    EXPECT_EQ(run_command("fixindep", {"--logcs", "2.5", in, dir.file("x.npy")}).status, 2);
    const ToolRun photo = run_command("glare", {"--width", "photo", in, dir.file("x.npy")});
    EXPECT_EQ(photo.status, 1);  // the sample photos hold no focal length
    EXPECT_NE(photo.err.find("chelsea.jpg"), std::string::npos) << photo.err;
    EXPECT_FALSE(fs::exists(dir.file("x.npy")));
}

// ---- Outputs: nothing lost on a failed run ----

TEST(Outputs, AFailedRunLeavesExistingFilesAsTheyWere) {
    TempDir dir;
    const std::string in = data("NatIm13.jpg");
    std::ofstream(dir.file("out.png")) << "the user's own file";
    std::ofstream(dir.file("res.npy")) << "another";
    const ToolRun r = run_command("fixdep", {"--resmap", dir.file("missing/r.npy"), in, dir.file("out.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing"), std::string::npos) << r.err;
    // A failure after the first output was written.
    EXPECT_EQ(run_command("fixdep", {"--resmap", dir.file("res.gif"), in, dir.file("out.png")}).status, 1);
    EXPECT_EQ(run_command("fixdep", {"--resmap", dir.file("out.png"), in, dir.file("out.png")}).status, 1);
    EXPECT_EQ(run_command("convert", {in, in}).status, 1);
    EXPECT_EQ(run_command("glare", {dir.file("res.npy"), dir.file("out.png")}).status, 1);
    EXPECT_EQ(slurp(dir.file("out.png")), "the user's own file");
    EXPECT_EQ(slurp(dir.file("res.npy")), "another");
    EXPECT_EQ(dir.entries().size(), 2u);  // no hidden leftovers

    // A successful run replaces an output through a link and keeps its mode.
    fs::permissions(dir.file("out.png"), fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(dir.file("out.png"), dir.file("link.png"));
    expect_ok(run_command("convert", {in, dir.file("link.png")}));
    EXPECT_TRUE(fs::is_symlink(dir.file("link.png")));
    EXPECT_EQ(image_cols(imread(dir.file("out.png"))), 600u);
    EXPECT_EQ(fs::status(dir.file("out.png")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

// ---- Options: one rule for numbers, --, exit 2 for every value out of range ----

TEST(Options, PlainDecimalsDoubleDashAndExitTwoForValuesOutOfRange) {
    TempDir dir;
    const std::string in = data("chelsea.jpg");
    const std::vector<std::vector<std::string>> bad = {
        {"fixindep", "--width", "0x14"},  {"fixindep", "--width", " 20"}, {"glare", "--width", "20 "},
        {"fixindep", "--acuity", " 0.5"}, {"fixindep", "--width", "200"}, {"fixindep", "--contrast", "0"},
        {"fixdep", "--width", "180"},     {"fixdep", "--acuity", "0"},    {"glare", "--glare", "0xA"},
    };
    for (std::vector<std::string> args : bad) {
        args.insert(args.end(), {in, dir.file("o.npy")});
        const ToolRun r = run_tool(args);
        EXPECT_EQ(r.status, 2) << args[1] << " \"" << args[2] << "\": " << r.err;
    }
    EXPECT_TRUE(dir.empty());

    fs::copy_file(in, dir.file("--cat.jpg"));
    EXPECT_EQ(run_tool({"convert", "--", "--cat.jpg", "--out.npy"}, dir.path()).status, 0);
    EXPECT_TRUE(fs::exists(dir.file("--out.npy")));
}

TEST(Options, DefaultPolarPlotIsTheProgramsNotTheWorkingFolders) {
    TempDir dir;
    fs::copy_file(data("polarplotREnormal.bmp"), dir.file("polarplotREmd.bmp"));
    const std::string in = data("chelsea.jpg");
    expect_ok(run_tool({"fixdep", in, dir.file("default.npy")}, dir.path()));
    expect_ok(run_tool({"fixdep", "--polar", data("polarplotREmd.bmp"), in, dir.file("md.npy")}));
    EXPECT_EQ(read_npy_f8(dir.file("default.npy")), read_npy_f8(dir.file("md.npy")));
}

// ---- .npy input ----

TEST(NpyInput, ShapesOrdersAndTypes) {
    // 2 rows x 3 columns in C order: row by row.
    const AnyImage c = cli::parse_npy(
        npy("{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), }", raw<double>({1, 2, 3, 4, 5, 6})), "c");
    const ArrayD& a = std::get<ArrayD>(c);
    ASSERT_EQ(a.rows(), 2u);
    ASSERT_EQ(a.cols(), 3u);
    EXPECT_EQ(a(0, 2), 3);
    EXPECT_EQ(a(1, 0), 4);
    // The same in Fortran order: column by column.
    const ArrayD f = std::get<ArrayD>(cli::parse_npy(
        npy("{'descr': '<f8', 'fortran_order': True, 'shape': (2, 3), }", raw<double>({1, 4, 2, 5, 3, 6})), "f"));
    EXPECT_EQ(f, a);
    // 8-bit colour, 1 x 2 x 3: pixel after pixel, plane fastest.
    const ArrayU8 u = std::get<ArrayU8>(cli::parse_npy(
        npy("{'descr': '|u1', 'fortran_order': False, 'shape': (1, 2, 3), }", std::string("\x01\x02\x03\x04\x05\x06", 6)),
        "u"));
    EXPECT_EQ(u(0, 1, 0), 4);
    EXPECT_EQ(u(0, 0, 2), 3);
}

TEST(NpyInput, BrokenFilesAreRefusedNamingTheFile) {
    const std::string ok = "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), }";
    const std::string six = raw<double>({1, 2, 3, 4, 5, 6});
    const std::vector<std::string> bad = {
        "",
        "not a numpy file at all",
        npy(ok, six).substr(0, 60),
        npy(ok, six.substr(0, 40)),
        npy(ok, six + "xx"),
        npy("{'descr': '<f4', 'fortran_order': False, 'shape': (2, 3), }", six),
        npy("{'descr': '>f8', 'fortran_order': False, 'shape': (2, 3), }", six),
        npy("{'descr': '<f8', 'fortran_order': False, 'shape': (1, 1, 2, 3), }", six),
        npy("{'descr': '<f8', 'fortran_order': False, 'shape': (1, 3, 2), }", six),
        npy("{'descr': '<f8', 'fortran_order': False, 'shape': (0, 3), }", ""),
        npy("{'descr': '<f8', 'fortran_order': False, 'shape': (6,), }", six),
        npy("{'descr': '<f8', 'fortran_order': False, 'shape': (99999999999, 99999999999), }", six),
        npy("{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), }", raw<double>({1, 2, NAN, 4, 5, 6})),
        npy("{'descr': '<f8', 'shape': (2, 3), }", six),
    };
    for (const std::string& b : bad) {
        try {
            cli::parse_npy(b, "broken.npy");
            ADD_FAILURE() << "accepted: " << b.substr(0, 80);
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("broken.npy"), std::string::npos) << e.what();
        }
    }
}
