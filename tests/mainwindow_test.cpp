// The main window `ocumbra` on the offscreen platform: start-up, re-use,
// callback dispatch, the file commands and the status line.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>

#include "app/ocumbra.hpp"
#include "app/status.hpp"
#include "tests/window_testing.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/gui/platform.hpp"
#include "toolkit/imageio.hpp"

namespace ocu::app {
namespace {

using gui::Handle;
using gui::Value;
using test::chosen;
using test::FakePlatform;

const std::string kSource = OCUMBRA_SOURCE_DIR;

void close_all_windows() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (gui::figure_of(Handle(w)) == w) gui::delete_object(Handle(w));
    }
    test::settle();
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        test::ensure_app();
        close_all_windows();
        auto fake = std::make_unique<FakePlatform>();
        fake_ = fake.get();
        gui::set_platform(std::move(fake));
        ASSERT_TRUE(tmp_.isValid());
        testing::internal::CaptureStdout();
        gui::Results r = ocumbra({}, 1);
        stdout_ = testing::internal::GetCapturedStdout();
        ASSERT_EQ(r.size(), 1u);
        fig_ = gui::handle(r[0]);
        ASSERT_TRUE(gui::is_valid(fig_));
    }
    void TearDown() override {
        close_all_windows();
        gui::set_platform(nullptr);
    }

    OcumbraState state() const { return *gui::guidata<OcumbraState>(fig_); }
    // Stores the record as the commands do (the menus follow it).
    void store(const OcumbraState& s) { store_state(fig_, s); }
    QAction* action(const std::string& tag) const {
        return qobject_cast<QAction*>(state().controls(tag).data());
    }
    gui::ImageArea* area() const { return gui::image_area(state()[tag::axes1]); }
    std::string tmp(const std::string& name = "") const { return tmp_.path().toStdString() + "/" + name; }
    // Runs a command through its menu item, as a click on it does.
    void trigger(const std::string& tag) {
        QAction* a = action(tag);
        ASSERT_NE(a, nullptr) << tag;
        a->trigger();
        test::settle();
    }

    FakePlatform* fake_ = nullptr;
    Handle fig_;
    std::string stdout_;
    QTemporaryDir tmp_;
};

AnyImage default_image() { return imread("NatIm13.jpg"); }

ArrayU8 small_gray(std::uint8_t v) { return ArrayU8(3, 4, 1, v); }

// The colour of the shown picture at pixel (row, column), 0-based.
QRgb shown(const gui::ImageArea* a, int r, int c) { return a->picture().pixel(c, r) & 0xFFFFFF; }

TEST_F(MainWindow, StartUpShowsDefaultImageWithDefaults) {
    EXPECT_EQ(stdout_, "Ocumbra opstarten...\n");
    EXPECT_TRUE(gui::is_visible(fig_));
    const OcumbraState s = state();
    EXPECT_EQ(s.output.data(), fig_.data());
    EXPECT_EQ(s.prepfixdep, 0);
    EXPECT_EQ(s.prepglare, 0);
    EXPECT_EQ(s.powcam, 2);
    EXPECT_EQ(s.powmon, 2);
    EXPECT_EQ(s.prevtrans, Transform::None);
    EXPECT_EQ(s.width, 20);
    EXPECT_EQ(s.mar, 1);
    EXPECT_EQ(s.glarefact, 1);
    EXPECT_EQ(s.contrastf, 1);
    EXPECT_EQ(s.filename, "NatIm13.jpg");
    EXPECT_EQ(s.pathname, "");
    EXPECT_EQ(s.fixactive, 0);
    EXPECT_FALSE(s.polim.has_value());
    EXPECT_FALSE(s.restot.has_value());
    const AnyImage im = default_image();
    EXPECT_TRUE(s.im == im);
    EXPECT_TRUE(s.imt == im);
    // Shown at full colour in the image area, row 1 at the top.
    const auto& a = std::get<ArrayU8>(im);
    ASSERT_EQ(area()->image_rows(), a.rows());
    ASSERT_EQ(area()->image_cols(), a.cols());
    EXPECT_EQ(shown(area(), 0, 0), qRgb(a(0, 0, 0), a(0, 0, 1), a(0, 0, 2)) & 0xFFFFFF);
    EXPECT_EQ(shown(area(), 399, 599), qRgb(a(399, 599, 0), a(399, 599, 1), a(399, 599, 2)) & 0xFFFFFF);
    EXPECT_EQ(gui::get_callback(s[tag::axes1], "ButtonDownFcn"),
              "ocumbra('axes1_ButtonDownFcn',gcbo,[],guidata(gcbo))");
}

