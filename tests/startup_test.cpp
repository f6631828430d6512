// The program's command line (ocumbra FILE, --help, --version) and the main
// window's Help menu (About, User guide).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QDir>

#include "app/help.hpp"
#include "app/ocumbra.hpp"
#include "app/startup.hpp"
#include "cli_testutil.hpp"
#include "tests/window_testing.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

// LeakSanitizer's stop-the-world tracer crashes at this program's exit while it
// reads the main thread's dynamic TLS records (a fault of the sanitizer runtime;
// the tests themselves pass). Without TLS as roots it can only report more
// leaks, never fewer. LSAN_OPTIONS from the environment still applies on top.
extern "C" const char* __lsan_default_options();
extern "C" const char* __lsan_default_options() { return "use_tls=0"; }

namespace ocu::app {
namespace {

namespace fs = std::filesystem;
using Action = StartRequest::Action;
using testutil::quoted;
using testutil::slurp;
using testutil::TempDir;

TEST(CommandLine, FileHelpVersionAndTheWindowFunctionsOwnForm) {
    StartRequest r = parse_command_line({});
    EXPECT_EQ(r.action, Action::Window);
    EXPECT_TRUE(r.file.empty());
    EXPECT_TRUE(r.window_args.empty());

    r = parse_command_line({"/photos/a b.jpg"});
    EXPECT_EQ(r.action, Action::Window);
    EXPECT_EQ(r.file, "/photos/a b.jpg");
    EXPECT_TRUE(r.window_args.empty());

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"-h"}, {"photo.jpg", "--help"}, {"--help", "--version"}})
        EXPECT_EQ(parse_command_line(args).action, Action::Help) << args.front();
    EXPECT_EQ(parse_command_line({"--version"}).action, Action::Version);

    r = parse_command_line({"--frobnicate"});
    EXPECT_EQ(r.action, Action::UsageError);
    EXPECT_EQ(r.error, "unknown option --frobnicate");
    EXPECT_EQ(parse_command_line({""}).action, Action::UsageError);

    // Several arguments go to the window function as texts, as before.
    r = parse_command_line({"Visible", "off"});
    EXPECT_EQ(r.action, Action::Window);
    EXPECT_TRUE(r.file.empty());
    ASSERT_EQ(r.window_args.size(), 2u);
    EXPECT_EQ(gui::text(r.window_args[1]), "off");
}

TEST(CommandLine, TheProgramAnswersHelpAndVersionWithoutADisplay) {
    const std::string program = quoted(executable_dir() + "/ocumbra");
    TempDir io;
    auto run = [&](const std::string& args) {
        const int raw = std::system(("env -u DISPLAY -u QT_QPA_PLATFORM " + program + " " + args + " >" +
                                     quoted(io.file("out")) + " 2>" + quoted(io.file("err")))
                                        .c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    EXPECT_EQ(run("--version"), 0);
    EXPECT_EQ(slurp(io.file("out")), std::string("ocumbra ") + OCU_VERSION + "\n");
    EXPECT_EQ(run("--help"), 0);
    EXPECT_EQ(slurp(io.file("out")), help_text());
    EXPECT_EQ(help_text().rfind("Usage: ocumbra [FILE]\n", 0), 0u);
    // An unknown option stops before any window, with the usage on stderr.
    EXPECT_EQ(run("-platform offscreen --frobnicate"), 2);
    EXPECT_NE(slurp(io.file("err")).find("ocumbra: unknown option --frobnicate\nUsage: ocumbra"),
              std::string::npos)
        << slurp(io.file("err"));
}

void close_all_windows() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (gui::figure_of(gui::Handle(w)) == w) gui::delete_object(gui::Handle(w));
    }
    test::settle();
}

class Started : public ::testing::Test {
protected:
    void SetUp() override {
        test::ensure_app();
        close_all_windows();
    }
    void TearDown() override {
        close_all_windows();
        set_help_viewer({});
    }
    // Starts the program's window as main() does with `args`.
    void start_with(const std::vector<std::string>& args) {
        testing::internal::CaptureStdout();
        start(parse_command_line(args));
        testing::internal::GetCapturedStdout();
        fig_ = gui::Handle(gui::gcf());
        ASSERT_TRUE(gui::is_valid(fig_));
    }
    OcumbraState state() const { return *gui::guidata<OcumbraState>(fig_); }
    void trigger(const char* tag) {
        auto* a = qobject_cast<QAction*>(state().controls(tag).data());
        ASSERT_NE(a, nullptr) << tag;
        a->trigger();
        test::settle();
    }

    test::FakePlatformScope fake_;
    gui::Handle fig_;
    TempDir tmp_;
};

