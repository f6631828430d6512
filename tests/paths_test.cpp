// The program's own folders: the executable's folder and the lookup of data
// files in the working folder first, then next to the program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "cli_testutil.hpp"
#include "toolkit/paths.hpp"

using namespace ocu;
using ocu::testutil::TempDir;
namespace fs = std::filesystem;

TEST(Paths, ExecutableDirIsTheFolderOfThisProgram) {
    const std::string dir = executable_dir();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), '/');
    EXPECT_EQ(access((dir + "/paths_test").c_str(), X_OK), 0) << dir;
    EXPECT_EQ(program_data_dir(), dir + "/");
}

TEST(DataFiles, FoundInTheWorkingFolderThenNextToTheProgram) {
    const std::string dir = program_data_dir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    // This test program is built into the program's folder.
    EXPECT_TRUE(fs::exists(dir + "paths_test"));

    TempDir work;
    const fs::path before = fs::current_path();
    fs::current_path(work.path());
    EXPECT_EQ(find_data_file("NatIm13.jpg"), dir + "NatIm13.jpg");
    EXPECT_EQ(find_data_file("no_such_file.bmp"), "no_such_file.bmp");
    std::ofstream("NatIm13.jpg") << "x";
    EXPECT_EQ(find_data_file("NatIm13.jpg"), "NatIm13.jpg");
    EXPECT_EQ(find_data_file("/no/such/absolute.bmp"), "/no/such/absolute.bmp");
    fs::current_path(before);
}

TEST(DataFiles, AHostNamesItsOwnFolders) {
    const ProgramDirs exe_dirs = program_dirs();
    TempDir data;
    std::ofstream(data.file("only_here.bmp")) << "x";
    set_program_dirs({data.path() + "/", "/plugin/folder", "/doc/folder/"});
    EXPECT_EQ(program_data_dir(), data.path() + "/");
    EXPECT_EQ(plugin_dir(), "/plugin/folder");
    EXPECT_EQ(program_doc_dir(), "/doc/folder/");
    EXPECT_EQ(find_data_file("only_here.bmp"), data.file("only_here.bmp"));
    EXPECT_EQ(find_data_file("NatIm13.jpg"), "NatIm13.jpg");  // not in the named folder
    set_program_dirs({});  // back to the executable's
    EXPECT_EQ(program_data_dir(), exe_dirs.data);
    EXPECT_EQ(plugin_dir(), exe_dirs.plugin);
}