TEST_F(MainWindow, EveryControlTagIsPresent) {
    const OcumbraState s = state();
    for (const char* tag : {"figure1", "axes1", "statustext", "popupmenu1", "FileMenu", "OpenMenuItem", "Save_as",
                            "Save_resmap", "PrintMenuItem", "CloseMenuItem", "original_menu", "transformed_menu",
                            "transform", "fixindep", "fixdep", "glare"}) {
        EXPECT_TRUE(s.controls.has(tag)) << tag;
    }
    EXPECT_EQ(s[tag::figure1].data(), fig_.data());
    EXPECT_NE(qobject_cast<QLabel*>(s[tag::statustext].data()), nullptr);
    for (const char* tag : {"OpenMenuItem", "Save_as", "Save_resmap", "PrintMenuItem", "CloseMenuItem",
                            "original_menu", "transformed_menu", "fixindep", "fixdep", "glare"}) {
        EXPECT_EQ(gui::get_callback(s.controls(tag), "Callback"),
                  std::string("ocumbra('") + tag + "_Callback',gcbo,[],guidata(gcbo))")
            << tag;
    }
    EXPECT_EQ(gui::get_callback(s[tag::figure1], "WindowButtonDownFcn"),
              "ocumbra('figure1_WindowButtonDownFcn',gcbo,[],guidata(gcbo))");
}

TEST_F(MainWindow, SelectionListHasSixEntriesAndChoosingChangesNothing) {
    const OcumbraState before = state();
    EXPECT_EQ(gui::get_string_list(before[tag::popupmenu1]),
              (std::vector<std::string>{"plot(rand(5))", "plot(sin(1:0.01:25))", "comet(cos(1:.01:10))",
                                        "bar(1:10)", "plot(membrane)", "surf(peaks)"}));
    auto* combo = qobject_cast<QComboBox*>(before[tag::popupmenu1].data());
    combo->setCurrentIndex(4);
    emit combo->activated(4);
    const OcumbraState after = state();
    EXPECT_TRUE(after.im == before.im);
    EXPECT_EQ(after.width, before.width);
    EXPECT_TRUE(fake_->errors.empty());
}

TEST_F(MainWindow, InvokingAgainReusesWindowAndResetsParametersOnly) {
    OcumbraState s = state();
    s.width = 45;
    s.mar = 0.3;
    s.glarefact = 7;
    s.contrastf = 3;
    s.prevtrans = Transform::Fixdep;
    s.fixactive = 1;
    s.filename = "other.bmp";
    s.pathname = "/somewhere/";
    s.im = AnyImage(small_gray(9));
    s.imt = AnyImage(small_gray(50));
    store(s);
    gui::imshow(s[tag::axes1], s.imt);

    testing::internal::CaptureStdout();
    gui::Results r = ocumbra({}, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Ocumbra opstarten...\n");
    EXPECT_EQ(gui::handle(r.at(0)).data(), fig_.data());
    const OcumbraState t = state();
    EXPECT_EQ(t.width, 20);
    EXPECT_EQ(t.mar, 1);
    EXPECT_EQ(t.glarefact, 1);
    EXPECT_EQ(t.contrastf, 1);
    EXPECT_EQ(t.prevtrans, Transform::None);
    EXPECT_EQ(t.fixactive, 0);
    EXPECT_EQ(t.filename, "NatIm13.jpg");
    EXPECT_EQ(t.pathname, "");
    EXPECT_TRUE(t.im == AnyImage(small_gray(9)));
    EXPECT_TRUE(t.imt == AnyImage(small_gray(50)));
    EXPECT_EQ(area()->image_rows(), 3u);  // the display stays as it was
    int windows = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) windows += (gui::figure_of(Handle(w)) == w);
    EXPECT_EQ(windows, 1);
}

TEST_F(MainWindow, CallbackByNameRunsLikeItsControl) {
    OcumbraState s = state();
    s.fixactive = 1;
    s.imt = AnyImage(small_gray(200));
    store(s);
    ocumbra({Value(std::string("transformed_menu_Callback")), Value(s[tag::transformed_menu]),
             Value(gui::Empty{}), Value(gui::guidata(fig_))},
            0);
    EXPECT_EQ(state().fixactive, 0);
    EXPECT_EQ(area()->image_rows(), 3u);
    EXPECT_EQ(shown(area(), 0, 0), qRgb(200, 200, 200) & 0xFFFFFF);
}

