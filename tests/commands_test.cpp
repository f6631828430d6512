// The main window's simulation commands end to end on the offscreen
// platform: the dialog is answered as a person answers it, the result is
// compared bit for bit with the shared computation on the same input, and the
// stored state, the status line, the fixation mode and the glare re-use paths
// are checked.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include "app/fixation_click.hpp"
#include "app/live_view.hpp"
#include "app/ocumbra.hpp"
#include "app/simulation_commands.hpp"
#include "app/status.hpp"
#include "app/work.hpp"
#include "colour/colour.hpp"
#include "dialogs_testutil.hpp"
#include "fixdep/render.hpp"
#include "fixdep/simulation.hpp"
#include "fixindep/fixindep.hpp"
#include "glare/glare.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

using namespace ocu;
using namespace ocu::testing;
using app::OcumbraState;

namespace {

const auto* const qt_env = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Counts which glare computation ran, passing through to the real ones.
struct GlareCounter {
    int full = 0, reuse = 0;
    GlareCounter() {
        app::set_glare_computations({[this](const AnyImage& im, const glare::Params& p, const Progress*) {
                                         ++full;
                                         return glare::run(im, p);
                                     },
                                     [this](const AnyImage& im, const ArrayD& dim, const glare::Params& p) {
                                         ++reuse;
                                         return glare::reuse_veil(im, dim, p);
                                     }});
    }
    ~GlareCounter() { app::set_glare_computations({}); }
};

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        const gui::Results r = app::ocumbra({}, 1);
        fig_ = gui::handle(r.at(0));
        ASSERT_TRUE(gui::is_valid(fig_));
        // A fresh state: the opening step's defaults on the default image.
        const AnyImage im = imread(find_data_file("NatIm13.jpg"));
        OcumbraState s = state();
        s.im = im;
        s.imt = im;
        gui::guidata(fig_, s);
        gui::imshow(s[app::tag::axes1], im);
        fake_->on_flush = [this] {
            busy_text_ = gui::get_string(state()[app::tag::statustext]);
            busy_colour_ = gui::get_foreground(state()[app::tag::statustext]);
        };
    }
    void TearDown() override { fake_->on_flush = nullptr; }

    OcumbraState state() const { return *gui::guidata<OcumbraState>(fig_); }

    QWidget* window() const { return gui::figure_of(fig_); }

    // Chooses a simulation from the Transform menu.
    void run(const char* command) {
        auto* a = window()->findChild<QAction*>(command);
        ASSERT_NE(a, nullptr) << command;
        a->trigger();
    }

    // A press in the image area of the main window.
    void press_in_image() {
        QWidget* area = gui::image_area(state()[app::tag::axes1]);
        ASSERT_NE(area, nullptr);
        QTest::mousePress(area, Qt::LeftButton, {}, QPoint(20, 20));
        QTest::mouseRelease(area, Qt::LeftButton, {}, QPoint(20, 20));
    }

    // The result stored by the last command, as doubles.
    ArrayD imt() const {
        const OcumbraState s = state();
        const auto* a = std::get_if<ArrayD>(&s.imt.get());
        return a ? *a : ArrayD{};
    }

    // The picture in the image area equals that of `image`.
    bool area_shows(const AnyImage& image) const {
        const gui::ImageArea* area = gui::image_area(state()[app::tag::axes1]);
        return area != nullptr && area->picture() == gui::to_qimage(image);
    }

    FakePlatformScope fake_;
    gui::Handle fig_;
    std::string busy_text_;
    gui::Rgb busy_colour_{-1, -1, -1};
};

// Runs `command` answering its dialog `layout` with `answer`.
#define RUN_WITH_DIALOG(command, layout, answer)          \
    do {                                                  \
        WhenOpen when_open_(layout, answer);              \
        run(command);                                     \
        EXPECT_TRUE(when_open_.ran()) << "no " << layout; \
    } while (0)

void ok(QWidget* fig, const char* button) { QTest::mouseClick(fig->findChild<QPushButton*>(button), Qt::LeftButton); }

// Everything a failed command must leave as it was.
void expect_same_state(const OcumbraState& a, const OcumbraState& b) {
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.mar, b.mar);
    EXPECT_EQ(a.contrastf, b.contrastf);
    EXPECT_EQ(a.glarefact, b.glarefact);
    EXPECT_EQ(a.fixactive, b.fixactive);
    EXPECT_EQ(a.prevtrans, b.prevtrans);
    EXPECT_EQ(a.prepfixdep, b.prepfixdep);
    EXPECT_TRUE(a.imt == b.imt);
    EXPECT_TRUE(a.im == b.im);
    EXPECT_EQ(a.restot.has_value(), b.restot.has_value());
}

}  // namespace

// ---------------------------------------------------------------------------
// Fixation-independent command

TEST_F(Commands, FixindepResultIsTheSharedComputationsBitForBit) {
    const std::string idle = gui::get_string(state()[app::tag::statustext]);
    RUN_WITH_DIALOG("fixindep", "fixindepparms", [](QWidget* fig) {
        type_into(fig, "edit_mar", "0.1");
        type_into(fig, "edit_contrastfactor", "2");
        ok(fig, "pushbutton_fixparms");
    });
    ASSERT_TRUE(fake_->errors.empty()) << fake_->errors[0];
    const OcumbraState s = state();
    const ArrayD expected = fixindep::run(s.im, {20, 0.1, 2, 2, 2});
    EXPECT_TRUE(imt() == expected);
    EXPECT_TRUE(area_shows(expected));
    EXPECT_EQ(s.width, 20);
    EXPECT_EQ(s.mar, 0.1);
    EXPECT_EQ(s.contrastf, 2);
    EXPECT_EQ(s.prevtrans, app::Transform::Fixindep);
    EXPECT_EQ(s.fixactive, 0);
    // Busy while computing, back afterwards.
    EXPECT_EQ(busy_text_, "STATUS: resultaat berekenen...");
    EXPECT_NEAR(busy_colour_.r, 0.8, 1e-6);
    EXPECT_EQ(busy_colour_.g, 0);
    EXPECT_EQ(busy_colour_.b, 0);
    EXPECT_EQ(gui::get_string(s[app::tag::statustext]), idle);
    EXPECT_EQ(gui::get_foreground(s[app::tag::statustext]), (gui::Rgb{0, 0, 0}));
}