TEST_F(Started, AFileGivenIsShownInPlaceOfTheDefaultImage) {
    fs::copy_file("chelsea.jpg", tmp_.file("cat.jpg"));
    start_with({tmp_.file("cat.jpg")});
    EXPECT_TRUE(fake_->errors.empty());
    EXPECT_TRUE(gui::is_visible(fig_));
    const OcumbraState s = state();
    const AnyImage cat = imread(tmp_.file("cat.jpg"));
    EXPECT_TRUE(s.im == cat);
    EXPECT_EQ(s.filename, "cat.jpg");
    EXPECT_EQ(s.pathname, tmp_.path() + "/");  // Save result proposes "T" + the name there
    EXPECT_EQ(s.prevtrans, Transform::None);
    const gui::ImageArea* area = gui::image_area(s[tag::axes1]);
    EXPECT_EQ(area->image_rows(), 300u);
    EXPECT_EQ(area->image_cols(), 451u);

    // A name without a folder: the working folder, as the state record keeps it.
    close_all_windows();
    const fs::path before = fs::current_path();
    fs::current_path(tmp_.path());
    start_with({"cat.jpg"});
    fs::current_path(before);
    EXPECT_TRUE(fake_->errors.empty());
    EXPECT_EQ(state().filename, "cat.jpg");
    EXPECT_EQ(state().pathname, "");
    EXPECT_TRUE(state().im == cat);
}

TEST_F(Started, AFileThatCannotBeReadIsReportedAndTheDefaultImageStays) {
    std::ofstream(tmp_.file("notes.jpg")) << "plain text";
    for (const std::string name : {"missing.jpg", "notes.jpg"}) {
        close_all_windows();
        fake_->errors.clear();
        start_with({tmp_.file(name)});
        ASSERT_EQ(fake_->errors.size(), 1u) << name;
        if (name == "missing.jpg") {
            EXPECT_EQ(fake_->errors[0], "File \"" + tmp_.file(name) + "\" does not exist.");
        }
        EXPECT_TRUE(gui::is_visible(fig_));
        EXPECT_EQ(state().filename, "NatIm13.jpg");
        EXPECT_TRUE(state().im == imread("NatIm13.jpg"));
    }
}

TEST_F(Started, AboutShowsTheVersionAndTheLicenceOfEverySampleFile) {
    std::vector<std::string> shown;
    set_help_viewer({[&](const std::string& title, const std::string& text) { shown = {title, text}; }, {}});
    start_with({});
    trigger("about_menu");
    EXPECT_TRUE(fake_->errors.empty());
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "About ocumbra");
    const std::string& text = shown[1];
    EXPECT_EQ(text.rfind(std::string("ocumbra ") + OCU_VERSION + "\n", 0), 0u) << text;
    // Every sample file (by name, or its folder) with its licence line.
    for (const auto& e : fs::directory_iterator(std::string(OCU_SOURCE_DIR) + "/data")) {
        const std::string name = e.path().filename().string() + (e.is_directory() ? "/" : "");
        if (name == "README.md") continue;
        const auto at = text.find(name);
        ASSERT_NE(at, std::string::npos) << name << " is not in the About text:\n" << text;
        const std::string line = text.substr(at, text.find('\n', at) - at);
        EXPECT_TRUE(line.find("CC0") != std::string::npos || line.find("public domain") != std::string::npos)
            << line;
    }
    // The full terms are where it says.
    const std::string copyright = program_doc_dir() + "copyright";
    EXPECT_NE(text.find(copyright), std::string::npos);
    EXPECT_TRUE(fs::exists(copyright)) << copyright;
}

TEST_F(Started, UserGuideOpensTheLocalPageOrSaysWhyNot) {
    std::vector<std::string> opened;
    bool can_show = true;
    set_help_viewer({{}, [&](const std::string& file) {
                         opened.push_back(file);
                         return can_show;
                     }});
    start_with({});
    const std::string page = program_doc_dir() + "user-guide.html";
    EXPECT_EQ(user_guide_file(), page);
    trigger("userguide_menu");
    if (!OCU_DOCS) {  // built without the user guide
        EXPECT_TRUE(opened.empty());
        ASSERT_EQ(fake_->errors.size(), 1u);
        EXPECT_EQ(fake_->errors[0].rfind("The user guide " + page + " is missing", 0), 0u)
            << fake_->errors[0];
        return;
    }
    EXPECT_TRUE(fake_->errors.empty());
    ASSERT_EQ(opened, std::vector<std::string>{page});
    // The README's sections are in it.
    const std::string html = slurp(page);
    for (const char* heading : {"The three simulations", "Batch tool", "Polar plots of the visual field"})
        EXPECT_NE(html.find(heading), std::string::npos) << heading;

    can_show = false;
    trigger("userguide_menu");
    ASSERT_EQ(fake_->errors.size(), 1u);
    EXPECT_EQ(fake_->errors[0],
              "Cannot show the user guide " + page + ": no program to open web pages was found.");
}

}  // namespace
}  // namespace ocu::app