TEST_F(MainWindow, CallbackCalledWithTooManyArgumentsFails) {
    const OcumbraState s = state();
    const int line = test::line_of(kSource + "/app/file_commands.cpp", "void OpenMenuItem_Callback(");
    ASSERT_GT(line, 0);
    const std::string head = "Run-time Error: File: ocumbra/OpenMenuItem_Callback Line: " + std::to_string(line) +
                             " Column: 1 The function \"ocumbra/OpenMenuItem_Callback\" was called with more than "
                             "the declared number of ";
    const gui::Args args{Value(std::string("OpenMenuItem_Callback")), Value(s[tag::OpenMenuItem]),
                         Value(gui::Empty{}), Value(gui::guidata(fig_)), Value(1.0)};
    try {
        ocumbra(args, 0);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), head + "inputs (3).");
    }
    try {
        ocumbra(gui::Args(args.begin(), args.end() - 1), 1);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), head + "outputs (0).");
    }
    EXPECT_TRUE(fake_->choosers.empty());  // the command never ran
    // The window function's own opening step declares no outputs beyond its record either.
    const int oline = test::line_of(kSource + "/app/ocumbra.cpp", "void ocumbra_OpeningFcn(");
    try {
        ocumbra({Value(std::string("ocumbra_OpeningFcn")), Value(fig_), Value(gui::Empty{}), Value(gui::guidata(fig_))},
                1);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Run-time Error: File: ocumbra/ocumbra_OpeningFcn Line: " + std::to_string(oline) +
                      " Column: 1 The function \"ocumbra/ocumbra_OpeningFcn\" was called with more than the "
                      "declared number of outputs (0).");
    }
}

TEST_F(MainWindow, OpenReadsChosenFileAndKeepsResult) {
    std::filesystem::copy_file("chelsea.jpg", tmp("cat.jpg"));
    OcumbraState s = state();
    s.fixactive = 1;
    store(s);
    fake_->file_replies.push_back(chosen(tmp(), "cat.jpg"));
    trigger("OpenMenuItem");
    ASSERT_EQ(fake_->choosers.size(), 1u);
    EXPECT_EQ(fake_->choosers[0].kind, "get");
    EXPECT_EQ(fake_->choosers[0].arg, "*.bmp;*.tif;*.jpg;*.jpeg;*.tiff;*.png");
    EXPECT_EQ(fake_->choosers[0].title, "image files (*.bmp,*.tif,*.jpg)");
    EXPECT_TRUE(fake_->errors.empty());
    const OcumbraState t = state();
    EXPECT_TRUE(t.im == imread(tmp("cat.jpg")));
    EXPECT_TRUE(t.imt == default_image());  // the previous result stays
    EXPECT_EQ(t.filename, "cat.jpg");
    EXPECT_EQ(t.pathname, tmp());
    EXPECT_EQ(t.prevtrans, Transform::None);
    EXPECT_EQ(t.fixactive, 1);  // not changed by opening
    EXPECT_EQ(area()->image_rows(), 300u);
    EXPECT_EQ(area()->image_cols(), 451u);
}

TEST_F(MainWindow, CancelledOpenChangesNothing) {
    OcumbraState s = state();
    s.prevtrans = Transform::Glare;
    store(s);
    fake_->file_replies.push_back({});  // cancelled
    trigger("OpenMenuItem");
    const OcumbraState t = state();
    EXPECT_EQ(t.prevtrans, Transform::Glare);
    EXPECT_EQ(t.filename, "NatIm13.jpg");
    EXPECT_TRUE(t.im == default_image());
    EXPECT_EQ(area()->image_rows(), 400u);
    EXPECT_TRUE(fake_->errors.empty());
}

TEST_F(MainWindow, FailedOpenIsReportedAndLeavesStateAndDisplay) {
    std::ofstream(tmp("broken.jpg"), std::ios::binary) << "\xFF\xD8\xFF\xE0 not really a jpeg";
    std::ofstream(tmp("notes.bmp")) << "plain text";
    for (const std::string name : {"broken.jpg", "notes.bmp", "missing.tif"}) {
        fake_->errors.clear();
        fake_->file_replies.push_back(chosen(tmp(), name));
        trigger("OpenMenuItem");
        ASSERT_EQ(fake_->errors.size(), 1u) << name;
        if (name == "missing.tif") {
            EXPECT_EQ(fake_->errors[0], "File \"" + tmp(name) + "\" does not exist.");
        }
        const OcumbraState t = state();
        EXPECT_EQ(t.filename, "NatIm13.jpg") << name;
        EXPECT_EQ(t.pathname, "") << name;
        EXPECT_EQ(t.prevtrans, Transform::None) << name;
        EXPECT_TRUE(t.im == default_image()) << name;
        EXPECT_EQ(area()->image_rows(), 400u) << name;
        EXPECT_TRUE(gui::is_valid(fig_));
    }
}

