// `ocumbra-sim batch` run as a separate process: inputs from folders, patterns
// and files, each result equal to the simulation run alone, per-file errors
// skipped, resumption after an interruption, shards, and the bad inputs that
// stop it before any work.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli_testutil.hpp"
#include "fixdep/simulation.hpp"
#include "glare/glare.hpp"
#include "testutil.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

namespace fs = std::filesystem;
using namespace ocu;
using namespace ocu::testutil;

namespace {

ToolRun batch(std::vector<std::string> args) { return run_command("batch", std::move(args)); }

// `n` random colour images rows x cols named img00.png, img01.png, ... in `dir`.
std::vector<std::string> write_images(const TempDir& dir, int n, std::size_t rows, std::size_t cols) {
    std::vector<std::string> files;
    for (int i = 0; i < n; ++i) {
        const std::string name = std::string("img") + (i < 10 ? "0" : "") + std::to_string(i) + ".png";
        imwrite(AnyImage(random_u8(rows, cols, 3, static_cast<unsigned>(i) + 1)), dir.file(name));
        files.push_back(dir.file(name));
    }
    return files;
}

// The names in a folder, hidden ones (temporaries) left out.
std::set<std::string> visible_files(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string n = e.path().filename().string();
        if (n.front() != '.') names.insert(n);
    }
    return names;
}

}  // namespace

