// The main window's Condition command end to end on the offscreen platform:
// the dialog answered as a person answers it, the result compared bit for bit
// with the scenario pipeline's own run on the same input, the click after a combined run with the pipeline's render at that point, and
// the Condition dialog's scenario files (a file with mistakes, the current
// values saved).
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/live_view.hpp"
#include "app/ocumbra.hpp"
#include "cli_testutil.hpp"
#include "colour/colour.hpp"
#include "dialogs_testutil.hpp"
#include "testutil.hpp"
#include "fixindep/fixindep.hpp"
#include "scenario/pipeline.hpp"
#include "scenario/scenario.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

using namespace ocu;
using namespace ocu::testing;
using app::OcumbraState;

namespace {

const auto* const qt_env = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// A click on a button, or on the box of a check box or radio button.
void click(QWidget* fig, const char* button) {
    auto* b = fig->findChild<QAbstractButton*>(button);
    ASSERT_NE(b, nullptr) << button;
    const bool box = qobject_cast<QCheckBox*>(b) || qobject_cast<QRadioButton*>(b);
    QTest::mouseClick(b, Qt::LeftButton, {}, box ? QPoint(8, b->height() / 2) : QPoint());
}

// The index of a preset in the Condition dialog's list (after "Current settings").
int preset_entry(const std::string& name) {
    const auto all = scenario::presets();
    for (std::size_t i = 0; i < all.size(); ++i)
        if (all[i].name == name) return static_cast<int>(i) + 1;
    ADD_FAILURE() << "no preset " << name;
    return 0;
}

void choose(QWidget* fig, int index) {
    auto* c = fig->findChild<QComboBox*>("popup_condition");
    ASSERT_NE(c, nullptr);
    c->setCurrentIndex(index);
    emit c->activated(index);
}

class CombinedCommands : public ::testing::Test {
protected:
    void SetUp() override {
        fig_ = gui::handle(app::ocumbra({}, 1).at(0));
        ASSERT_TRUE(gui::is_valid(fig_));
        app::ocumbra({}, 0);  // the opening step's defaults
        const AnyImage im = imread(find_data_file("NatIm13.jpg"));
        OcumbraState s = state();
        s.im = im;
        s.imt = im;
        s.filename = "NatIm13.jpg";
        gui::guidata(fig_, s);
        fake_->on_flush = [this] { busy_text_ = gui::get_string(state()[app::tag::statustext]); };
    }
    void TearDown() override { fake_->on_flush = nullptr; }

    OcumbraState state() const { return *gui::guidata<OcumbraState>(fig_); }
    QWidget* window() const { return gui::figure_of(fig_); }
    ArrayD imt() const {
        const OcumbraState s = state();
        const auto* a = std::get_if<ArrayD>(&s.imt.get());
        return a ? *a : ArrayD{};
    }
    bool area_shows(const AnyImage& image) const {
        const gui::ImageArea* area = gui::image_area(state()[app::tag::axes1]);
        return area != nullptr && area->picture() == gui::to_qimage(image);
    }
    // Chooses `command` from the Transform menu, answering dialog `layout` with `answer`.
    void run(const char* command, const char* layout, std::function<void(QWidget*)> answer) {
        WhenOpen w(layout, std::move(answer));
        window()->findChild<QAction*>(command)->trigger();
        EXPECT_TRUE(w.ran()) << "no " << layout;
    }
    void press_in_image() {
        QWidget* area = gui::image_area(state()[app::tag::axes1]);
        QTest::mousePress(area, Qt::LeftButton, {}, QPoint(20, 20));
        QTest::mouseRelease(area, Qt::LeftButton, {}, QPoint(20, 20));
    }

    FakePlatformScope fake_;
    gui::Handle fig_;
    std::string busy_text_;
};

}  // namespace