TEST_F(MainWindow, SaveResultProposesTPlusFileNameAndWritesImtUnchanged) {
    fake_->file_replies.push_back(chosen(tmp(), "out.bmp"));
    trigger("Save_as");
    ASSERT_EQ(fake_->choosers.size(), 1u);
    EXPECT_EQ(fake_->choosers[0].kind, "put");
    EXPECT_EQ(fake_->choosers[0].arg, "TNatIm13.jpg");
    EXPECT_EQ(fake_->choosers[0].title, "Save transformed image");
    EXPECT_TRUE(fake_->errors.empty());
    EXPECT_TRUE(imread(tmp("out.bmp")) == default_image());

}

TEST_F(MainWindow, AfterOpeningAnImageSaveAndTheResultViewSayThereIsNoResultYet) {
    // The previous result belongs to the previous image: it is not saved
    // under the new image's name, nor shown as the new image's result.
    std::filesystem::copy_file("chelsea.jpg", tmp("cat.jpg"));
    fake_->file_replies.push_back(chosen(tmp(), "cat.jpg"));
    trigger("OpenMenuItem");
    fake_->file_replies.push_back(chosen(tmp(), "second.bmp"));
    trigger("Save_as");
    trigger("transformed_menu");
    ASSERT_EQ(fake_->errors.size(), 2u);
    EXPECT_EQ(fake_->errors[0],
              "There is no result for this image yet: choose a simulation from the Transform menu first.");
    EXPECT_EQ(fake_->errors[1], fake_->errors[0]);
    EXPECT_EQ(fake_->choosers.size(), 1u) << "no save chooser";
    EXPECT_FALSE(std::filesystem::exists(tmp("second.bmp")));
    EXPECT_EQ(area()->image_cols(), 451u) << "the opened image stays shown";
    // A result of the opened image is saved under its name.
    OcumbraState s = state();
    s.imt = AnyImage(small_gray(77));
    s.imt_for_im = true;
    store(s);
    fake_->file_replies = {chosen(tmp(), "third.bmp")};
    trigger("Save_as");
    ASSERT_EQ(fake_->choosers.size(), 2u);
    EXPECT_EQ(fake_->choosers[1].arg, tmp("Tcat.jpg"));
    EXPECT_TRUE(imread(tmp("third.bmp")) == AnyImage(small_gray(77)));
}

TEST_F(MainWindow, SaveResultWritesDoubleResultScaledByTheWriter) {
    OcumbraState s = state();
    s.imt = AnyImage(ArrayD(1, 3, 1, std::vector<double>{0, 0.5, 1}));
    store(s);
    fake_->file_replies.push_back(chosen(tmp(), "d.bmp"));
    trigger("Save_as");
    const AnyImage back = imread(tmp("d.bmp"));
    ASSERT_TRUE(std::holds_alternative<ArrayU8>(back));
    const auto& b = std::get<ArrayU8>(back);
    ASSERT_EQ(b.numel(), 3u);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[1], 128);  // 127.5 rounds up
    EXPECT_EQ(b[2], 255);
}

TEST_F(MainWindow, CancelledOrFailingSaveWritesNothingAndKeepsState) {
    fake_->file_replies.push_back({});
    trigger("Save_as");
    EXPECT_TRUE(QDir(tmp_.path()).isEmpty());
    EXPECT_TRUE(fake_->errors.empty());
    // A folder that does not exist: the writer's error is shown.
    fake_->file_replies.push_back(chosen(tmp("nofolder/"), "x.bmp"));
    trigger("Save_as");
    EXPECT_EQ(fake_->errors.size(), 1u);
    EXPECT_TRUE(state().imt == default_image());
    EXPECT_TRUE(gui::is_valid(fig_));
}

