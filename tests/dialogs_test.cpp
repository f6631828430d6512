// The three parameter dialogs driven as a person drives them, on the
// offscreen platform: values shown, typed values returned, text that is not a
// number, the glare slider's bands, the polar plot menu, and closing without
// OK.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "dialogs/dialogs.hpp"
#include "dialogs_testutil.hpp"
#include "testutil.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

using namespace ocu;
using namespace ocu::testing;

namespace {

const auto* const qt_env = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void click(QWidget* fig, const char* button) {
    auto* b = fig->findChild<QPushButton*>(button);
    ASSERT_NE(b, nullptr) << button;
    QTest::mouseClick(b, Qt::LeftButton);
}

void trigger(QWidget* fig, const char* action) {
    auto* a = fig->findChild<QAction*>(action);
    ASSERT_NE(a, nullptr) << action;
    a->trigger();
}

std::string label_text(QWidget* fig, const char* tag) {
    auto* l = fig->findChild<QLabel*>(tag);
    return l ? l->text().toStdString() : "<no label>";
}

// Moves the glare slider as a person does: its position in 0..1 is the
// slider's steps divided by their number.
void move_slider(QWidget* fig, double position) {
    auto* s = fig->findChild<QSlider*>("slider2");
    ASSERT_NE(s, nullptr);
    s->setValue(static_cast<int>(std::lround(position * s->maximum())));
}

using testutil::error_of;

// Runs `f` with the working folder changed to `dir`.
template <class F>
void in_folder(const QString& dir, F&& f) {
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir));
    f();
    QDir::setCurrent(old);
}

bool same_image(const AnyImage& a, const AnyImage& b) { return a == b; }