// ---------------------------------------------------------------------------
// Colour vision command

TEST_F(Commands, ColourVisionIsTheLibrarysRunBitForBit) {
    const AnyImage im = state().im;
    RUN_WITH_DIALOG("colour", "colourparms", [](QWidget* fig) {
        QTest::mouseClick(fig->findChild<QRadioButton*>("radiobutton_deutan"), Qt::LeftButton, {}, QPoint(8, 8));
        fig->findChild<QSlider*>("slider_severity")->setValue(60);
        ok(fig, "pushbutton_colourparms");
    });
    ASSERT_TRUE(fake_->errors.empty()) << fake_->errors[0];
    const ArrayD expected = colour::run(im, {colour::Deficiency::Deutan, 0.6});
    EXPECT_TRUE(imt() == expected);
    EXPECT_TRUE(area_shows(expected));
    EXPECT_EQ(state().prevtrans, app::Transform::Colour);
    EXPECT_EQ(state().colour.type, colour::Deficiency::Deutan);
    EXPECT_EQ(state().colour.severity, 0.6);
    EXPECT_EQ(busy_text_, "STATUS: resultaat berekenen...");

    // The dialog opens with the values kept; achromatopsia has no severity.
    std::string label;
    bool slider_on = true, deutan_on = false;
    RUN_WITH_DIALOG("colour", "colourparms", [&](QWidget* fig) {
        deutan_on = fig->findChild<QRadioButton*>("radiobutton_deutan")->isChecked();
        label = fig->findChild<QLabel*>("text_severity")->text().toStdString();
        QTest::mouseClick(fig->findChild<QRadioButton*>("radiobutton_achromat"), Qt::LeftButton, {}, QPoint(8, 8));
        slider_on = fig->findChild<QSlider*>("slider_severity")->isEnabled();
        ok(fig, "pushbutton_colourparms");
    });
    EXPECT_TRUE(deutan_on);
    EXPECT_EQ(label, "60 %");
    EXPECT_FALSE(slider_on);
    EXPECT_TRUE(imt() == colour::simulate_achromatopsia(im));
}

TEST_F(Commands, ValuesThatCannotBeComputedAreRefusedBeforeTheBusyStatus) {
    struct Case {
        const char* field;
        const char* typed;
        const char* message;
    };
    const Case cases[] = {{"edit_width", "abc", "Image width (degrees): 'abc' is not a number;"},
                          {"edit_width", "0", "Image width (degrees): '0' is out of range;"},
                          {"edit_width", "-10", "Image width (degrees): '-10' is out of range;"},
                          {"edit_width", "180", "Image width (degrees): '180' is out of range;"},
                          {"edit_mar", "0", "Visual acuity: '0' is out of range;"},
                          {"edit_mar", "-1", "Visual acuity: '-1' is out of range;"},
                          {"edit_mar", "", "Visual acuity: the field is empty;"},
                          {"edit_mar", "0,5", "Visual acuity: '0,5' is not a number; use a point as decimal separator."},
                          {"edit_contrastfactor", "zero", "Contrast factor: 'zero' is not a number;"},
                          {"edit_contrastfactor", "0", "Contrast factor: '0' is out of range;"}};
    const OcumbraState before = state();
    for (const Case& c : cases) {
        fake_->errors.clear();
        fake_->flushes = 0;
        // The dialog says what is wrong and stays open; cancelling it ends the command.
        RUN_WITH_DIALOG("fixindep", "fixindepparms", [&](QWidget* fig) {
            type_into(fig, c.field, c.typed);
            ok(fig, "pushbutton_fixparms");
            EXPECT_TRUE(fig->isVisible()) << c.typed;
            ok(fig, "pushbutton_cancel");
        });
        ASSERT_EQ(fake_->errors.size(), 1u) << c.field << " " << c.typed;
        EXPECT_EQ(fake_->errors[0].rfind(c.message, 0), 0u) << fake_->errors[0];
        EXPECT_EQ(fake_->flushes, 0) << "no busy status for " << c.typed;
        expect_same_state(state(), before);
    }
}

TEST_F(Commands, ClosingTheDialogChangesNothingAndKeepsFixationMode) {
    RUN_WITH_DIALOG("fixdep", "fixdepparms", [](QWidget* fig) { ok(fig, "pushbutton_fixdepparms"); });
    ASSERT_EQ(state().fixactive, 1);
    const OcumbraState before = state();
    for (auto [command, layout] : {std::pair{"fixindep", "fixindepparms"}, std::pair{"glare", "glareparms2"},
                                   std::pair{"fixdep", "fixdepparms"}}) {
        for (const bool escape : {false, true}) {
            fake_->errors.clear();
            RUN_WITH_DIALOG(command, layout, [escape](QWidget* fig) {
                type_into(fig, "edit_width", "45");
                if (escape) {
                    QTest::keyClick(fig->findChild<QLineEdit*>("edit_width"), Qt::Key_Escape);
                } else {
                    fig->close();
                }
            });
            // Cancelled: no message, nothing changed.
            EXPECT_TRUE(fake_->errors.empty()) << command << (escape ? " Escape: " : " closed: ") << fake_->errors[0];
            expect_same_state(state(), before);
        }
    }
    // Still in fixation mode: a press starts the pointer input.
    fake_->points = {{10, 10}};
    press_in_image();
    EXPECT_EQ(fake_->pointer_inputs, 1);
}

// ---------------------------------------------------------------------------
// Fixation-dependent command and the fixation click