TEST(BatchCommandLine, EachInputOnceAsTheSimulationAloneAndBrokenFilesSkipped) {
    TempDir in, other, out;
    const std::vector<std::string> files = write_images(in, 3, 40, 56);
    std::ofstream(in.file("broken.png")) << "not an image";
    std::ofstream(in.file("notes.txt")) << "not an image either";  // not taken from the folder
    fs::copy_file(files[0], other.file("extra.bmp.png"));
    // The folder, a pattern matching two of its files again, and one more file.
    const ToolRun r = batch({"--jobs", "2", "--pattern", "{stem}_{sim}.npy", "--out", out.path(), "fixdep",
                             "--acuity", "0.5", in.path(), in.file("img0*.png"), other.file("extra.bmp.png")});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("ocumbra-sim: \"" + in.file("broken.png") + "\": Unable to determine the file format.\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("batch: 4 written, 1 failed, 0 skipped"), std::string::npos) << r.out;
    EXPECT_EQ(visible_files(out.path()), (std::set<std::string>{"img00_fixdep.npy", "img01_fixdep.npy",
                                                               "img02_fixdep.npy", "extra.bmp_fixdep.npy"}));

    fixdep::Params p;
    p.mar = 0.5;
    p.polim = imread(program_data_dir() + "polarplotREmd.bmp");
    for (int i = 0; i < 3; ++i) {
        const std::string name = "img0" + std::to_string(i) + "_fixdep.npy";
        EXPECT_EQ(read_npy_f8(out.file(name)), fixdep::run(imread(files[static_cast<std::size_t>(i)]), p)) << name;
    }
}

TEST(BatchCommandLine, ScenariosNamedByPresetOrFileAsTheCommandAlone) {
    TempDir in, other, out;
    const std::vector<std::string> files = write_images(in, 2, 48, 64);
    std::ofstream(other.file("mild.json")) << R"({"steps": ["acuity", "colour"], "acuity": "20/40",
                                                 "colour": {"type": "deutan", "severity": 0.5}})";
    ToolRun r = batch({"--pattern", "{stem}_{sim}.npy", "--out", out.path(), "scenario", "--preset", "cataract",
                       in.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    r = batch({"--pattern", "{stem}_{sim}.npy", "--out", out.path(), "scenario", other.file("mild.json"), in.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(visible_files(out.path()), (std::set<std::string>{"img00_cataract.npy", "img01_cataract.npy",
                                                               "img00_mild.npy", "img01_mild.npy"}));
    r = run_command("scenario", {"--preset", "cataract", files[1], other.file("c.npy")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_npy_f8(out.file("img01_cataract.npy")), read_npy_f8(other.file("c.npy")));
    r = run_command("scenario", {other.file("mild.json"), files[0], other.file("m.npy")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_npy_f8(out.file("img00_mild.npy")), read_npy_f8(other.file("m.npy")));
}

TEST(BatchCommandLine, InterruptedRunLeavesOnlyWholeOutputsAndResumes) {
    TempDir in, out;
    const int n = 24;
    const std::vector<std::string> files = write_images(in, n, 240, 320);
    const std::vector<std::string> args = {program_data_dir() + "ocumbra-sim", "batch", "--pattern", "{stem}.npy",
                                           "--out", out.path(), "glare", "--glare", "4", in.path()};
    // Started in a process group of its own, so that the interrupt reaches
    // the batch and its job as Ctrl-C would.
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, &attr, argv.data(), environ), 0);
    posix_spawnattr_destroy(&attr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (visible_files(out.path()).size() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(-pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);

    const std::set<std::string> before = visible_files(out.path());
    ASSERT_GE(before.size(), 3u);
    ASSERT_LT(before.size(), static_cast<std::size_t>(n)) << "the run ended before the interruption";
    auto expected = [&](const std::string& name) {
        return glare::run(imread(in.file(name.substr(0, name.size() - 4) + ".png")), {20, 4, 2, 2}).imt;
    };
    for (const std::string& name : before) EXPECT_EQ(read_npy_f8(out.file(name)), expected(name)) << name;

    const ToolRun r = batch({"--skip-existing", "--pattern", "{stem}.npy", "--out", out.path(), "glare", "--glare",
                             "4", in.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("batch: " + std::to_string(n - static_cast<int>(before.size())) + " written, 0 failed, " +
                         std::to_string(before.size()) + " skipped"),
              std::string::npos)
        << r.out;
    const std::set<std::string> after = visible_files(out.path());
    ASSERT_EQ(after.size(), static_cast<std::size_t>(n));
    for (const std::string& name : after) {
        if (!before.count(name)) {
            EXPECT_EQ(read_npy_f8(out.file(name)), expected(name)) << name;
        }
    }
}

TEST(BatchCommandLine, ShardsCoverEveryInputExactlyOnceWhateverTheArgumentOrder) {
    TempDir in, out;
    const std::vector<std::string> files = write_images(in, 7, 6, 5);
    std::vector<std::set<std::string>> shards;
    for (int s = 1; s <= 3; ++s) {
        const std::string dir = out.file("shard" + std::to_string(s));
        std::vector<std::string> args = {"--shard", std::to_string(s) + "/3", "--pattern", "{stem}.npy", "--out", dir,
                                         "convert"};
        // Files in forward order for odd shards, backward for even ones.
        if (s % 2) args.insert(args.end(), files.begin(), files.end());
        else args.insert(args.end(), files.rbegin(), files.rend());
        const ToolRun r = batch(args);
        ASSERT_EQ(r.status, 0) << r.err;
        shards.push_back(visible_files(dir));
    }
    // Every third file of the sorted list, starting with the shard's number.
    EXPECT_EQ(shards[0], (std::set<std::string>{"img00.npy", "img03.npy", "img06.npy"}));
    EXPECT_EQ(shards[1], (std::set<std::string>{"img01.npy", "img04.npy"}));
    EXPECT_EQ(shards[2], (std::set<std::string>{"img02.npy", "img05.npy"}));
}

TEST(BatchCommandLine, BadInputIsRefusedBeforeAnyWork) {
    TempDir in, other, empty, out;
    write_images(in, 2, 6, 5);
    write_images(other, 1, 6, 5);
    std::ofstream(out.file("plain_file")) << "x";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--out", out.file("o"), "glare", empty.path()}, 1,
         "The folder \"" + empty.path() + "\" holds no images"},
        {{"--out", out.file("o"), "glare", in.file("*.jpg")}, 1,
         "The pattern \"" + in.file("*.jpg") + "\" matches no files."},
        {{"--out", out.file("o"), "glare", in.path(), in.file("nosuch.png")}, 1,
         "File \"" + in.file("nosuch.png") + "\" does not exist."},
        {{"--out", out.file("o"), "glare", in.path(), other.path()}, 1,  // the two named in sorted order
         "img00.png\" would both be written to \"" + out.file("o") + "/img00_glare.png\""},
        {{"--out", in.path(), "--pattern", "{stem}.png", "glare", in.path()}, 1,
         "The output \"" + in.path() + "/img00.png\" would overwrite an input."},
        {{"--out", out.file("plain_file/o"), "glare", in.path()}, 1,
         "Cannot create the output folder \"" + out.file("plain_file/o") + "\": Not a directory."},
        {{"--out", out.file("o"), "glare", "--glare", "12", in.path()}, 2,
         "--glare needs a whole number from 0 to 10, got \"12\""},
        {{"--out", out.file("o"), "fixdep", "--resmap", "m.npy", in.path()}, 2,
         "batch cannot write --resmap"},
        {{"--out", out.file("o"), "--pattern", "{name}.png", "glare", in.path()}, 2,
         "only {stem}, {sim} and {ext} may stand in braces"},
        {{"--out", out.file("o"), "--shard", "0/2", "glare", in.path()}, 2,
         "--shard needs a whole number from 1 to 2, got \"0\""},
        {{"--out", out.file("o"), "batch", in.path()}, 2, "batch runs a command that takes INPUT OUTPUT"},
    };
    for (const Case& c : cases) {
        const ToolRun r = batch(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("written"), std::string::npos) << r.out;
    }
    EXPECT_EQ(visible_files(in.path()).size(), 2u);
    const std::set<std::string> left = visible_files(out.path());
    EXPECT_EQ(left.size(), left.count("o") + 1) << "only the output folder itself may have been made";
    if (left.count("o")) {
        EXPECT_TRUE(fs::is_empty(out.file("o")));
    }
}

TEST(BatchCommandLine, SwitchesOfTheSimulationTakeNoValue) {
    // --side-by-side before the inputs: the inputs stay inputs.
    TempDir in, other, out;
    const std::vector<std::string> files = write_images(in, 2, 30, 40);
    ToolRun r = batch({"--pattern", "{stem}.npy", "--out", out.path(), "glare", "--side-by-side", files[0], files[1]});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_command("glare", {"--side-by-side", files[1], other.file("alone.npy")});
    ASSERT_EQ(r.status, 0) << r.err;
    const ArrayD both = read_npy_f8(out.file("img01.npy"));
    EXPECT_EQ(both.cols(), 80u);
    EXPECT_EQ(both, read_npy_f8(other.file("alone.npy")));
}