// The dialog's image area (the only one it has).
gui::ImageArea* plot_area(QWidget* fig) {
    for (QWidget* w : fig->findChildren<QWidget*>()) {
        if (auto* a = gui::image_area(gui::Handle(w))) return a;
    }
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// fixindepparms

TEST(FixindepParms, OkAtOnceReturnsTheValuesGiven) {
    WhenOpen w("fixindepparms", [](QWidget* fig) { click(fig, "pushbutton_fixparms"); });
    const auto v = dlg::fixindepparms(20, 1, 1);
    EXPECT_TRUE(w.ran());
    EXPECT_EQ(v.width, 20);
    EXPECT_EQ(v.mar, 1);
    EXPECT_EQ(v.contrastf, 1);
    EXPECT_EQ(visible_window("fixindepparms"), nullptr) << "the dialog is gone after OK";
}

TEST(FixindepParms, FieldsShowTheCallersValuesAndATypedAcuityIsReturned) {
    QString shown_width, shown_mar, shown_contrast;
    WhenOpen w("fixindepparms", [&](QWidget* fig) {
        shown_width = field_text(fig, "edit_width");
        shown_mar = field_text(fig, "edit_mar");
        shown_contrast = field_text(fig, "edit_contrastfactor");
        type_into(fig, "edit_mar", "0.25");
        click(fig, "pushbutton_fixparms");
    });
    const auto v = dlg::fixindepparms(30, 0.5, 2);
    EXPECT_EQ(shown_width, "30");
    EXPECT_EQ(shown_mar, "0.5");
    EXPECT_EQ(shown_contrast, "2");
    EXPECT_EQ(v.width, 30);
    EXPECT_EQ(v.mar, 0.25);
    EXPECT_EQ(v.contrastf, 2);
}

TEST(FixindepParms, EveryFieldTypedIsReturned) {
    WhenOpen w("fixindepparms", [&](QWidget* fig) {
        type_into(fig, "edit_width", "45");
        type_into(fig, "edit_mar", "1e-1");
        type_into(fig, "edit_contrastfactor", " 3 ");
        click(fig, "pushbutton_fixparms");
    });
    const auto v = dlg::fixindepparms(20, 1, 1);
    EXPECT_EQ(v.width, 45);
    EXPECT_EQ(v.mar, 0.1);
    EXPECT_EQ(v.contrastf, 3);
}

TEST(FixindepParms, ARefusedValueKeepsTheDialogOpenAsTypedAndSaysWhatWasTyped) {
    // What OK says about each text, worked out from the field's label, the
    // text and the rule the value breaks.
    const std::string width_rule = "enter a number of degrees greater than 0 and less than 180.";
    const std::pair<const char*, std::string> cases[] = {
        {"abc", "Image width (degrees): 'abc' is not a number; " + width_rule},
        {"0,5", "Image width (degrees): '0,5' is not a number; use a point as decimal separator."},
        {"", "Image width (degrees): the field is empty; " + width_rule},
        {"180", "Image width (degrees): '180' is out of range; " + width_rule},
        {"0x10", "Image width (degrees): '0x10' is not a number; " + width_rule}};
    for (const auto& c : cases) {
        const char* const bad = c.first;
        const std::string& message = c.second;
        FakePlatformScope fake;
        bool open_after_ok = false, focus_on_field = false;
        QString width_after, mar_after;
        WhenOpen w("fixindepparms", [&](QWidget* fig) {
            type_into(fig, "edit_mar", "0.3");
            type_into(fig, "edit_width", bad);
            click(fig, "pushbutton_fixparms");
            open_after_ok = fig->isVisible();
            focus_on_field = fig->focusWidget() == fig->findChild<QLineEdit*>("edit_width");
            width_after = field_text(fig, "edit_width");
            mar_after = field_text(fig, "edit_mar");
            type_into(fig, "edit_width", "25");
            click(fig, "pushbutton_fixparms");
        });
        const auto v = dlg::fixindepparms(20, 1, 1);
        ASSERT_EQ(fake->errors.size(), 1u) << "typed \"" << bad << "\"";
        EXPECT_EQ(fake->errors[0], message);
        EXPECT_TRUE(open_after_ok) << bad;
        EXPECT_TRUE(focus_on_field) << bad;
        EXPECT_EQ(width_after, bad);
        EXPECT_EQ(mar_after, "0.3");
        EXPECT_EQ(v.width, 25);
        EXPECT_EQ(v.mar, 0.3);
    }
}

TEST(FixindepParms, AcuityAndContrastAreNamedByTheirLabels) {
    FakePlatformScope fake;
    WhenOpen w("fixindepparms", [&](QWidget* fig) {
        type_into(fig, "edit_mar", "0,5");
        click(fig, "pushbutton_fixparms");
        type_into(fig, "edit_mar", "0.5");
        type_into(fig, "edit_contrastfactor", "-2");
        click(fig, "pushbutton_fixparms");
        type_into(fig, "edit_contrastfactor", "2");
        click(fig, "pushbutton_fixparms");
    });
    const auto v = dlg::fixindepparms(20, 1, 1);
    ASSERT_EQ(fake->errors.size(), 2u);
    EXPECT_EQ(fake->errors[0], "Visual acuity: '0,5' is not a number; use a point as decimal separator.");
    EXPECT_EQ(fake->errors[1],
              "Contrast factor: '-2' is out of range; enter a number greater than 0 (1 is normal contrast "
              "sensitivity).");
    EXPECT_EQ(v.mar, 0.5);
    EXPECT_EQ(v.contrastf, 2);
}

TEST(FixindepParms, AValueFromTheCallerThatIsNotANumberIsShownAndRefused) {
    FakePlatformScope fake;
    QString shown_width, shown_mar;
    WhenOpen w("fixindepparms", [&](QWidget* fig) {
        shown_width = field_text(fig, "edit_width");
        shown_mar = field_text(fig, "edit_mar");
        click(fig, "pushbutton_fixparms");
        type_into(fig, "edit_width", "20");
        click(fig, "pushbutton_fixparms");
    });
    const auto v = dlg::fixindepparms(std::nan(""), 0.125, 1);
    EXPECT_EQ(shown_width, "NaN");
    EXPECT_EQ(shown_mar, "0.125");
    ASSERT_EQ(fake->errors.size(), 1u);
    EXPECT_EQ(fake->errors[0].rfind("Image width (degrees): 'NaN' is not a number", 0), 0u) << fake->errors[0];
    EXPECT_EQ(v.width, 20);
    EXPECT_EQ(v.mar, 0.125);
}

TEST(FixindepParms, CurveListAndRadioButtonHaveNoEffect) {
    WhenOpen w("fixindepparms", [&](QWidget* fig) {
        auto* list = fig->findChild<QComboBox*>("csf_menu");
        auto* radio = fig->findChild<QRadioButton*>("radiobutton1");
        ASSERT_NE(list, nullptr);
        ASSERT_NE(radio, nullptr);
        QTest::mouseClick(radio, Qt::LeftButton);
        emit list->activated(0);
        click(fig, "pushbutton_fixparms");
    });
    const auto v = dlg::fixindepparms(25, 0.8, 1.5);
    EXPECT_EQ(v.width, 25);
    EXPECT_EQ(v.mar, 0.8);
    EXPECT_EQ(v.contrastf, 1.5);
}

TEST(FixindepParms, TooFewValuesIsAnIndexErrorAndTheNextCallStillWorks) {
    const std::string e = error_of([] { dlg::fixindepparms(gui::Args{20.0, 1.0}, 3); });
    EXPECT_NE(e.find("Index exceeds"), std::string::npos) << e;
    WhenOpen w("fixindepparms", [](QWidget* fig) { click(fig, "pushbutton_fixparms"); });
    const auto v = dlg::fixindepparms(22, 1, 1);
    EXPECT_EQ(v.width, 22);
}

TEST(FixindepParms, EditFieldsGetTheControlBackground) {
    gui::Rgb bg{-1, -1, -1};
    WhenOpen w("fixindepparms", [&](QWidget* fig) {
        bg = gui::get_background(gui::Handle(fig->findChild<QLineEdit*>("edit_mar")));
        click(fig, "pushbutton_fixparms");
    });
    dlg::fixindepparms(20, 1, 1);
    const gui::Rgb want = gui::default_uicontrol_background();
    EXPECT_NEAR(bg.r, want.r, 1.0 / 255);
    EXPECT_NEAR(bg.g, want.g, 1.0 / 255);
    EXPECT_NEAR(bg.b, want.b, 1.0 / 255);
}

TEST(FixindepParms, EveryCallStartsAgainFromTheCallersValues) {
    WhenOpen w1("fixindepparms", [](QWidget* fig) {
        type_into(fig, "edit_mar", "0.3");
        click(fig, "pushbutton_fixparms");
    });
    EXPECT_EQ(dlg::fixindepparms(20, 1, 1).mar, 0.3);
    QString shown;
    WhenOpen w2("fixindepparms", [&](QWidget* fig) {
        shown = field_text(fig, "edit_mar");
        click(fig, "pushbutton_fixparms");
    });
    EXPECT_EQ(dlg::fixindepparms(20, 0.7, 1).mar, 0.7);
    EXPECT_EQ(shown, "0.7");
}

// ---------------------------------------------------------------------------
// glareparms2

TEST(GlareParms, OkAtOnceReturnsTheValuesGivenWithTheSliderAtTheirPosition) {
    double position = -1;
    std::string shown;
    bool modal = false;
    WhenOpen w("glareparms2", [&](QWidget* fig) {
        position = gui::get_value(gui::Handle(fig->findChild<QSlider*>("slider2")));
        shown = label_text(fig, "text8");
        modal = fig->windowModality() == Qt::ApplicationModal;
        click(fig, "pushbutton_glareparms2");
    });
    const auto v = dlg::glareparms2(20, 1);
    EXPECT_EQ(position, 0.1);
    EXPECT_EQ(shown, "1");
    EXPECT_TRUE(modal) << "the glare dialog makes itself modal";
    EXPECT_EQ(v.width, 20);
    EXPECT_EQ(v.glarefact, 1);
}

TEST(GlareParms, FactorSevenStandsAtSevenTenths) {
    double position = -1;
    std::string shown, width;
    WhenOpen w("glareparms2", [&](QWidget* fig) {
        position = gui::get_value(gui::Handle(fig->findChild<QSlider*>("slider2")));
        shown = label_text(fig, "text8");
        width = field_text(fig, "edit_width").toStdString();
        click(fig, "pushbutton_glareparms2");
    });
    const auto v = dlg::glareparms2(20, 7);
    EXPECT_EQ(position, 0.7);
    EXPECT_EQ(shown, "7");
    EXPECT_EQ(width, "20");
    EXPECT_EQ(v.glarefact, 7);
}

TEST(GlareParms, SliderBands) {
    // position -> factor: 11 v - 0.501 rounded, at least 0
    const std::pair<double, double> cases[] = {{0.09, 0}, {0.0911, 1}, {1.0, 10}, {0.95, 10},
                                               {0.5, 5},  {0.0, 0},    {0.2, 2}};
    for (const auto& [pos, factor] : cases) {
        std::string shown;
        WhenOpen w("glareparms2", [&, pos = pos](QWidget* fig) {
            move_slider(fig, pos);
            shown = label_text(fig, "text8");
            click(fig, "pushbutton_glareparms2");
        });
        const auto v = dlg::glareparms2(20, 3);
        EXPECT_EQ(v.glarefact, factor) << "slider at " << pos;
        EXPECT_EQ(shown, std::to_string(static_cast<int>(factor))) << "slider at " << pos;
        EXPECT_EQ(v.width, 20);
    }
}

TEST(GlareParms, ArrowKeysStepOneFactor) {
    WhenOpen w("glareparms2", [&](QWidget* fig) {
        auto* s = fig->findChild<QSlider*>("slider2");
        s->setFocus();
        QTest::keyClick(s, Qt::Key_Right);
        QTest::keyClick(s, Qt::Key_Right);
        click(fig, "pushbutton_glareparms2");
    });
    EXPECT_EQ(dlg::glareparms2(20, 4).glarefact, 6);
}

TEST(GlareParms, FactorsOutsideZeroToTenAreClampedWithoutTouchingTheSlider) {
    const std::pair<double, double> cases[] = {{12.5, 10}, {15, 10}, {-3, 0}, {0.55, 0}};
    for (const auto& [given, returned] : cases) {
        double position = -1;
        std::string shown;
        WhenOpen w("glareparms2", [&](QWidget* fig) {
            position = gui::get_value(gui::Handle(fig->findChild<QSlider*>("slider2")));
            shown = label_text(fig, "text8");
            click(fig, "pushbutton_glareparms2");
        });
        EXPECT_EQ(dlg::glareparms2(20, given).glarefact, returned) << "given " << given;
        EXPECT_EQ(shown, std::to_string(static_cast<int>(returned)));
        if (given == 12.5) {
            EXPECT_EQ(position, 1.0);
        }
        if (given == -3) {
            EXPECT_EQ(position, 0.0);
        }
    }
}

TEST(GlareParms, WithoutArgumentsTheFactorIsOneUntilTheSliderMoves) {
    WhenOpen w1("glareparms2", [](QWidget* fig) {
        fig->findChild<QSlider*>("slider2")->blockSignals(true);
        move_slider(fig, 0.8);  // a layout position, not a move by the person
        fig->findChild<QSlider*>("slider2")->blockSignals(false);
        click(fig, "pushbutton_glareparms2");
    });
    gui::Results r = dlg::glareparms2(gui::Args{}, 2);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(gui::number(r[0]), 20);  // the layout's text
    EXPECT_EQ(gui::number(r[1]), 1);

    WhenOpen w2("glareparms2", [](QWidget* fig) {
        move_slider(fig, 0.5);
        click(fig, "pushbutton_glareparms2");
    });
    r = dlg::glareparms2(gui::Args{}, 2);
    EXPECT_EQ(gui::number(r[1]), 5);
}

TEST(GlareParms, AWidthThatIsNotANumberIsRefusedWithTheFactorKept) {
    FakePlatformScope fake;
    std::string factor_after;
    WhenOpen w("glareparms2", [&](QWidget* fig) {
        move_slider(fig, 0.5);
        type_into(fig, "edit_width", "wide");
        click(fig, "pushbutton_glareparms2");
        factor_after = label_text(fig, "text8");
        type_into(fig, "edit_width", "30");
        click(fig, "pushbutton_glareparms2");
    });
    const auto v = dlg::glareparms2(20, 2);
    ASSERT_EQ(fake->errors.size(), 1u);
    EXPECT_EQ(fake->errors[0],
              "Image width (degrees): 'wide' is not a number; enter a number of degrees greater than 0 and less "
              "than 180.");
    EXPECT_EQ(factor_after, "5");
    EXPECT_EQ(v.width, 30);
    EXPECT_EQ(v.glarefact, 5);
}

TEST(GlareParms, TheNumberFollowsTheSliderWhileItIsDragged) {
    std::vector<std::string> shown;
    WhenOpen w("glareparms2", [&](QWidget* fig) {
        auto* s = fig->findChild<QSlider*>("slider2");
        s->setSliderDown(true);  // held by the pointer
        for (double pos : {0.3, 0.6, 0.95}) {
            s->setSliderPosition(static_cast<int>(std::lround(pos * s->maximum())));
            shown.push_back(label_text(fig, "text8"));
        }
        s->setSliderDown(false);  // released
        click(fig, "pushbutton_glareparms2");
    });
    EXPECT_EQ(dlg::glareparms2(20, 1).glarefact, 10);
    // 11 v - 0.501 rounded: 2.799 -> 3, 6.099 -> 6, 9.949 -> 10.
    EXPECT_EQ(shown, (std::vector<std::string>{"3", "6", "10"}));
}

TEST(GlareParms, SliderBackgroundIsLightGrey) {
    gui::Rgb bg{};
    WhenOpen w("glareparms2", [&](QWidget* fig) {
        bg = gui::get_background(gui::Handle(fig->findChild<QSlider*>("slider2")));
        click(fig, "pushbutton_glareparms2");
    });
    dlg::glareparms2(20, 1);
    EXPECT_NEAR(bg.r, 0.9, 1.0 / 255);
    EXPECT_NEAR(bg.g, 0.9, 1.0 / 255);
    EXPECT_NEAR(bg.b, 0.9, 1.0 / 255);
}

// ---------------------------------------------------------------------------
// fixdepparms

namespace {
std::string bin_file(const std::string& name) { return program_data_dir() + name; }
}  // namespace

TEST(FixdepParms, OkAtOnceReturnsTheValuesAndTheDefaultPlotShown) {
    const AnyImage expected = imread(bin_file("polarplotREmd.bmp"));
    QImage shown;
    WhenOpen w("fixdepparms", [&](QWidget* fig) {
        auto* area = plot_area(fig);
        ASSERT_NE(area, nullptr);
        shown = area->picture();
        click(fig, "pushbutton_fixdepparms");
    });
    const auto v = dlg::fixdepparms(20, 1);
    EXPECT_EQ(v.width, 20);
    EXPECT_EQ(v.mar, 1);
    EXPECT_TRUE(same_image(v.polarim, expected));
    EXPECT_EQ(image_rows(v.polarim), 400u);
    EXPECT_EQ(image_planes(v.polarim), 3u);
    EXPECT_EQ(shown, gui::to_qimage(expected));
}

TEST(FixdepParms, TypedValuesAndARefusedAcuity) {
    FakePlatformScope fake;
    QString shown_width, shown_mar, width_after;
    WhenOpen w("fixdepparms", [&](QWidget* fig) {
        shown_width = field_text(fig, "edit_width");
        shown_mar = field_text(fig, "edit_mar");
        type_into(fig, "edit_width", "35");
        type_into(fig, "edit_mar", "half");
        click(fig, "pushbutton_fixdepparms");
        width_after = field_text(fig, "edit_width");
        type_into(fig, "edit_mar", "0.4");
        click(fig, "pushbutton_fixdepparms");
    });
    const auto v = dlg::fixdepparms(30, 0.5);
    EXPECT_EQ(shown_width, "30");
    EXPECT_EQ(shown_mar, "0.5");
    ASSERT_EQ(fake->errors.size(), 1u);
    // Text in no acuity notation: the message lists the notations.
    EXPECT_EQ(fake->errors[0],
              "Visual acuity: 'half' is not an acuity; enter a decimal acuity (for example 0.5), a Snellen fraction "
              "(20/40, 6/12) or a logMAR value (logMAR 0.3, 0.3 logMAR).");
    EXPECT_EQ(width_after, "35");
    EXPECT_EQ(v.width, 35);
    EXPECT_EQ(v.mar, 0.4);
}

TEST(FixdepParms, APlotThatIsNoPolarPlotIsRefusedWhereItIsLoaded) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/";
    // 200 columns, 100 rows: too small. A gray plot of the right size: one plane.
    imwrite(AnyImage(ArrayU8(100, 200, 3, 40)), folder + "polarsmall.bmp");
    imwrite(AnyImage(ArrayU8(400, 400, 1, 40)), folder + "polargray.bmp");
    std::filesystem::copy_file(bin_file("polarplotREglaucoma.bmp"), folder + "polarok.bmp");
    FakePlatformScope fake;
    fake->file_replies = {{"polarsmall.bmp", folder, false}, {"polargray.bmp", folder, false},
                          {"polarok.bmp", folder, false}};
    std::string name_shown, name_after_ok;
    QString typed;
    dlg::FixdepState st;
    WhenOpen w("fixdepparms", [&](QWidget* fig) {
        name_shown = label_text(fig, "text_polarfln");
        type_into(fig, "edit_mar", "0.25");
        trigger(fig, "OpenMenuItem");
        trigger(fig, "OpenMenuItem");
        st = *gui::guidata<dlg::FixdepState>(gui::Handle(fig));
        typed = field_text(fig, "edit_mar");
        trigger(fig, "OpenMenuItem");
        name_after_ok = label_text(fig, "text_polarfln");
        click(fig, "pushbutton_fixdepparms");
    });
    const auto v = dlg::fixdepparms(20, 1);
    EXPECT_EQ(name_shown, "polarplotREmd.bmp");
    ASSERT_EQ(fake->errors.size(), 2u);
    EXPECT_NE(fake->errors[0].find("376 \u00D7 376 pixels; the one given has 200 \u00D7 100 pixels and 3 planes"),
              std::string::npos)
        << fake->errors[0];
    EXPECT_NE(fake->errors[1].find("400 \u00D7 400 pixels and 1 plane."), std::string::npos) << fake->errors[1];
    // The refused plots changed nothing, and the typed acuity stayed.
    EXPECT_EQ(st.polarfln, "polarplotREmd.bmp");
    EXPECT_TRUE(same_image(st.polarim, imread(bin_file("polarplotREmd.bmp"))));
    EXPECT_EQ(typed, "0.25");
    EXPECT_EQ(name_after_ok, "polarok.bmp");
    EXPECT_TRUE(same_image(v.polarim, imread(folder + "polarok.bmp")));
    EXPECT_EQ(v.mar, 0.25);
}