TEST_F(Commands, FixdepFirstViewFixatesTheCentreWithTheSharedComputation) {
    RUN_WITH_DIALOG("fixdep", "fixdepparms", [](QWidget* fig) {
        type_into(fig, "edit_mar", "0.5");
        ok(fig, "pushbutton_fixdepparms");
    });
    ASSERT_TRUE(fake_->errors.empty()) << fake_->errors[0];
    const OcumbraState s = state();
    const AnyImage polar = imread(find_data_file("polarplotREmd.bmp"));
    ASSERT_EQ(image_cols(s.im), 600u);
    ASSERT_EQ(image_rows(s.im), 400u);
    // The reference run prepares the same masks again, then renders at the
    // centre: column 600 / 2 = 300, row 400 / 2 = 200.
    const ArrayD restot = fixdep::prepare(600, 400, {20, 0.5, polar}).resmap();
    const ArrayD expected = fixdep::fixdepimage(300, 200, s.im);
    EXPECT_TRUE(imt() == expected);
    EXPECT_TRUE(area_shows(expected));
    ASSERT_TRUE(s.restot.has_value());
    EXPECT_TRUE(*s.restot == restot);
    EXPECT_EQ(s.restot->rows(), 800u);
    EXPECT_EQ(s.restot->cols(), 1200u);
    ASSERT_TRUE(s.polim.has_value());
    EXPECT_TRUE(*s.polim == polar);
    EXPECT_EQ(s.mar, 0.5);
    EXPECT_EQ(s.fixactive, 1);
    EXPECT_EQ(s.prevtrans, app::Transform::Fixdep);
    EXPECT_EQ(s.prepfixdep, 1);
    EXPECT_EQ(busy_text_, "STATUS: resultaat berekenen...");
}

TEST_F(Commands, FixdepCentreOfAnOddSizedImageRoundsHalvesUp) {
    // 101 columns and 75 rows: the first view fixates column round(50.5) = 51
    // and row round(37.5) = 38.
    QTemporaryDir dir;
    ArrayU8 odd(75, 101, 3);
    for (std::size_t i = 0; i < odd.numel(); ++i) odd[i] = static_cast<std::uint8_t>((i * 37) % 251);
    const std::string folder = dir.path().toStdString() + "/";
    imwrite(AnyImage(odd), folder + "odd.bmp");
    fake_->file_replies = {{"odd.bmp", folder, false}};
    window()->findChild<QAction*>("OpenMenuItem")->trigger();
    ASSERT_TRUE(state().im == AnyImage(odd));
    RUN_WITH_DIALOG("fixdep", "fixdepparms", [](QWidget* fig) { ok(fig, "pushbutton_fixdepparms"); });
    ASSERT_TRUE(fake_->errors.empty()) << fake_->errors[0];
    fixdep::prepare(101, 75, {20, 1, imread(find_data_file("polarplotREmd.bmp"))});
    EXPECT_TRUE(imt() == fixdep::fixdepimage(51, 38, AnyImage(odd)));
    EXPECT_FALSE(imt() == fixdep::fixdepimage(50, 37, AnyImage(odd)));
}

TEST_F(Commands, FixationClicksRenderWhereTheyLandAlsoOutsideTheImage) {
    RUN_WITH_DIALOG("fixdep", "fixdepparms", [](QWidget* fig) { ok(fig, "pushbutton_fixdepparms"); });
    const AnyImage im = state().im;
    const AnyImage polar = imread(find_data_file("polarplotREmd.bmp"));
    const std::array<double, 2> points[] = {{100.5, 50.25}, {-40, 900}, {600, 1}};
    for (const auto& p : points) {
        fake_->points = {p};
        fake_->flushes = 0;
        busy_text_.clear();
        press_in_image();
        ASSERT_TRUE(fake_->errors.empty()) << fake_->errors[0];
        // Same masks: prepared once for this image, width 20, acuity 1.
        fixdep::prepare(600, 400, {20, 1, polar});
        const ArrayD expected = fixdep::fixdepimage(p[0], p[1], im);
        EXPECT_TRUE(imt() == expected) << p[0] << ", " << p[1];
        EXPECT_TRUE(area_shows(expected));
        EXPECT_EQ(state().prevtrans, app::Transform::Fixdep);
        EXPECT_EQ(state().fixactive, 1);
        EXPECT_EQ(fake_->flushes, 1);
        EXPECT_EQ(busy_text_, "STATUS: resultaat berekenen...");
    }
    EXPECT_EQ(fake_->pointer_inputs, 3);
}

TEST_F(Commands, PressesDoNothingOutsideFixationMode) {
    fake_->points = {{5, 5}, {5, 5}, {5, 5}};
    press_in_image();  // after start-up
    EXPECT_EQ(fake_->pointer_inputs, 0);

    RUN_WITH_DIALOG("fixdep", "fixdepparms", [](QWidget* fig) { ok(fig, "pushbutton_fixdepparms"); });
    RUN_WITH_DIALOG("fixindep", "fixindepparms", [](QWidget* fig) { ok(fig, "pushbutton_fixparms"); });
    EXPECT_EQ(state().fixactive, 0);
    const AnyImage after_fixindep = state().imt;
    press_in_image();
    EXPECT_EQ(fake_->pointer_inputs, 0);
    EXPECT_TRUE(state().imt == after_fixindep);

    RUN_WITH_DIALOG("fixdep", "fixdepparms", [](QWidget* fig) { ok(fig, "pushbutton_fixdepparms"); });
    press_in_image();
    EXPECT_EQ(fake_->pointer_inputs, 1);
    RUN_WITH_DIALOG("glare", "glareparms2", [](QWidget* fig) { ok(fig, "pushbutton_glareparms2"); });
    EXPECT_EQ(state().fixactive, 0);
    const AnyImage after_glare = state().imt;
    press_in_image();
    EXPECT_EQ(fake_->pointer_inputs, 1);
    EXPECT_TRUE(state().imt == after_glare);
}

TEST_F(Commands, AFailedFixationClickChangesNothing) {
    RUN_WITH_DIALOG("fixdep", "fixdepparms", [](QWidget* fig) { ok(fig, "pushbutton_fixdepparms"); });
    const OcumbraState before = state();
    fake_->points.clear();  // the pointer input fails (window gone, say)
    press_in_image();
    ASSERT_EQ(fake_->errors.size(), 1u);
    expect_same_state(state(), before);
}

