// The installed program: a DESTDIR install of this build (every file where
// it belongs, nothing else, and the programs finding their plug-in and data
// in the installed tree, not in the build folder), the Debian package made
// from it (its control fields and contents), the desktop files, and the
// copyright file covering every shipped sample file.
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli_testutil.hpp"
#include "toolkit/paths.hpp"

namespace {

namespace fs = std::filesystem;
using ocu::testutil::quoted;
using ocu::testutil::slurp;
using ocu::testutil::TempDir;

const std::string kBuild = OCU_BUILD_DIR;
const std::string kSource = OCU_SOURCE_DIR;
const std::string kBin = kBuild + "/bin";
const std::string kLibDir = OCU_INSTALL_LIBDIR;  // lib/<multiarch> for the prefix /usr on Debian
const std::string kVersion = OCU_VERSION;
constexpr bool kDocs = OCU_DOCS;

struct Shell {
    int status = -1;
    std::string out;  // standard output and error together
};

// Runs a shell command line, collecting its exit status and output.
Shell sh(const std::string& command) {
    TempDir io;
    const int raw = std::system((command + " >" + quoted(io.file("out")) + " 2>&1").c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(io.file("out"))};
}

bool have(const std::string& program) { return sh("command -v " + quoted(program)).status == 0; }

// Installs this build as the Debian package does (prefix /usr) into `destdir`.
void install_into(const TempDir& destdir) {
    const Shell r = sh("DESTDIR=" + quoted(destdir.path()) + " " + quoted(OCU_CMAKE_COMMAND) + " --install " +
                       quoted(kBuild) + " --prefix /usr");
    ASSERT_EQ(r.status, 0) << r.out;
}

// The regular files below `dir`, as paths relative to it.
std::set<std::string> files_below(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) names.insert(fs::relative(e.path(), dir).string());
    return names;
}

// Width and height of a PNG file from its header (0, 0 if it is none).
std::pair<unsigned, unsigned> png_size(const std::string& path) {
    const std::string s = slurp(path);
    if (s.size() < 24 || s.compare(1, 3, "PNG") != 0) return {0, 0};
    auto be32 = [&](std::size_t at) {
        unsigned v = 0;
        for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
        return v;
    };
    return {be32(16), be32(20)};
}

TEST(InstallLayout, TheExecutablesFolderTellsBuildTreeFromInstalledTree) {
    TempDir t;
    // The build tree: no installed data folder beside the executables' folder.
    fs::create_directories(t.file("build/bin"));
    ocu::ProgramDirs d = ocu::program_dirs_for(t.file("build/bin"));
    EXPECT_EQ(d.data, t.file("build/bin/"));
    EXPECT_EQ(d.plugin, t.file("build/bin"));
    EXPECT_EQ(d.doc, t.file("build/bin/"));
    // A file where the data folder would be does not make an installed tree.
    fs::create_directories(t.file("build/share"));
    std::ofstream(t.file("build/share/ocumbra")) << "x";
    EXPECT_EQ(ocu::program_dirs_for(t.file("build/bin")).data, t.file("build/bin/"));

    // An installed tree <prefix>/bin, <prefix>/share/ocumbra, ...
    fs::create_directories(t.file("usr/bin"));
    fs::create_directories(t.file("usr/share/ocumbra"));
    d = ocu::program_dirs_for(t.file("usr/bin"));
    EXPECT_EQ(d.data, t.file("usr/share/ocumbra/"));
    EXPECT_EQ(d.plugin, t.file("usr/" + kLibDir + "/ocumbra"));
    EXPECT_EQ(d.doc, t.file("usr/share/doc/ocumbra/"));

    // Not known: the working folder, the plug-in from the library path.
    d = ocu::program_dirs_for("");
    EXPECT_EQ(d.data, "./");
    EXPECT_EQ(d.plugin, "");
    EXPECT_EQ(d.doc, "./");
}