TEST(FixdepParms, OpeningPlotsFromAnotherFolderReturnsTheLastOne) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString() + "/";
    std::filesystem::copy_file(bin_file("polarplotREglaucoma.bmp"), folder + "polarA.bmp");
    std::filesystem::copy_file(bin_file("polarplotREhemianopia.bmp"), folder + "polarB.bmp");
    const AnyImage a = imread(folder + "polarA.bmp");
    const AnyImage b = imread(folder + "polarB.bmp");

    FakePlatformScope fake;
    fake->file_replies = {{"polarA.bmp", folder, false}, {"polarB.bmp", folder, false}};
    dlg::FixdepState after_first, after_second;
    QImage shown_first, shown_second;
    WhenOpen w("fixdepparms", [&](QWidget* fig) {
        auto* area = plot_area(fig);
        trigger(fig, "OpenMenuItem");
        after_first = *gui::guidata<dlg::FixdepState>(gui::Handle(fig));
        shown_first = area->picture();
        trigger(fig, "OpenMenuItem");
        after_second = *gui::guidata<dlg::FixdepState>(gui::Handle(fig));
        shown_second = area->picture();
        click(fig, "pushbutton_fixdepparms");
    });
    const auto v = dlg::fixdepparms(20, 1);
    ASSERT_EQ(fake->choosers.size(), 2u);
    EXPECT_EQ(fake->choosers[0].arg, "polar*.bmp");
    EXPECT_EQ(fake->choosers[0].title, "polarplot files (*.bmp)");
    EXPECT_EQ(after_first.polarfln, "polarA.bmp");
    EXPECT_EQ(after_first.pathname, folder);
    EXPECT_TRUE(same_image(after_first.polarim, a));
    EXPECT_EQ(shown_first, gui::to_qimage(a));
    EXPECT_EQ(after_second.polarfln, "polarB.bmp");
    EXPECT_EQ(shown_second, gui::to_qimage(b));
    EXPECT_TRUE(same_image(v.polarim, b));
    EXPECT_FALSE(same_image(a, b));

    // The next call starts again from the default plot.
    WhenOpen w2("fixdepparms", [&](QWidget* fig) {
        auto st = gui::guidata<dlg::FixdepState>(gui::Handle(fig));
        EXPECT_EQ(st->polarfln, "polarplotREmd.bmp");
        EXPECT_FALSE(st->pathname.has_value());
        click(fig, "pushbutton_fixdepparms");
    });
    EXPECT_TRUE(same_image(dlg::fixdepparms(20, 1).polarim, imread(bin_file("polarplotREmd.bmp"))));
}