TEST_F(CombinedCommands, APresetIsTheCombinedRunAndAClickRendersTheFieldStepThere) {
    const AnyImage im = state().im;
    const scenario::Scenario& preset = scenario::preset("diabetic-retinopathy");  // all four steps
    run("condition", "conditionparms", [](QWidget* fig) {
        choose(fig, preset_entry("diabetic-retinopathy"));
        click(fig, "pushbutton_condition");
    });
    ASSERT_TRUE(fake_->errors.empty()) << fake_->errors[0];
    const scenario::Params params = scenario::resolve(preset, find_data_file("NatIm13.jpg"));
    EXPECT_TRUE(imt() == scenario::run(im, params));
    EXPECT_TRUE(area_shows(imt()));
    const OcumbraState s = state();
    EXPECT_EQ(s.prevtrans, app::Transform::Condition);
    EXPECT_TRUE(s.fixactive);
    EXPECT_EQ(s.mar, 0.5);  // 20/40 from the preset, now the dialogs' acuity
    EXPECT_EQ(s.glarefact, 3);
    EXPECT_EQ(s.colour.type, colour::Deficiency::Tritan);
    EXPECT_EQ(busy_text_, "STATUS: resultaat berekenen...");

    // A click: the field step alone, from the kept intermediate image.
    fake_->points = {{120.5, 333}};
    press_in_image();
    ASSERT_TRUE(fake_->errors.empty()) << fake_->errors[0];
    scenario::Prepared reference = scenario::prepare(im, params);
    const ArrayD at_point = reference.render({120.5, 333});
    EXPECT_TRUE(imt() == at_point);
    EXPECT_TRUE(area_shows(at_point));
    EXPECT_FALSE(at_point == reference.render(reference.centre()));

    // Following the pointer renders the field step too: a press while
    // following stores the pipeline's render at the point pressed.
    auto* follow = window()->findChild<QAction*>("followpointer_menu");
    ASSERT_TRUE(follow != nullptr && follow->isEnabled());
    follow->trigger();
    const std::shared_ptr<app::LiveView> live = app::live_view(fig_);
    gui::ImageArea* area = gui::image_area(state()[app::tag::axes1]);
    const int results = live->results_shown();
    QTest::mousePress(area, Qt::LeftButton, {}, QPoint(60, 40));
    ASSERT_TRUE(QTest::qWaitFor([&] { return live->results_shown() == results + 1 && live->idle(); }, 10000));
    const QPointF d = area->widget_to_data(QPointF(60, 40));
    EXPECT_TRUE(imt() == reference.render({d.x(), d.y()}));
    follow->trigger();

    // Another simulation drops the combined run; the fixation-dependent one renders its own.
    run("fixdep", "fixdepparms", [](QWidget* fig) { click(fig, "pushbutton_fixdepparms"); });
    EXPECT_FALSE(state().combined);
    fake_->points = {{120.5, 333}};
    press_in_image();
    const fixdep::Params fp{.width = 20, .mar = 0.5, .polim = imread(find_data_file("polarplotREmd.bmp"))};
    fixdep::Session session = fixdep::prepare(600, 400, fp);
    EXPECT_TRUE(imt() == fixdep::render(session, {120.5, 333}, im));
}

TEST_F(CombinedCommands, EveryPresetShowsItsDescriptionAndRunsAsThePipeline) {
    // A small image keeps the ten runs short; the field steps render at its centre.
    const AnyImage im = testutil::random_u8(90, 130, 3, 11);
    OcumbraState s = state();
    s.im = im;
    gui::guidata(fig_, s);
    for (const scenario::Scenario& preset : scenario::presets()) {
        std::string shown;
        run("condition", "conditionparms", [&](QWidget* fig) {
            choose(fig, preset_entry(preset.name));
            shown = fig->findChild<QLabel*>("text_description")->text().toStdString();
            click(fig, "pushbutton_condition");
        });
        ASSERT_TRUE(fake_->errors.empty()) << preset.name << ": " << fake_->errors[0];
        EXPECT_EQ(shown.rfind(preset.description, 0), 0u) << shown;
        EXPECT_TRUE(imt() == scenario::run(im, scenario::resolve(preset, find_data_file("NatIm13.jpg")))) << preset.name;
        EXPECT_EQ(state().fixactive, preset.steps.field) << preset.name;
    }
}

