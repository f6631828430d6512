// The visual-field dialog's perimetry import and plot saving, driven as a
// person drives them: the plot shown and returned is the field library's
// plot of the file (one eye, or both after a second import of the other
// eye), a file that cannot be used changes nothing, and the saved plot is
// the one shown.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QPushButton>

#include <fstream>
#include <string>
#include <vector>

#include "cli_testutil.hpp"
#include "dialogs/dialogs.hpp"
#include "dialogs_testutil.hpp"
#include "field/field.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

using namespace ocu;
using namespace ocu::testing;

namespace {

const auto* const qt_env = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void trigger(QWidget* fig, const char* action) {
    auto* a = fig->findChild<QAction*>(action);
    ASSERT_NE(a, nullptr) << action;
    a->trigger();
}

void ok(QWidget* fig) { QTest::mouseClick(fig->findChild<QPushButton*>("pushbutton_fixdepparms"), Qt::LeftButton); }

const std::string kFields = program_data_dir() + "fields/";

// What the dialog shows: its plot image and the plot's name.
struct Shown {
    QImage picture;
    std::string name;
};
Shown shown(QWidget* fig) {
    for (QWidget* w : fig->findChildren<QWidget*>()) {
        if (auto* a = gui::image_area(gui::Handle(w))) {
            return {a->picture(), fig->findChild<QLabel*>("text_polarfln")->text().toStdString()};
        }
    }
    return {};
}

AnyImage plot_of(const std::string& file, std::optional<field::Eye> eye = {}) {
    field::PlotOptions opts;
    opts.eye = eye;
    return AnyImage(field::polar_plot(field::read_measurement(kFields + file), opts).image);
}

}  // namespace

TEST(FieldDialog, ImportShowsAndReturnsThePlotOfTheFile) {
    FakePlatformScope fake;
    fake->file_replies = {{"glaucoma_early_24-2_OD.csv", kFields, false}};
    Shown s;
    WhenOpen w("fixdepparms", [&](QWidget* fig) {
        trigger(fig, "ImportMenuItem");
        s = shown(fig);
        ok(fig);
    });
    const dlg::FixdepValues v = dlg::fixdepparms(20, 1);
    ASSERT_TRUE(fake->errors.empty()) << fake->errors[0];
    const AnyImage expected = plot_of("glaucoma_early_24-2_OD.csv");
    EXPECT_TRUE(v.polarim == expected);
    EXPECT_EQ(s.picture, gui::to_qimage(expected));
    EXPECT_EQ(s.name, "glaucoma_early_24-2_OD.csv");
    EXPECT_EQ(v.source.file, kFields + "glaucoma_early_24-2_OD.csv");
    EXPECT_EQ(v.source.eye, field::Eye::OD);
    ASSERT_EQ(fake->choosers.size(), 1u);
    EXPECT_EQ(fake->choosers[0].arg, "*.csv;*.json;*.dcm");
    EXPECT_TRUE(fake->questions.empty()) << "the file names its eye";
}

TEST(FieldDialog, TheOtherEyeOffersTheBinocularField) {
    const std::string od = "hemianopia_right_24-2_OD.csv", os = "hemianopia_right_24-2_OS.dcm";
    const AnyImage both(field::binocular_polar_plot(field::read_measurement(kFields + od),
                                                    field::read_measurement(kFields + os))
                            .image);
    for (const char* answer : {"Both eyes", "This eye only"}) {
        FakePlatformScope fake;
        fake->file_replies = {{od, kFields, false}, {os, kFields, false}};
        fake->answers = {answer};
        Shown s;
        WhenOpen w("fixdepparms", [&](QWidget* fig) {
            trigger(fig, "ImportMenuItem");
            trigger(fig, "ImportMenuItem");
            s = shown(fig);
            ok(fig);
        });
        const dlg::FixdepValues v = dlg::fixdepparms(20, 1);
        ASSERT_TRUE(fake->errors.empty()) << fake->errors[0];
        ASSERT_EQ(fake->questions.size(), 1u);
        EXPECT_EQ(fake->questions[0].buttons, (std::vector<std::string>{"Both eyes", "This eye only"}));
        const bool binocular = std::string(answer) == "Both eyes";
        const AnyImage expected = binocular ? both : plot_of(os);
        EXPECT_TRUE(v.polarim == expected) << answer;
        EXPECT_EQ(s.picture, gui::to_qimage(expected));
        EXPECT_EQ(v.source.file, kFields + (binocular ? od : os));
        EXPECT_EQ(v.source.other_eye, binocular ? kFields + os : std::string());
    }
}