TEST(FixdepParms, CancelledChooserAndUnreadableFileChangeNothing) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/";
    {
        QFile f(QString::fromStdString(folder + "polarbad.bmp"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("this is not a bitmap");
    }
    FakePlatformScope fake;
    fake->file_replies = {
        gui::FileChoice{}, {"polarbad.bmp", folder, false}, {"polarnone.bmp", folder, false}};
    WhenOpen w("fixdepparms", [&](QWidget* fig) {
        trigger(fig, "OpenMenuItem");  // cancelled
        trigger(fig, "OpenMenuItem");  // not a bitmap
        trigger(fig, "OpenMenuItem");  // does not exist
        auto st = gui::guidata<dlg::FixdepState>(gui::Handle(fig));
        EXPECT_EQ(st->polarfln, "polarplotREmd.bmp");
        EXPECT_FALSE(st->pathname.has_value());
        click(fig, "pushbutton_fixdepparms");
    });
    const auto v = dlg::fixdepparms(20, 1);
    EXPECT_TRUE(same_image(v.polarim, imread(bin_file("polarplotREmd.bmp"))));
    ASSERT_EQ(fake->errors.size(), 2u) << "the two failed reads are reported";
    EXPECT_NE(fake->errors[1].find("does not exist"), std::string::npos) << fake->errors[1];
}

TEST(FixdepParms, CloseAnsweredNoKeepsTheDialogYesEndsTheCall) {
    FakePlatformScope fake;
    bool still_open_after_no = false;
    WhenOpen w("fixdepparms", [&](QWidget* fig) {
        fake->answers = {"No"};
        trigger(fig, "CloseMenuItem");
        still_open_after_no = fig->isVisible();
        type_into(fig, "edit_width", "33");
        click(fig, "pushbutton_fixdepparms");
    });
    EXPECT_EQ(dlg::fixdepparms(20, 1).width, 33);
    EXPECT_TRUE(still_open_after_no);
    ASSERT_EQ(fake->questions.size(), 1u);
    EXPECT_EQ(fake->questions[0].text, "Close Visual field?");
    EXPECT_EQ(fake->questions[0].title, "Close Visual field...");
    EXPECT_EQ(fake->questions[0].buttons, (std::vector<std::string>{"Yes", "No"}));
    EXPECT_EQ(fake->questions[0].default_button, "Yes");

    for (const char* answer : {"Yes", ""}) {  // any answer but "No" closes
        WhenOpen w2("fixdepparms", [&](QWidget* fig) {
            fake->answers = {answer};
            trigger(fig, "CloseMenuItem");
        });
        EXPECT_NE(error_of([] { dlg::fixdepparms(20, 1); }).find("closed without OK"),
                  std::string::npos)
            << "answer \"" << answer << "\"";
    }
}

TEST(FixdepParms, PrintOpensThePrintDialogForTheDialogWindow) {
    FakePlatformScope fake;
    QWidget* dialog = nullptr;
    WhenOpen w("fixdepparms", [&](QWidget* fig) {
        dialog = fig;
        trigger(fig, "PrintMenuItem");
        EXPECT_EQ(fake->printed.size(), 1u);
        EXPECT_EQ(fake->printed.back().data(), dialog);
        click(fig, "pushbutton_fixdepparms");
    });
    dlg::fixdepparms(20, 1);
    EXPECT_EQ(fake->printed.size(), 1u);
}

TEST(FixdepParms, DefaultPlotIsReadFromTheWorkingFolderFirst) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/";
    // A working folder without the plot: the program's own copy is used.
    in_folder(dir.path(), [&] {
        WhenOpen w("fixdepparms", [](QWidget* fig) { click(fig, "pushbutton_fixdepparms"); });
        EXPECT_TRUE(same_image(dlg::fixdepparms(20, 1).polarim,
                               imread(bin_file("polarplotREmd.bmp"))));
    });
    // One with its own "polarplotREmd.bmp": that one is used.
    std::filesystem::copy_file(bin_file("polarplotREnormal.bmp"), folder + "polarplotREmd.bmp");
    in_folder(dir.path(), [&] {
        WhenOpen w("fixdepparms", [](QWidget* fig) { click(fig, "pushbutton_fixdepparms"); });
        EXPECT_TRUE(same_image(dlg::fixdepparms(20, 1).polarim,
                               imread(bin_file("polarplotREnormal.bmp"))));
    });
}