TEST_F(CombinedCommands, CurrentSettingsRunAndSaveTheDialogsValues) {
    testutil::TempDir dir;
    run("fixindep", "fixindepparms", [](QWidget* fig) {
        type_into(fig, "edit_mar", "20/40");
        type_into(fig, "edit_contrastfactor", "2");
        click(fig, "pushbutton_fixparms");
    });
    fake_->file_replies = {{"mine.json", dir.path() + "/", false}};
    run("condition", "conditionparms", [](QWidget* fig) {
        click(fig, "checkbox_glare");  // off: acuity and field remain
        click(fig, "pushbutton_save");
        click(fig, "pushbutton_condition");
    });
    ASSERT_TRUE(fake_->errors.empty()) << fake_->errors[0];
    const scenario::Scenario saved = scenario::read_scenario(dir.file("mine.json"));
    EXPECT_EQ(saved.steps, (scenario::Steps{.acuity = true, .field = true}));
    EXPECT_EQ(saved.width, 20);
    EXPECT_EQ(saved.acuity, 0.5);
    EXPECT_EQ(saved.contrast.factor(), 2);
    EXPECT_EQ(saved.glare, 1);
    ASSERT_TRUE(saved.field.has_value());
    EXPECT_EQ(std::filesystem::path(saved.field->file).filename(), "polarplotREmd.bmp");

    scenario::Params p;
    p.steps = saved.steps;
    p.mar = 0.5;
    p.contrastf = 2;
    p.polim = imread(find_data_file("polarplotREmd.bmp"));
    EXPECT_TRUE(imt() == scenario::run(state().im, p));
}

TEST_F(CombinedCommands, AScenarioFileWithAMistakeOrNoStepKeepsTheDialogAsItWas) {
    testutil::TempDir dir;
    std::ofstream(dir.file("typo.json")) << R"({"steps": ["acuity"], "acuity": "20/0"})";
    std::ofstream(dir.file("cataract.json")) << R"({"name": "cat", "steps": ["glare", "acuity"], "acuity": "6/12",
        "contrast": {"logcs": 1.35}, "glare": 6})";
    fake_->file_replies = {{"typo.json", dir.path() + "/", false}, {"cataract.json", dir.path() + "/", false}};
    const OcumbraState before = state();
    int entries_after_typo = 0;
    bool glare_after_typo = false, open_after_none = false;
    run("condition", "conditionparms", [&](QWidget* fig) {
        auto* list = fig->findChild<QComboBox*>("popup_condition");
        click(fig, "pushbutton_open");
        entries_after_typo = list->count();
        glare_after_typo = fig->findChild<QCheckBox*>("checkbox_glare")->isChecked();
        for (const char* box : {"checkbox_glare", "checkbox_acuity", "checkbox_field"}) click(fig, box);
        click(fig, "pushbutton_condition");  // no step
        open_after_none = fig->isVisible();
        click(fig, "pushbutton_open");
        EXPECT_EQ(list->currentText().toStdString(), "File: cataract.json");
        click(fig, "pushbutton_condition");
    });
    ASSERT_EQ(fake_->errors.size(), 2u);
    EXPECT_NE(fake_->errors[0].find("acuity"), std::string::npos) << fake_->errors[0];
    EXPECT_NE(fake_->errors[0].find("20/0"), std::string::npos) << fake_->errors[0];
    EXPECT_EQ(fake_->errors[1], "Choose at least one step: glare, acuity and contrast, colour vision or visual field.");
    EXPECT_EQ(entries_after_typo, 1 + static_cast<int>(scenario::presets().size()));
    EXPECT_TRUE(glare_after_typo);
    EXPECT_TRUE(open_after_none);
    // The file's scenario ran: no field step, so no fixation mode.
    scenario::Params p;
    p.steps = {.glare = true, .acuity = true};
    p.mar = 0.5;
    p.contrastf = std::pow(10.0, 1.95 - 1.35);
    p.glarefact = 6;
    EXPECT_TRUE(imt() == scenario::run(before.im, p));
    EXPECT_FALSE(state().fixactive);
    EXPECT_FALSE(state().combined);
}