// ---------------------------------------------------------------------------
// Glare command

TEST_F(Commands, GlareReusesTheResultOrTheVeilOnlyWhenItMay) {
    GlareCounter count;
    const AnyImage im = state().im;
    auto glare_with = [&](const char* width, double slider) {
        RUN_WITH_DIALOG("glare", "glareparms2", [&](QWidget* fig) {
            if (width) type_into(fig, "edit_width", width);
            if (slider >= 0) {
                auto* s = fig->findChild<QSlider*>("slider2");
                s->setValue(static_cast<int>(std::lround(slider * s->maximum())));
            }
            ok(fig, "pushbutton_glareparms2");
        });
        ASSERT_TRUE(fake_->errors.empty()) << fake_->errors[0];
    };

    // First run: full computation with width 20 and factor 1.
    glare_with(nullptr, -1);
    EXPECT_EQ(count.full, 1);
    EXPECT_EQ(count.reuse, 0);
    const glare::Result ref = glare::run(im, glare::Params{20, 1, 2, 2});
    EXPECT_TRUE(imt() == ref.imt);
    EXPECT_TRUE(area_shows(ref.imt));
    ASSERT_TRUE(app::glare_veil().has_value());
    EXPECT_TRUE(*app::glare_veil() == ref.dim);
    EXPECT_EQ(state().prevtrans, app::Transform::Glare);

    // Same parameters: the shown result again, nothing computed.
    glare_with(nullptr, -1);
    EXPECT_EQ(count.full, 1);
    EXPECT_EQ(count.reuse, 0);
    EXPECT_TRUE(imt() == ref.imt);

    // Only the factor changed: the veil is re-weighted.
    glare_with(nullptr, 0.5);
    EXPECT_EQ(count.full, 1);
    EXPECT_EQ(count.reuse, 1);
    EXPECT_EQ(state().glarefact, 5);
    EXPECT_TRUE(imt() == glare::glareimknown2(im, 5, ref.dim, 2, 2));
    EXPECT_TRUE(imt() == glare::run(im, glare::Params{20, 5, 2, 2}).imt);

    // The width changed, even by a hair: full computation.
    glare_with("20.000001", -1);
    EXPECT_EQ(count.full, 2);
    EXPECT_TRUE(imt() == glare::run(im, glare::Params{20.000001, 5, 2, 2}).imt);
    glare_with("30", 0.2);
    EXPECT_EQ(count.full, 3);
    EXPECT_EQ(count.reuse, 1);
    EXPECT_EQ(state().width, 30);
    EXPECT_EQ(state().glarefact, 2);

    // Another simulation in between: full computation.
    RUN_WITH_DIALOG("fixindep", "fixindepparms", [](QWidget* fig) { ok(fig, "pushbutton_fixparms"); });
    glare_with(nullptr, -1);
    EXPECT_EQ(count.full, 4);
    EXPECT_EQ(count.reuse, 1);

    // A newly opened image: full computation on it.
    fake_->file_replies = {{"chelsea.jpg", program_data_dir(), false}};
    window()->findChild<QAction*>("OpenMenuItem")->trigger();
    ASSERT_EQ(state().prevtrans, app::Transform::None);
    glare_with(nullptr, 0.7);
    EXPECT_EQ(count.full, 5);
    const AnyImage cat = imread(program_data_dir() + "chelsea.jpg");
    EXPECT_TRUE(imt() == glare::run(cat, glare::Params{30, 7, 2, 2}).imt);
}

TEST_F(Commands, GlareVeilOutlivesTheWindowsOpeningStep) {
    GlareCounter count;
    RUN_WITH_DIALOG("glare", "glareparms2", [](QWidget* fig) { ok(fig, "pushbutton_glareparms2"); });
    ASSERT_EQ(count.full, 1);
    const ArrayD dim = *app::glare_veil();
    app::ocumbra({}, 0);  // the opening step again: defaults, prevtrans -1
    EXPECT_EQ(state().prevtrans, app::Transform::None);
    ASSERT_TRUE(app::glare_veil().has_value());
    EXPECT_TRUE(*app::glare_veil() == dim);
    // prevtrans is no longer 3, so the next run computes in full.
    RUN_WITH_DIALOG("glare", "glareparms2", [](QWidget* fig) { ok(fig, "pushbutton_glareparms2"); });
    EXPECT_EQ(count.full, 2);
}

TEST_F(Commands, GlareWithAWidthThatIsNotANumberComputesNothing) {
    GlareCounter count;
    RUN_WITH_DIALOG("glare", "glareparms2", [](QWidget* fig) { ok(fig, "pushbutton_glareparms2"); });
    const OcumbraState before = state();
    const ArrayD dim = *app::glare_veil();
    fake_->flushes = 0;
    RUN_WITH_DIALOG("glare", "glareparms2", [](QWidget* fig) {
        type_into(fig, "edit_width", "twenty");
        ok(fig, "pushbutton_glareparms2");
        ok(fig, "pushbutton_cancel");
    });
    ASSERT_EQ(fake_->errors.size(), 1u);
    EXPECT_EQ(fake_->errors[0].rfind("Image width (degrees): 'twenty' is not a number;", 0), 0u) << fake_->errors[0];
    EXPECT_EQ(count.full, 1);
    EXPECT_EQ(count.reuse, 0);
    EXPECT_EQ(fake_->flushes, 0);
    expect_same_state(state(), before);
    EXPECT_TRUE(*app::glare_veil() == dim);
}