TEST(FixdepParms, UnreadableDefaultPlotEndsTheCallBeforeWaiting) {
    QTemporaryDir dir;
    {
        QFile f(dir.path() + "/polarplotREmd.bmp");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("BM not really");
    }
    in_folder(dir.path(), [&] {
        EXPECT_NE(error_of([] { dlg::fixdepparms(20, 1); }), "");
    });
    // The half-opened window is replaced by a fresh one next time.
    WhenOpen w("fixdepparms", [](QWidget* fig) { click(fig, "pushbutton_fixdepparms"); });
    EXPECT_EQ(dlg::fixdepparms(21, 1).width, 21);
}

// ---------------------------------------------------------------------------
// Keys and cancelling, the same in every dialog

struct DialogCase {
    const char* layout;
    std::function<void()> call;  // calls the dialog with width 20 and keeps the width it returns
};

std::vector<DialogCase> every_dialog(double& width) {
    return {{"fixindepparms", [&] { width = dlg::fixindepparms(20, 1, 1).width; }},
            {"fixdepparms", [&] { width = dlg::fixdepparms(20, 1).width; }},
            {"glareparms2", [&] { width = dlg::glareparms2(20, 1).width; }}};
}

TEST(Dialogs, CancelEscapeAndTheCloseButtonCancelQuietly) {
    const std::pair<const char*, std::function<void(QWidget*)>> ways[] = {
        {"Cancel", [](QWidget* fig) { click(fig, "pushbutton_cancel"); }},
        {"Escape in a field",
         [](QWidget* fig) {
             auto* e = fig->findChild<QLineEdit*>("edit_width");
             QTest::keyClicks(e, "5");
             QTest::keyClick(e, Qt::Key_Escape);
         }},
        {"close button", [](QWidget* fig) { fig->close(); }}};
    double width = -1;
    for (const DialogCase& d : every_dialog(width)) {
        for (const auto& [way, act] : ways) {
            FakePlatformScope fake;
            WhenOpen w(d.layout, [&, act = act](QWidget* fig) {
                type_into(fig, "edit_width", "45");
                act(fig);
            });
            width = -1;
            bool cancelled = false;
            try {
                d.call();
            } catch (const gui::Cancelled&) {
                cancelled = true;
            }
            EXPECT_TRUE(w.ran()) << d.layout << ", " << way;
            EXPECT_TRUE(cancelled) << d.layout << ", " << way;
            EXPECT_EQ(width, -1) << d.layout << ", " << way;
            EXPECT_TRUE(fake->errors.empty()) << d.layout << ", " << way;
            test::settle();
            EXPECT_EQ(visible_window(d.layout), nullptr) << d.layout << ", " << way;
        }
    }
}