TEST(InstallLayout, EveryFileInItsPlaceAndNothingElse) {
    TempDir dest;
    ASSERT_NO_FATAL_FAILURE(install_into(dest));
    const std::string usr = dest.path() + "/usr/";

    std::set<std::string> expected = {
        "bin/ocumbra",
        "bin/ocumbra-sim",
        kLibDir + "/ocumbra/libkalentry.so",
        "share/applications/ocumbra.desktop",
        "share/metainfo/org.ocumbra.ocumbra.metainfo.xml",
        "share/icons/hicolor/scalable/apps/ocumbra.svg",
        "share/doc/ocumbra/copyright",
    };
    // Every sample file of data/, sub-folders included, in the data folder.
    for (const std::string& f : files_below(kSource + "/data"))
        if (f != "README.md") expected.insert("share/ocumbra/" + f);
    // Every layout the build puts next to the executables.
    for (const auto& e : fs::directory_iterator(kBin))
        if (e.path().extension() == ".fig") expected.insert("share/ocumbra/" + e.path().filename().string());
    const std::vector<unsigned> icon_sizes = {16, 24, 32, 48, 64, 128, 256};
    if (kDocs) {
        for (unsigned n : icon_sizes) {
            expected.insert("share/icons/hicolor/" + std::to_string(n) + "x" + std::to_string(n) +
                            "/apps/ocumbra.png");
        }
        for (const char* f : {"share/man/man1/ocumbra.1.gz", "share/man/man1/ocumbra-sim.1.gz",
                              "share/doc/ocumbra/user-guide.html", "share/doc/ocumbra/changelog.Debian.gz"})
            expected.insert(f);
    }
    EXPECT_EQ(files_below(usr), expected);
    EXPECT_EQ(files_below(dest.path()).size(), expected.size()) << "files outside usr/";

    // The programs are executable; the plug-in is a library, not a program.
    for (const char* prog : {"bin/ocumbra", "bin/ocumbra-sim"})
        EXPECT_EQ(access((usr + prog).c_str(), X_OK), 0) << prog;
    struct stat st {};
    ASSERT_EQ(stat((usr + kLibDir + "/ocumbra/libkalentry.so").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    if (kDocs) {
        for (unsigned n : icon_sizes) {
            const std::string dim = std::to_string(n) + "x" + std::to_string(n);
            EXPECT_EQ(png_size(usr + "share/icons/hicolor/" + dim + "/apps/ocumbra.png"),
                      std::make_pair(n, n))
                << dim;
        }
    }
    // Nothing installed points into the build folder: no run path in the
    // binaries (their debug information may name it), no path in the rest.
    for (const std::string& f : files_below(usr)) {
        if (f.rfind("bin/", 0) == 0 || f.ends_with(".so")) {
            const Shell r = sh("readelf --dynamic " + quoted(usr + f));
            EXPECT_EQ(r.status, 0) << f << r.out;
            EXPECT_EQ(r.out.find("PATH"), std::string::npos) << f << r.out;  // RPATH, RUNPATH
        } else {
            EXPECT_EQ(slurp(usr + f).find(kBuild), std::string::npos) << f;
        }
    }
}

TEST(InstallLayout, ProgramsFindPlugInAndDataInTheInstalledTree) {
    TempDir dest, work;
    ASSERT_NO_FATAL_FAILURE(install_into(dest));
    const std::string usr = dest.path() + "/usr";
    const std::string sim = quoted(usr + "/bin/ocumbra-sim");
    const std::string in_work = "cd " + quoted(work.path()) + " && ";

    // The fixation-dependent simulation needs the plug-in and, without
    // --polar, the default polar plot of the data folder.
    const std::string image = usr + "/share/ocumbra/NatIm13.jpg";
    Shell r = sh(in_work + sim + " fixdep --at 100,80 " + quoted(image) + " installed.npy");
    ASSERT_EQ(r.status, 0) << r.out;
    const ocu::testutil::ToolRun ref = ocu::testutil::run_command(
        "fixdep", {"--at", "100,80", kBin + "/NatIm13.jpg", work.file("build.npy")});
    ASSERT_EQ(ref.status, 0) << ref.err;
    const ocu::ArrayD installed = ocu::testutil::read_npy_f8(work.file("installed.npy"));
    EXPECT_GT(installed.numel(), 0u);
    EXPECT_TRUE(installed == ocu::testutil::read_npy_f8(work.file("build.npy")));

    // Without the installed plug-in the program says where it looked.
    const std::string plugin_dir = usr + "/" + kLibDir + "/ocumbra";
    fs::rename(plugin_dir + "/libkalentry.so", work.file("libkalentry.so"));
    r = sh(in_work + sim + " fixdep " + quoted(image) + " again.npy");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("libkalentry.so is not in the program's plug-in folder (" + plugin_dir + ")"),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(fs::exists(work.file("again.npy")));
}

TEST(InstallLayout, InstalledWindowOpensAFileGivenOnTheCommandLine) {
    if (!have("xvfb-run") || !have("xwininfo")) GTEST_SKIP() << "needs xvfb-run and xwininfo";
    TempDir dest, work;
    ASSERT_NO_FATAL_FAILURE(install_into(dest));
    const std::string usr = dest.path() + "/usr";
    // The window and the photo given, and no error box (a missing layout,
    // default image or unreadable file would show one).
    const Shell r = sh("cd " + quoted(work.path()) + " && " + quoted(kSource + "/scripts/check-window.sh") +
                       " " + quoted(usr + "/bin/ocumbra") + " " + quoted(usr + "/share/ocumbra/chelsea.jpg"));
    EXPECT_EQ(r.status, 0) << r.out;
}

// The patterns of the Files: fields of a machine-readable copyright file.
std::vector<std::string> copyright_patterns(const std::string& text) {
    std::vector<std::string> patterns;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Files:", 0) != 0) continue;
        std::istringstream words(line.substr(6));
        for (std::string w; words >> w;) patterns.push_back(w);
    }
    return patterns;
}

TEST(Copyright, EverySampleFileHasItsOwnLicenceParagraph) {
    const std::vector<std::string> patterns = copyright_patterns(slurp(kBin + "/copyright"));
    ASSERT_FALSE(patterns.empty());
    for (const std::string& f : files_below(kSource + "/data")) {
        if (f == "README.md") continue;
        const std::string path = "data/" + f;
        const bool covered = std::any_of(patterns.begin(), patterns.end(), [&](const std::string& p) {
            return p != "*" && fnmatch(p.c_str(), path.c_str(), 0) == 0;
        });
        EXPECT_TRUE(covered) << path << " has no Files: paragraph of its own in packaging/copyright.in";
    }
}

TEST(DesktopFiles, ValidateAndOpenTheFileGiven) {
    if (!have("desktop-file-validate") || !have("appstreamcli")) {
        GTEST_SKIP() << "needs desktop-file-validate and appstreamcli";
    }
    const std::string desktop = kSource + "/packaging/ocumbra.desktop";
    Shell r = sh("desktop-file-validate " + quoted(desktop));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("error"), std::string::npos) << r.out;
    // "Open with" hands the file to the program as its one argument.
    EXPECT_NE(slurp(desktop).find("\nExec=ocumbra %f\n"), std::string::npos);

    const std::string metainfo = kBuild + "/packaging/org.ocumbra.ocumbra.metainfo.xml";
    r = sh("appstreamcli validate --no-net " + quoted(metainfo));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(slurp(metainfo).find("<release version=\"" + kVersion + "\""), std::string::npos);
}