TEST_F(Commands, RunAsCallbackByNameLikeItsControl) {
    // ocumbra('fixindep_Callback', figure, [], state) runs the command.
    WhenOpen w("fixindepparms", [](QWidget* fig) {
        type_into(fig, "edit_width", "40");
        ok(fig, "pushbutton_fixparms");
    });
    app::ocumbra({std::string("fixindep_Callback"), fig_, gui::Empty{}, gui::guidata(fig_)}, 0);
    EXPECT_TRUE(w.ran());
    EXPECT_EQ(state().width, 40);
    EXPECT_TRUE(imt() == fixindep::run(state().im, {40, 1, 1, 2, 2}));
}

// ---------------------------------------------------------------------------
// The window as people use it: the fixation click, keys and messages

TEST_F(Commands, ACommandRunDuringAPendingFixationClickIsNotUndone) {
    RUN_WITH_DIALOG("fixdep", "fixdepparms", [](QWidget* fig) { ok(fig, "pushbutton_fixdepparms"); });
    ASSERT_EQ(state().fixactive, 1);
    const AnyImage fixdep_result = state().imt;

    // Ctrl+O while the click is awaited opens another image; then the click.
    fake_->file_replies = {{"chelsea.jpg", program_data_dir(), false}};
    fake_->during_pointer_input = [this] {
        QApplication::setActiveWindow(window());
        QTest::keyClick(window(), Qt::Key_O, Qt::ControlModifier);
    };
    fake_->points = {{100, 100}};
    press_in_image();
    ASSERT_TRUE(fake_->errors.empty()) << fake_->errors[0];
    const AnyImage cat = imread(program_data_dir() + "chelsea.jpg");
    EXPECT_TRUE(state().im == cat) << "the opened image stays";
    EXPECT_EQ(state().filename, "chelsea.jpg");
    EXPECT_TRUE(state().imt == fixdep_result) << "no rendering replaced the result";
    EXPECT_TRUE(area_shows(cat));

    // The fixation-independent command, its dialog confirmed with Enter.
    fake_->during_pointer_input = [this] {
        RUN_WITH_DIALOG("fixindep", "fixindepparms", [](QWidget* fig) {
            auto* e = fig->findChild<QLineEdit*>("edit_mar");
            e->selectAll();
            QTest::keyClicks(e, "0.5");
            QTest::keyClick(e, Qt::Key_Return);
        });
    };
    fake_->points = {{100, 100}};
    press_in_image();
    ASSERT_TRUE(fake_->errors.empty()) << fake_->errors[0];
    const ArrayD expected = fixindep::run(cat, {20, 0.5, 1, 2, 2});
    EXPECT_TRUE(imt() == expected);
    EXPECT_TRUE(area_shows(expected));
    EXPECT_EQ(state().fixactive, 0) << "fixation mode stays left";
    EXPECT_EQ(state().prevtrans, app::Transform::Fixindep);
    EXPECT_EQ(fake_->pointer_inputs, 2);
}

// The pointer input of the window system, with everything else of the stand-in.
struct RealPointer : test::FakePlatform {
    std::array<double, 2> pointer_input(const gui::Handle& fig) override {
        ++pointer_inputs;
        return gui::QtPlatform().pointer_input(fig);
    }
    void end_pointer_input(const gui::Handle& fig) override { gui::QtPlatform().end_pointer_input(fig); }
};

TEST_F(Commands, EscapeOrClosingTheWindowEndsAPendingFixationClickQuietly) {
    RUN_WITH_DIALOG("fixdep", "fixdepparms", [](QWidget* fig) { ok(fig, "pushbutton_fixdepparms"); });
    const OcumbraState before = state();
    const gui::Handle status = before[app::tag::statustext];
    const std::string idle = gui::get_string(status);
    auto real = std::make_unique<RealPointer>();
    RealPointer* person = real.get();
    auto previous = gui::set_platform(std::move(real));

    std::string hint;
    Qt::CursorShape cursor = Qt::ArrowCursor;
    QTimer::singleShot(0, [&] {
        hint = gui::get_string(status);
        cursor = window()->cursor().shape();
        QTest::keyClick(window(), Qt::Key_Escape);
    });
    // Should Escape not end the wait, a click does, so the test ends with its failure.
    QTimer fallback;
    fallback.setSingleShot(true);
    QObject::connect(&fallback, &QTimer::timeout, [this] {
        QTest::mouseClick(gui::image_area(state()[app::tag::axes1]), Qt::LeftButton, {}, QPoint(5, 5));
    });
    fallback.start(2000);
    press_in_image();
    fallback.stop();
    EXPECT_EQ(hint, app::kFixationHint);
    EXPECT_EQ(cursor, Qt::CrossCursor);
    EXPECT_EQ(person->pointer_inputs, 1);
    EXPECT_TRUE(person->errors.empty()) << person->errors[0];
    EXPECT_EQ(gui::get_string(status), idle);
    EXPECT_EQ(window()->cursor().shape(), Qt::ArrowCursor);
    expect_same_state(state(), before);

    // Closing the window while the click is awaited.
    QTimer::singleShot(0, [&] { window()->close(); });
    press_in_image();
    EXPECT_EQ(person->pointer_inputs, 2);
    EXPECT_TRUE(person->errors.empty()) << person->errors[0];
    gui::set_platform(std::move(previous));
    test::settle();
}

TEST_F(Commands, GlareRightAfterAnotherSimulationComputesEvenWithUnchangedValues) {
    GlareCounter count;
    const AnyImage im = state().im;
    const ArrayD expected = glare::run(im, glare::Params{20, 1, 2, 2}).imt;
    RUN_WITH_DIALOG("glare", "glareparms2", [](QWidget* fig) { ok(fig, "pushbutton_glareparms2"); });
    ASSERT_EQ(count.full, 1);
    int runs = 1;
    for (auto [command, layout, button] :
         {std::tuple{"fixdep", "fixdepparms", "pushbutton_fixdepparms"},
          std::tuple{"fixindep", "fixindepparms", "pushbutton_fixparms"}}) {
        RUN_WITH_DIALOG(command, layout, [button = button](QWidget* fig) { ok(fig, button); });
        ASSERT_FALSE(imt() == expected) << command;
        // Width 20 and factor 1 as in the glare run before: still a full computation.
        RUN_WITH_DIALOG("glare", "glareparms2", [](QWidget* fig) { ok(fig, "pushbutton_glareparms2"); });
        EXPECT_EQ(count.full, ++runs) << "glare after " << command;
        EXPECT_EQ(count.reuse, 0);
        EXPECT_TRUE(imt() == expected) << "glare after " << command;
        EXPECT_TRUE(area_shows(expected));
    }
}