TEST(Dialogs, EnterPressesOkWithTheTextJustTyped) {
    double width = -1;
    for (const DialogCase& d : every_dialog(width)) {
        WhenOpen w(d.layout, [](QWidget* fig) {
            auto* e = fig->findChild<QLineEdit*>("edit_width");
            e->selectAll();
            QTest::keyClicks(e, "33");
            QTest::keyClick(e, Qt::Key_Return);
        });
        d.call();
        EXPECT_EQ(width, 33) << d.layout;
        // Enter on the keypad, with no control taking it.
        WhenOpen w2(d.layout, [](QWidget* fig) { QTest::keyClick(fig, Qt::Key_Enter, Qt::KeypadModifier); });
        d.call();
        EXPECT_EQ(width, 20) << d.layout;
    }
}

TEST(DialogCallbacks, TooManyArgumentsNameTheOperation) {
    // A callback declares three inputs: object, event, state record.
    WhenOpen w("glareparms2", [](QWidget* fig) {
        const gui::Handle h(fig->findChild<QSlider*>("slider2"));
        const std::string e = error_of([&] {
            dlg::glareparms2(gui::Args{std::string("slider2_Callback"), h, gui::Empty{},
                                       gui::guidata(h), 1.0},
                             0);
        });
        EXPECT_NE(e.find("\"glareparms2/slider2_Callback\" was called with more than the declared "
                         "number of inputs (3)."),
                  std::string::npos)
            << e;
        click(fig, "pushbutton_glareparms2");
    });
    dlg::glareparms2(20, 1);
    EXPECT_TRUE(w.ran());
}

TEST(FixindepParms, TypedTextIsTakenWhenOkIsClickedWithoutReturn) {
    // Clicking OK moves the focus away from the field, which commits its text.
    WhenOpen w("fixindepparms", [](QWidget* fig) {
        QApplication::setActiveWindow(fig);
        auto* e = fig->findChild<QLineEdit*>("edit_contrastfactor");
        e->setFocus();
        e->selectAll();
        QTest::keyClicks(e, "4");
        auto* ok = fig->findChild<QPushButton*>("pushbutton_fixparms");
        ok->setFocus(Qt::MouseFocusReason);
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    EXPECT_EQ(dlg::fixindepparms(20, 1, 1).contrastf, 4);
}