TEST(Version, OneNumberEverywhere) {
    EXPECT_EQ(sh(quoted(kBin + "/ocumbra") + " --version").out, "ocumbra " + kVersion + "\n");
    EXPECT_EQ(sh(quoted(kBin + "/ocumbra-sim") + " --version").out, "ocumbra-sim " + kVersion + "\n");
    EXPECT_EQ(slurp(kBuild + "/packaging/changelog.Debian").rfind("ocumbra (" + kVersion + "-1) ", 0), 0u);
}

#if OCU_PACKAGE_TEST
std::string first_line(const std::string& s) { return s.substr(0, s.find('\n')); }

// The control field `name` of a package file.
std::string field(const std::string& deb, const std::string& name) {
    Shell r = sh("dpkg-deb --field " + quoted(deb) + " " + name);
    while (!r.out.empty() && r.out.back() == '\n') r.out.pop_back();
    return r.out;
}

TEST(DebianPackage, ControlFieldsAndContents) {
    TempDir out;
    Shell r =
        sh("cd " + quoted(kBuild) + " && " + quoted(OCU_CPACK_COMMAND) + " -G DEB -B " + quoted(out.path()));
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string arch = first_line(sh("dpkg --print-architecture").out);
    const std::string deb = out.file("ocumbra_" + kVersion + "-1_" + arch + ".deb");
    ASSERT_TRUE(fs::exists(deb)) << r.out;

    EXPECT_EQ(field(deb, "Package"), "ocumbra");
    EXPECT_EQ(field(deb, "Version"), kVersion + "-1");
    EXPECT_EQ(field(deb, "Architecture"), arch);
    EXPECT_TRUE(std::regex_match(field(deb, "Maintainer"), std::regex(".+ <[^ @]+@[^ @]+>")));
    // The libraries come from dpkg-shlibdeps, with versions; Qt's TIFF
    // reader, loaded at run time, is named by hand.
    const std::string depends = field(deb, "Depends");
    for (const char* lib : {"libc6 (>= ", "libstdc++6 (>= ", "libqt6core6 (>= ", "libqt6widgets6 (>= ",
                            "libqt6uitools6 (>= ", "qt6-image-formats-plugins"})
        EXPECT_NE(depends.find(lib), std::string::npos) << lib << " in " << depends;
    // A one-line summary and a long description of several lines.
    const std::string description = field(deb, "Description");
    EXPECT_LT(first_line(description).size(), 80u);
    EXPECT_GE(std::count(description.begin(), description.end(), '\n'), 5) << description;

    // Owned by root, the programs executable, the files where the install puts them.
    r = sh("dpkg-deb --contents " + quoted(deb));
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<std::string> listing;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) listing.push_back(line);
    for (const std::string& entry : std::vector<std::string>{
             "-rwxr-xr-x root/root .* \\./usr/bin/ocumbra", "-rwxr-xr-x root/root .* \\./usr/bin/ocumbra-sim",
             "-rw-r--r-- root/root .* \\./usr/" + kLibDir + "/ocumbra/libkalentry\\.so",
             "-rw-r--r-- root/root .* \\./usr/share/ocumbra/NatIm13\\.jpg",
             "-rw-r--r-- root/root .* \\./usr/share/ocumbra/ocumbra\\.fig",
             "-rw-r--r-- root/root .* \\./usr/share/applications/ocumbra\\.desktop",
             "-rw-r--r-- root/root .* \\./usr/share/doc/ocumbra/copyright"}) {
        const std::regex re(entry);
        EXPECT_TRUE(std::any_of(listing.begin(), listing.end(),
                                [&](const std::string& l) { return std::regex_match(l, re); }))
            << entry << "\n"
            << r.out;
    }
    // Stripped: no symbol table left in the programs.
    r = sh("dpkg-deb --fsys-tarfile " + quoted(deb) + " | tar -xO ./usr/bin/ocumbra-sim > " +
           quoted(out.file("sim")) + " && readelf -S " + quoted(out.file("sim")));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(".dynsym"), std::string::npos);
    EXPECT_EQ(r.out.find(".symtab"), std::string::npos);
}
#endif

}  // namespace