TEST_F(Commands, WithoutAnImageEverySimulationSaysOpenAnImageFirst) {
    OcumbraState s = state();
    s.im = AnyImage{};  // what a failed start-up leaves
    gui::guidata(fig_, s);
    for (auto [command, layout] : {std::pair{"fixindep", "fixindepparms"}, std::pair{"fixdep", "fixdepparms"},
                                   std::pair{"glare", "glareparms2"}, std::pair{"colour", "colourparms"},
                                   std::pair{"condition", "conditionparms"}}) {
        fake_->errors.clear();
        WhenOpen w(layout, [](QWidget* fig) { ok(fig, "pushbutton_cancel"); });
        run(command);
        EXPECT_FALSE(w.ran()) << "no dialog for " << command;
        ASSERT_EQ(fake_->errors.size(), 1u) << command;
        EXPECT_EQ(fake_->errors[0], "Open an image first.");
    }
}

TEST_F(Commands, SaveResolutionMapIsEnabledOnlyInFixationMode) {
    auto* entry = window()->findChild<QAction*>("Save_resmap");
    ASSERT_NE(entry, nullptr);
    EXPECT_FALSE(entry->isEnabled()) << "after start-up";
    RUN_WITH_DIALOG("fixdep", "fixdepparms", [](QWidget* fig) { ok(fig, "pushbutton_fixdepparms"); });
    EXPECT_TRUE(entry->isEnabled()) << "in fixation mode";
    RUN_WITH_DIALOG("glare", "glareparms2", [](QWidget* fig) { ok(fig, "pushbutton_glareparms2"); });
    EXPECT_FALSE(entry->isEnabled()) << "after glare";
    RUN_WITH_DIALOG("fixdep", "fixdepparms", [](QWidget* fig) { ok(fig, "pushbutton_fixdepparms"); });
    window()->findChild<QAction*>("original_menu")->trigger();
    EXPECT_FALSE(entry->isEnabled()) << "after the source view";
}

// ---------------------------------------------------------------------------
// Long work: on the worker thread, stoppable, the window alive meanwhile

TEST_F(Commands, LongWorkCanBeStoppedAndLeavesTheStoredStateAsItWas) {
    // A glare computation that reports progress until it is asked to stop
    // (or fails with a message, for the last case).
    bool fail = false;
    std::atomic<int> reports{0};
    app::set_glare_computations({[&](const AnyImage&, const glare::Params&, const Progress* progress) -> glare::Result {
                                     EXPECT_NE(progress, nullptr);
                                     for (int i = 0; i < 2000; ++i) {
                                         progress->at(0.25);  // throws Stopped once stopped
                                         ++reports;
                                         if (fail && i == 3) throw Error("The veil could not be made.");
                                         std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                     }
                                     ADD_FAILURE() << "never stopped";
                                     return {};
                                 },
                                 {}});
    const OcumbraState before = state();
    const std::optional<ArrayD> veil_before = app::glare_veil();
    QWidget* w = window();
    auto* transform_entry = w->findChild<QAction*>("fixindep");
    auto* open_entry = w->findChild<QAction*>("OpenMenuItem");
    auto* close_entry = w->findChild<QAction*>("CloseMenuItem");
    auto* bar = w->findChild<QProgressBar*>("progressbar");
    auto* cancel = w->findChild<QPushButton*>("pushbutton_cancelwork");
    ASSERT_TRUE(transform_entry && open_entry && close_entry && bar && cancel);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(cancel->isVisible());

    for (const char* way : {"Cancel", "Escape", "error"}) {
        fail = std::string(way) == "error";
        fake_->errors.clear();
        reports = 0;
        bool seen = fail;  // a failure comes at once
        // While it runs: the window answers, other work cannot start, the bar
        // and the Cancel button show after a moment; then stop it.
        if (!fail) QTimer::singleShot(app::kProgressDelayMs + 200, [&] {
            seen = true;
            EXPECT_TRUE(app::is_working(fig_));
            EXPECT_FALSE(transform_entry->isEnabled());
            EXPECT_FALSE(open_entry->isEnabled());
            EXPECT_TRUE(close_entry->isEnabled());
            EXPECT_TRUE(bar->isVisible());
            EXPECT_EQ(bar->value(), 250) << "a quarter done";
            EXPECT_TRUE(cancel->isVisible());
            EXPECT_EQ(gui::get_string(state()[app::tag::statustext]), app::kBusyText);
            if (std::string(way) == "Cancel") {
                QTest::mouseClick(cancel, Qt::LeftButton);
            } else if (std::string(way) == "Escape") {
                QTest::keyClick(w, Qt::Key_Escape);
            }
        });
        RUN_WITH_DIALOG("glare", "glareparms2", [](QWidget* fig) { ok(fig, "pushbutton_glareparms2"); });
        EXPECT_TRUE(seen) << way;
        if (fail) {
            ASSERT_EQ(fake_->errors.size(), 1u) << way;
            EXPECT_EQ(fake_->errors[0], "The veil could not be made.");
        } else {
            EXPECT_TRUE(fake_->errors.empty()) << way << ": a stop is no error";
            EXPECT_GT(reports.load(), 50) << way << ": it ran until stopped";
        }
        expect_same_state(state(), before);
        EXPECT_EQ(app::glare_veil().has_value(), veil_before.has_value());
        EXPECT_FALSE(app::is_working(fig_));
        EXPECT_TRUE(transform_entry->isEnabled()) << way;
        EXPECT_TRUE(open_entry->isEnabled()) << way;
        EXPECT_FALSE(bar->isVisible()) << way;
        EXPECT_FALSE(cancel->isVisible()) << way;
        EXPECT_EQ(gui::get_string(state()[app::tag::statustext]), "STATUS: gereed") << way;
    }
    app::set_glare_computations({});
}