TEST_F(MainWindow, SaveResmapOnlyInFixationMode) {
    OcumbraState s = state();
    s.restot = ArrayD(2, 2, 1, std::vector<double>{0, 0.5, 1, 0.25});
    store(s);
    trigger("Save_resmap");  // fixactive 0: nothing
    EXPECT_TRUE(fake_->choosers.empty());
    EXPECT_TRUE(fake_->errors.empty());

    s.fixactive = 1;
    s.pathname = tmp();
    store(s);
    fake_->file_replies.push_back({});  // cancelled
    trigger("Save_resmap");
    ASSERT_EQ(fake_->choosers.size(), 1u);
    EXPECT_EQ(fake_->choosers[0].arg, tmp("res*.bmp"));
    EXPECT_EQ(fake_->choosers[0].title, "Save resmap");
    EXPECT_TRUE(QDir(tmp_.path()).isEmpty());

    fake_->file_replies.push_back(chosen(tmp(), "resmap1.bmp"));
    trigger("Save_resmap");
    const AnyImage back = imread(tmp("resmap1.bmp"));
    ASSERT_TRUE(std::holds_alternative<ArrayU8>(back));
    const auto& b = std::get<ArrayU8>(back);
    ASSERT_EQ(b.rows(), 2u);
    ASSERT_EQ(b.cols(), 2u);
    EXPECT_EQ(b(0, 0), 0);
    EXPECT_EQ(b(1, 0), 128);
    EXPECT_EQ(b(0, 1), 255);
    EXPECT_EQ(b(1, 1), 64);  // 63.75 -> 64

    // After a view command the map cannot be saved until the next fixation-dependent run.
    trigger("original_menu");
    trigger("Save_resmap");
    EXPECT_EQ(fake_->choosers.size(), 2u);
}

TEST_F(MainWindow, PrintOpensPrintDialogForMainWindow) {
    trigger("PrintMenuItem");
    ASSERT_EQ(fake_->printed.size(), 1u);
    EXPECT_EQ(fake_->printed[0].data(), fig_.data());
}

TEST_F(MainWindow, PrintingToPdfWritesADocument) {
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(tmp("window.pdf")));
    gui::print_window(fig_, printer);
    std::ifstream in(tmp("window.pdf"), std::ios::binary);
    std::string head(5, '\0');
    in.read(head.data(), 5);
    EXPECT_EQ(head, "%PDF-");
    EXPECT_GT(std::filesystem::file_size(tmp("window.pdf")), 2000u);
}

TEST_F(MainWindow, CloseAsksAndNoKeepsTheWindow) {
    fake_->answers.push_back("No");
    trigger("CloseMenuItem");
    ASSERT_EQ(fake_->questions.size(), 1u);
    EXPECT_EQ(fake_->questions[0].text, "Close ocumbra?");
    EXPECT_EQ(fake_->questions[0].title, "Close ocumbra...");
    EXPECT_EQ(fake_->questions[0].buttons, (std::vector<std::string>{"Yes", "No"}));
    EXPECT_EQ(fake_->questions[0].default_button, "Yes");
    EXPECT_TRUE(gui::is_valid(fig_));
    EXPECT_TRUE(gui::is_visible(fig_));
}

TEST_F(MainWindow, CloseAnsweredYesDeletesTheWindow) {
    fake_->answers.push_back("Yes");
    trigger("CloseMenuItem");
    EXPECT_FALSE(gui::is_valid(fig_));
    test::settle();
    EXPECT_TRUE(fig_.isNull());
}

TEST_F(MainWindow, CloseWithQuestionDismissedDeletesTheWindow) {
    // No answer prepared: the question was closed without a choice.
    trigger("CloseMenuItem");
    EXPECT_FALSE(gui::is_valid(fig_));
}

TEST_F(MainWindow, ViewsShowSourceOrResultAndLeaveFixationMode) {
    OcumbraState s = state();
    s.fixactive = 1;
    s.im = AnyImage(small_gray(10));
    s.imt = AnyImage(ArrayD(5, 6, 1, 1.0));
    store(s);
    trigger("transformed_menu");
    EXPECT_EQ(state().fixactive, 0);
    EXPECT_EQ(area()->image_rows(), 5u);
    EXPECT_EQ(shown(area(), 0, 0), qRgb(255, 255, 255) & 0xFFFFFF);

    s.fixactive = 1;
    store(s);
    trigger("original_menu");
    EXPECT_EQ(state().fixactive, 0);
    EXPECT_EQ(area()->image_rows(), 3u);
    EXPECT_EQ(shown(area(), 0, 0), qRgb(10, 10, 10) & 0xFFFFFF);
}