TEST(FieldDialog, AFileThatNamesNoEyeAsksForIt) {
    const std::string file = "macular_degeneration_10-2_OD.csv";  // names no eye
    FakePlatformScope fake;
    fake->file_replies = {{file, kFields, false}, {file, kFields, false}};
    fake->answers = {"", "Left eye (OS)"};  // closed, then the left eye
    std::string name_after_closed;
    WhenOpen w("fixdepparms", [&](QWidget* fig) {
        trigger(fig, "ImportMenuItem");
        name_after_closed = shown(fig).name;
        trigger(fig, "ImportMenuItem");
        ok(fig);
    });
    const dlg::FixdepValues v = dlg::fixdepparms(20, 1);
    EXPECT_EQ(name_after_closed, "polarplotREmd.bmp") << "the closed question changed nothing";
    EXPECT_TRUE(v.polarim == plot_of(file, field::Eye::OS));
    EXPECT_FALSE(v.polarim == plot_of(file, field::Eye::OD)) << "the blind spot lies on the left";
    EXPECT_EQ(v.source.eye, field::Eye::OS);
}

TEST(FieldDialog, ABrokenFileIsRefusedAndTheDialogKeepsItsValues) {
    testutil::TempDir dir;
    const std::string folder = dir.path() + "/";
    std::ofstream(folder + "two_points.csv") << "x_deg,y_deg,td_db\n3,3,-2\n9,3,-4\n";
    std::ofstream(folder + "words.csv") << "x_deg,y_deg,td_db\n3,3,-2\n9,3,low\n3,9,0\n";
    FakePlatformScope fake;
    fake->file_replies = {{"two_points.csv", folder, false}, {"words.csv", folder, false}, {"none.dcm", folder, false}};
    Shown before, after;
    QString mar;
    WhenOpen w("fixdepparms", [&](QWidget* fig) {
        type_into(fig, "edit_mar", "20/40");
        before = shown(fig);
        for (int i = 0; i < 3; ++i) trigger(fig, "ImportMenuItem");
        after = shown(fig);
        mar = field_text(fig, "edit_mar");
        ok(fig);
    });
    const dlg::FixdepValues v = dlg::fixdepparms(20, 1);
    ASSERT_EQ(fake->errors.size(), 3u);
    EXPECT_NE(fake->errors[0].find("two_points.csv"), std::string::npos) << fake->errors[0];
    EXPECT_NE(fake->errors[1].find("line 3"), std::string::npos) << fake->errors[1];
    EXPECT_NE(fake->errors[2].find("none.dcm"), std::string::npos) << fake->errors[2];
    EXPECT_EQ(after.name, before.name);
    EXPECT_EQ(after.picture, before.picture);
    EXPECT_EQ(mar, "20/40");
    EXPECT_EQ(v.mar, 0.5);
    EXPECT_TRUE(v.polarim == imread(program_data_dir() + "polarplotREmd.bmp"));
}

TEST(FieldDialog, SavePolarPlotWritesThePlotShown) {
    testutil::TempDir dir;
    FakePlatformScope fake;
    fake->file_replies = {{"retinitis_pigmentosa_10-2_OD.csv", kFields, false},
                          {"polarrp.bmp", dir.path() + "/", false}};
    WhenOpen w("fixdepparms", [&](QWidget* fig) {
        trigger(fig, "ImportMenuItem");
        trigger(fig, "SavePlotMenuItem");
        ok(fig);
    });
    const dlg::FixdepValues v = dlg::fixdepparms(20, 1);
    ASSERT_TRUE(fake->errors.empty()) << fake->errors[0];
    ASSERT_EQ(fake->choosers.size(), 2u);
    EXPECT_EQ(fake->choosers[1].kind, "put");
    EXPECT_EQ(fake->choosers[1].title, "Save polar plot");
    const AnyImage saved = imread(dir.file("polarrp.bmp"));
    EXPECT_TRUE(saved == plot_of("retinitis_pigmentosa_10-2_OD.csv"));
    EXPECT_TRUE(saved == v.polarim);
}