// ---------------------------------------------------------------------------
// Following the pointer

namespace {

// A pointer move (no button) or press over the image area at widget point p.
void pointer_event(QWidget* area, QEvent::Type type, QPointF p) {
    const Qt::MouseButton b = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, p, area->mapToGlobal(p), b, type == QEvent::MouseMove ? Qt::NoButton : b, Qt::NoModifier);
    QApplication::sendEvent(area, &e);
}

}  // namespace

TEST_F(Commands, FollowingThePointerRendersTheNewestPositionAndStoresTheClickResultAtRest) {
    auto* follow = window()->findChild<QAction*>("followpointer_menu");
    ASSERT_NE(follow, nullptr);
    EXPECT_FALSE(follow->isEnabled()) << "only in fixation mode";
    RUN_WITH_DIALOG("fixdep", "fixdepparms", [](QWidget* fig) { ok(fig, "pushbutton_fixdepparms"); });
    ASSERT_TRUE(follow->isEnabled());
    EXPECT_EQ(follow->shortcut(), QKeySequence("Ctrl+F"));
    follow->trigger();
    ASSERT_TRUE(follow->isChecked());
    const std::shared_ptr<app::LiveView> live = app::live_view(fig_);
    gui::ImageArea* area = gui::image_area(state()[app::tag::axes1]);
    const int presses_before = fake_->pointer_inputs;
    const int frames0 = live->frames_shown(), started0 = live->renderings_started(), results0 = live->results_shown();

    // A burst of 100 moves without a pause: the first starts a rendering, the
    // others replace each other while it runs; the last is rendered next.
    QPointF last;
    for (int i = 0; i < 100; ++i) {
        last = QPointF(40 + 3 * i, 30 + 2 * i);
        pointer_event(area, QEvent::MouseMove, last);
    }
    const QPointF d = area->widget_to_data(last);
    ASSERT_TRUE(QTest::qWaitFor([&] { return live->idle(); }, 10000));
    // Frames for the first position and the last, then at rest the result for
    // the last frame's point (no third engine rendering). When the first
    // rendering outlasts the rest time (a loaded machine), the result takes
    // the last frame's place.
    const int frames = live->frames_shown() - frames0, renderings = live->renderings_started() - started0;
    EXPECT_TRUE((frames == 2 && renderings == 3) || (frames == 1 && renderings == 2))
        << frames << " frames, " << renderings << " renderings";
    EXPECT_EQ(live->results_shown() - results0, 1);
    ASSERT_TRUE(live->last_shown().has_value());
    EXPECT_EQ(*live->last_shown(), d);

    // Exactly the fixation click's result at that point, stored and shown.
    const OcumbraState s = state();
    ArrayD expected = fixdep::render(*s.fixdep_session, {d.x(), d.y()}, s.im);
    EXPECT_TRUE(imt() == expected);
    EXPECT_TRUE(area_shows(expected));
    EXPECT_EQ(fake_->pointer_inputs, presses_before) << "no click wait while following";

    // A press renders and stores at once, without waiting for a click.
    const QPointF p(200, 150);
    pointer_event(area, QEvent::MouseButtonPress, p);
    pointer_event(area, QEvent::MouseButtonRelease, p);
    ASSERT_TRUE(QTest::qWaitFor([&] { return live->results_shown() - results0 == 2 && live->idle(); }, 10000));
    const QPointF dp = area->widget_to_data(p);
    expected = fixdep::render(*s.fixdep_session, {dp.x(), dp.y()}, s.im);
    EXPECT_TRUE(imt() == expected);
    EXPECT_EQ(fake_->pointer_inputs, presses_before);

    // A move after another command stored the record renders nothing: fixation mode is over.
    RUN_WITH_DIALOG("glare", "glareparms2", [](QWidget* fig) { ok(fig, "pushbutton_glareparms2"); });
    EXPECT_FALSE(follow->isEnabled());
    const int started = live->renderings_started();
    pointer_event(area, QEvent::MouseMove, QPointF(100, 100));
    QTest::qWait(app::kRestMs + 50);
    EXPECT_EQ(live->renderings_started(), started);
    follow->setEnabled(true);
    follow->trigger();  // off again
    EXPECT_FALSE(follow->isChecked());
}