TEST_F(MainWindow, StatusLineShowsBusyTextThenRestores) {
    const Handle status = state()[tag::statustext];
    gui::set_string(status, "STATUS: idle");
    {
        BusyStatus busy(status);
        EXPECT_EQ(gui::get_string(status), "STATUS: resultaat berekenen...");
        // Colours are kept at the screen's precision (8 bits per component).
        const gui::Rgb c = gui::get_foreground(status);
        EXPECT_NEAR(c.r, 0.8, 1.0 / 510);
        EXPECT_EQ(c.g, 0);
        EXPECT_EQ(c.b, 0);
        EXPECT_EQ(fake_->flushes, 1);
        busy.done();
    }
    EXPECT_EQ(gui::get_string(status), "STATUS: idle");
    EXPECT_EQ(gui::get_foreground(status), (gui::Rgb{0, 0, 0}));
    // A computation that fails gets the line back too.
    try {
        BusyStatus busy(status);
        throw Error("failed");
    } catch (const Error&) {
    }
    EXPECT_EQ(gui::get_string(status), "STATUS: idle");
}

TEST_F(MainWindow, ClickOnImageAreaHasNoVisibleEffect) {
    const OcumbraState before = state();
    QTest::mouseClick(area(), Qt::LeftButton, {}, QPoint(20, 20));
    test::settle();
    EXPECT_TRUE(fake_->errors.empty());
    const OcumbraState after = state();
    EXPECT_EQ(after.fixactive, 0);
    EXPECT_TRUE(after.imt == before.imt);
    EXPECT_EQ(area()->image_rows(), 400u);
    // sysbeep takes up to two arguments.
    sysbeep({Value(1.0), Value(2.0)});
    EXPECT_THROW(sysbeep({Value(1.0), Value(2.0), Value(3.0)}), Error);
}

TEST_F(MainWindow, DefaultImageFoundInProgramFolderFromAnotherWorkingFolder) {
    close_all_windows();
    const QString old = QDir::currentPath();
    QDir::setCurrent(tmp_.path());
    testing::internal::CaptureStdout();
    gui::Results r = ocumbra({}, 1);
    testing::internal::GetCapturedStdout();
    QDir::setCurrent(old);
    fig_ = gui::handle(r.at(0));
    EXPECT_TRUE(state().im == default_image());
    EXPECT_EQ(area()->image_rows(), 400u);
}

TEST_F(MainWindow, TheImageAreaGrowsWithTheWindowAndZoomsFromTheViewMenu) {
    QWidget* fig = gui::figure_of(fig_);
    EXPECT_EQ(fig->size(), QSize(700, 560)) << "the layout's size by default";
    gui::ImageArea* a = area();
    ASSERT_NE(a, nullptr);
    const QSize before = a->size();
    const double fit_before = a->scale();
    fig->resize(1100, 860);
    QApplication::processEvents();
    EXPECT_EQ(a->width(), before.width() + 400);
    EXPECT_EQ(a->height(), before.height() + 300);
    EXPECT_GT(a->scale(), fit_before) << "the photo fits the larger area";
    // The image (600 x 400) fits: the smaller of the two ratios.
    const double fit = std::min(a->width() / 600.0, a->height() / 400.0);
    EXPECT_DOUBLE_EQ(a->scale(), fit);

    auto trigger = [&](const char* name, const QKeySequence& keys) {
        auto* entry = fig->findChild<QAction*>(name);
        ASSERT_NE(entry, nullptr) << name;
        EXPECT_EQ(entry->shortcut(), keys) << name;
        EXPECT_EQ(gui::get_callback(Handle(entry), "Callback"),
                  std::string("ocumbra('") + name + "_Callback',gcbo,[],guidata(gcbo))");
        entry->trigger();
    };
    trigger("actualpixels_menu", QKeySequence("Ctrl+1"));
    EXPECT_EQ(a->zoom_mode(), gui::ZoomMode::Fixed);
    EXPECT_DOUBLE_EQ(a->scale(), 1.0);
    trigger("fittowindow_menu", QKeySequence("Ctrl+0"));
    EXPECT_EQ(a->zoom_mode(), gui::ZoomMode::Fit);
    EXPECT_DOUBLE_EQ(a->scale(), fit);
    fig->resize(700, 560);
    QApplication::processEvents();
}

}  // namespace
}  // namespace ocu::app