TEST_F(Commands, SideBySideShowsSourceAndResultWithTheFixationAndSavesBoth) {
    RUN_WITH_DIALOG("fixdep", "fixdepparms", [](QWidget* fig) { ok(fig, "pushbutton_fixdepparms"); });
    auto* sbs = window()->findChild<QAction*>("sidebyside_menu");
    auto* cross = window()->findChild<QAction*>("showfixation_menu");
    ASSERT_TRUE(sbs && cross);
    EXPECT_FALSE(cross->isChecked());
    sbs->trigger();
    EXPECT_TRUE(cross->isChecked()) << "on with side by side";
    gui::ImageArea* area = gui::image_area(state()[app::tag::axes1]);
    ASSERT_TRUE(area->is_pair());
    const OcumbraState s = state();
    EXPECT_EQ(area->picture(0), gui::to_qimage(s.im));
    EXPECT_EQ(area->picture(1), gui::to_qimage(s.imt));
    ASSERT_TRUE(area->marker().has_value());
    EXPECT_EQ(*area->marker(), QPointF(300, 200)) << "the centre of 600 x 400";

    // Following the pointer over the right half: a press at the widget
    // position of pixel (150, 100) of the result fixates that pixel.
    auto* follow = window()->findChild<QAction*>("followpointer_menu");
    follow->trigger();
    const std::shared_ptr<app::LiveView> live = app::live_view(fig_);
    const int results_before = live->results_shown();
    const QPointF at = area->data_to_widget(QPointF(150, 100), 1);
    EXPECT_EQ(area->half_at(at), 1);
    pointer_event(area, QEvent::MouseButtonPress, at);
    pointer_event(area, QEvent::MouseButtonRelease, at);
    ASSERT_TRUE(QTest::qWaitFor([&] { return live->results_shown() == results_before + 1 && live->idle(); }, 10000));
    ASSERT_TRUE(state().fixpoint.has_value());
    EXPECT_NEAR(state().fixpoint->x, 150, 1e-9);
    EXPECT_NEAR(state().fixpoint->y, 100, 1e-9);
    EXPECT_TRUE(imt() == fixdep::render(*s.fixdep_session, {state().fixpoint->x, state().fixpoint->y}, s.im));
    EXPECT_TRUE(area->is_pair());
    EXPECT_EQ(area->picture(1), gui::to_qimage(state().imt));
    EXPECT_EQ(*area->marker(), QPointF(state().fixpoint->x, state().fixpoint->y));
    follow->trigger();
    cross->trigger();
    EXPECT_FALSE(area->marker().has_value()) << "Show fixation off";

    // File -> Save side by side: both in one file twice as wide, the source on the left as read.
    QTemporaryDir dir;
    fake_->file_replies = {{"both.png", dir.path().toStdString() + "/", false}};
    window()->findChild<QAction*>("Save_sidebyside")->trigger();
    ASSERT_TRUE(fake_->errors.empty()) << fake_->errors[0];
    EXPECT_EQ(fake_->choosers.back().arg, "SNatIm13.jpg");
    const AnyImage both = imread(dir.path().toStdString() + "/both.png");
    ASSERT_EQ(image_cols(both), 1200u);
    ASSERT_EQ(image_rows(both), 400u);
    const auto& b = std::get<ArrayU8>(both);
    const auto& im = std::get<ArrayU8>(s.im.get());
    bool left_is_source = true;
    for (std::size_t p = 0; p < 3; ++p)
        for (std::size_t c = 0; c < 600; c += 7)
            for (std::size_t r = 0; r < 400; r += 5) left_is_source = left_is_source && b(r, c, p) == im(r, c, p);
    EXPECT_TRUE(left_is_source);

    // The source view shows the source alone.
    window()->findChild<QAction*>("original_menu")->trigger();
    EXPECT_FALSE(sbs->isChecked());
    EXPECT_FALSE(area->is_pair());
}

TEST(Preview, ALargePhotoShownReducedGetsOneAtTheSizeItIsShown) {
    // 4000 x 3000 fitted to 1650 x 928: scale 928 / 3000, so 1237.3 x 928.
    EXPECT_EQ(app::preview_size(4000, 3000, QSizeF(1650, 928)), QSize(1237, 928));
    // 1920 x 1080: scale min(0.859375, 0.859259), so 1649.8 x 928.
    EXPECT_EQ(app::preview_size(1920, 1080, QSizeF(1650, 928)), QSize(1650, 928));
    // Shown at 0.926 of its size: rendered whole.
    EXPECT_EQ(app::preview_size(1920, 1080, QSizeF(1800, 1000)), std::nullopt);
    // Under a million pixels: rendered whole however small it is shown.
    EXPECT_EQ(app::preview_size(1000, 999, QSizeF(100, 100)), std::nullopt);
    EXPECT_EQ(app::preview_size(4000, 3000, QSizeF()), std::nullopt);
}

TEST_F(Commands, ALargePhotoFollowsWithPreviewFramesAndStoresTheFullResolutionResultAtRest) {
    // Two megapixels in the test window's area: a preview at the size shown.
    const std::size_t cols = 1700, rows = 1200;
    ArrayU8 photo(rows, cols, 3);
    for (std::size_t i = 0; i < photo.numel(); ++i) photo[i] = static_cast<std::uint8_t>((i * 7 + i / 977) % 256);
    QTemporaryDir dir;
    imwrite(AnyImage(photo), dir.path().toStdString() + "/large.png");
    fake_->file_replies = {{"large.png", dir.path().toStdString() + "/", false}};
    window()->findChild<QAction*>("OpenMenuItem")->trigger();
    RUN_WITH_DIALOG("fixdep", "fixdepparms", [](QWidget* fig) { ok(fig, "pushbutton_fixdepparms"); });
    ASSERT_TRUE(fake_->errors.empty()) << fake_->errors[0];
    const OcumbraState s = state();
    gui::ImageArea* area = gui::image_area(s[app::tag::axes1]);
    ASSERT_TRUE(s.fixdep_preview.has_value());
    const QSize shown = (area->image_rect(0).size() * area->devicePixelRatioF()).toSize();
    ASSERT_LT(shown.width(), 1500) << "the photo is shown reduced";
    EXPECT_EQ(image_cols(s.fixdep_preview->image), static_cast<std::size_t>(shown.width()));
    EXPECT_EQ(image_rows(s.fixdep_preview->image), static_cast<std::size_t>(shown.height()));
    EXPECT_EQ(s.fixdep_preview->session.pyramid(), fixdep::kPreviewPyramid);

    auto* follow = window()->findChild<QAction*>("followpointer_menu");
    follow->trigger();
    const std::shared_ptr<app::LiveView> live = app::live_view(fig_);
    const int previews = live->preview_frames(), results = live->results_shown();
    const QPointF at = area->data_to_widget(QPointF(301, 222));
    pointer_event(area, QEvent::MouseMove, at);
    ASSERT_TRUE(QTest::qWaitFor([&] { return live->results_shown() == results + 1 && live->idle(); }, 20000));
    EXPECT_EQ(live->preview_frames(), previews + 1);
    // The result at rest: full resolution, exactly the click's.
    const QPointF d = area->widget_to_data(at);
    EXPECT_TRUE(imt() == fixdep::render(*s.fixdep_session, {d.x(), d.y()}, s.im));
    EXPECT_EQ(image_cols(state().imt), cols);
    follow->trigger();
    // Back to the default image for the tests after this one.
    fake_->file_replies = {{"NatIm13.jpg", program_data_dir(), false}};
    window()->findChild<QAction*>("OpenMenuItem")->trigger();
}
