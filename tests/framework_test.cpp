// The window framework driven through a small test window "fwtest" whose
// layout is written by the test.
#include <cmath>
#include <fstream>

#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "tests/window_testing.hpp"
#include "toolkit/gui/framework.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/gui/internal.hpp"
#include "toolkit/gui/platform.hpp"

namespace ocu::gui {
namespace {

using test::FakePlatform;

constexpr const char* kLayout = R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0">
 <class>figure1</class>
 <widget class="QWidget" name="figure1">
  <property name="geometry"><rect><x>10</x><y>10</y><width>320</width><height>240</height></rect></property>
  <property name="windowTitle"><string>Test window</string></property>
  <layout class="QVBoxLayout" name="qt_layout">
   <item><widget class="QLineEdit" name="edit_value"/></item>
   <item><widget class="QPushButton" name="okbutton"><property name="text"><string>OK</string></property></widget></item>
   <item><widget class="QPushButton" name="failbutton"><property name="text"><string>Fail</string></property></widget></item>
   <item><widget class="QSlider" name="slider1"><property name="orientation"><enum>Qt::Horizontal</enum></property><property name="maximum"><number>1000</number></property></widget></item>
   <item><widget class="QLabel" name="1bad"/></item>
   <item><widget class="QLabel" name="bad tag"/></item>
   <item><widget class="QLabel" name="twin"/></item>
   <item><widget class="QLabel" name="twin"/></item>
   <item><widget class="ImageArea" name="axes1"/></item>
  </layout>
 </widget>
 <customwidgets><customwidget><class>ImageArea</class><extends>QWidget</extends><header>toolkit/gui/imshow.hpp</header></customwidget></customwidgets>
</ui>
)";

// Controls are looked up by Tag constants; a plain text in its place does
// not compile, so a misspelt tag constant is caught by the compiler.
template <class S>
concept IndexableByText = requires(const S& s) {
    s["figure1"];
};
template <class S>
concept IndexableByTag = requires(const S& s) {
    s[Tag{"figure1"}];
};
static_assert(!IndexableByText<StateBase> && IndexableByTag<StateBase>);

struct FwState : StateBase {
    double value = 0;
    double opened = 0;
};

// What the test window's operations saw.
struct Seen {
    int openings = 0;
    int creates = 0;
    std::size_t varargin = 0;
    std::string handle_visibility;
    bool visible_in_opening = true;
    bool throw_in_opening = false;
    bool modal = false;
    bool singleton = true;
};
Seen seen;

OCU_HEAD(fwtest_OpeningFcn)
void fwtest_OpeningFcn(Handle hObject, const Value&, FwState handles, const Args& varargin) {
    ++seen.openings;
    seen.varargin = varargin.size();
    seen.handle_visibility = get_handle_visibility(hObject);
    seen.visible_in_opening = is_visible(hObject);
    handles.opened += 1;
    guidata(hObject, handles);
    if (seen.throw_in_opening) throw Error("opening failed");
    if (seen.modal) uiwait(hObject);
}

OCU_HEAD(fwtest_OutputFcn)
Results fwtest_OutputFcn(Handle hObject, const Value&, const std::optional<FwState>& handles) {
    if (!handles) return {Value(std::string("no record"))};
    Results r{Value(hObject), Value(handles->value), Value(handles->opened)};
    if (seen.modal) delete_object(hObject);
    return r;
}

OCU_HEAD(edit_value_CreateFcn)
void edit_value_CreateFcn(Handle hObject, const Value&, FwState) {
    ++seen.creates;
    set_background(hObject, Rgb{1, 1, 1});
}

OCU_HEAD(edit_value_Callback)
void edit_value_Callback(Handle hObject, const Value&, FwState handles) {
    handles.value = str2double(get_string(hObject));
    guidata(hObject, handles);
}

OCU_HEAD(okbutton_Callback)
void okbutton_Callback(Handle, const Value&, FwState handles) { uiresume(handles[Tag{"figure1"}]); }

OCU_HEAD(failbutton_Callback)
void failbutton_Callback(Handle hObject, const Value&, FwState handles) {
    handles.value = -1;  // never stored
    (void)hObject;
    throw Error("boom");
}

// Changes its copy of the record but never stores it.
OCU_HEAD(unstored_Callback)
void unstored_Callback(Handle, const Value&, FwState handles) {
    handles.value = 99;
    handles.opened = 99;
}

OCU_HEAD(slider1_Callback)
void slider1_Callback(Handle hObject, const Value&, FwState handles) {
    handles.value = get_value(hObject);
    guidata(hObject, handles);
}

Results fwtest(const Args& varargin, int nargout);

const LocalOps<FwState>& fwtest_ops() {
    static const LocalOps<FwState> ops = [] {
        register_window_function("fwtest", fwtest);
        LocalOps<FwState> o("fwtest");
        OCU_GUI_OPENING(o, fwtest_OpeningFcn);
        OCU_GUI_OUTPUT(o, fwtest_OutputFcn);
        OCU_GUI_CALLBACK(o, edit_value_CreateFcn);
        OCU_GUI_CALLBACK(o, edit_value_Callback);
        OCU_GUI_CALLBACK(o, okbutton_Callback);
        OCU_GUI_CALLBACK(o, failbutton_Callback);
        OCU_GUI_CALLBACK(o, slider1_Callback);
        OCU_GUI_CALLBACK(o, unstored_Callback);
        return o;
    }();
    return ops;
}

Results fwtest(const Args& varargin, int nargout) {
    WindowDescription d;
    d.gui_Name = "fwtest";
    d.gui_Singleton = seen.singleton;
    d.gui_OpeningFcn = "fwtest_OpeningFcn";
    d.gui_OutputFcn = "fwtest_OutputFcn";
    if (!varargin.empty() && is_text(varargin[0])) d.gui_Callback = text(varargin[0]);
    return gui_mainfcn(d, fwtest_ops(), varargin, nargout);
}

class Framework : public ::testing::Test {
protected:
    void SetUp() override {
        test::ensure_app();
        ASSERT_TRUE(dir_.isValid());
        old_dir_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
        std::ofstream(dir_.filePath("fwtest.fig").toStdString()) << kLayout;
        auto fake = std::make_unique<FakePlatform>();
        fake_ = fake.get();
        set_platform(std::move(fake));
        seen = Seen{};
    }
    void TearDown() override {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (detail_is_ours(w)) delete_object(Handle(w));
        }
        test::settle();
        root_appdata().clear();
        set_platform(nullptr);
        QDir::setCurrent(old_dir_);
    }
    static bool detail_is_ours(QWidget* w) { return figure_of(Handle(w)) == w; }

    QWidget* open(Args args = {}) {
        Results r = fwtest(args, 1);
        EXPECT_EQ(r.size(), 1u);
        return qobject_cast<QWidget*>(handle(r.at(0)).data());
    }

    QTemporaryDir dir_;
    QString old_dir_;
    FakePlatform* fake_ = nullptr;
};

TEST(FrameworkKey, ScreenWideKeyIsReversedCleanedNameCutTo31) {
    EXPECT_EQ(openfig_key("fixindepparms.fig"), "OpenFig_gifsmrappednixif_SINGLE");
    // "/tmp/a_b/x.fig" cleans to "tmpa_bxfig", reversed "gifxb_apmt": 28 characters, not cut.
    EXPECT_EQ(openfig_key("/tmp/a_b/x.fig"), "OpenFig_gifxb_apmt_SINGLETON");
    EXPECT_EQ(openfig_key("a.fig"), "OpenFig_gifa_SINGLETON");
}

TEST(FrameworkText, NumbersToTextAndBack) {
    EXPECT_EQ(num2str(20), "20");
    EXPECT_EQ(num2str(-3), "-3");
    EXPECT_EQ(num2str(0.25), "0.25");
    EXPECT_EQ(num2str(3.14159265), "3.1416");
    EXPECT_EQ(num2str(1234.5678), "1234.5678");
    EXPECT_EQ(str2double("30"), 30.0);
    EXPECT_EQ(str2double(" 0.5 "), 0.5);
    EXPECT_EQ(str2double("1e3"), 1000.0);
    EXPECT_EQ(str2double("-2.5"), -2.5);
    EXPECT_TRUE(std::isnan(str2double("abc")));
    EXPECT_TRUE(std::isnan(str2double("")));
    EXPECT_TRUE(std::isnan(str2double("12abc")));
    EXPECT_TRUE(std::isnan(str2double("0x10")));
    EXPECT_TRUE(std::isnan(str2double("1 2")));
}

TEST_F(Framework, GuidataRefusesWhatIsNotAWindowOrInside) {
    const std::string msg = "H must be the handle to a figure or figure descendent.";
    try {
        guidata(Handle{});
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), msg);
    }
    QObject loose;
    try {
        guidata(Handle(&loose), Record{std::any(1)});
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), msg);
    }
    QWidget* fig = open();
    delete_object(Handle(fig));
    try {
        guidata(Handle(fig));
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), msg);
    }
}

TEST_F(Framework, OpenModeBuildsRecordFromTagsAndShowsWindow) {
    QWidget* fig = open();
    ASSERT_NE(fig, nullptr);
    EXPECT_TRUE(fig->isVisible());
    EXPECT_FALSE(seen.visible_in_opening);  // hidden during the opening step
    EXPECT_EQ(seen.openings, 1);
    EXPECT_EQ(seen.creates, 1);
    EXPECT_FALSE(isappdata(Handle(fig), "InGUIInitialization"));
    EXPECT_TRUE(isappdata(Handle(fig), "GUIOnScreen"));
    auto s = guidata<FwState>(Handle(fig));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->opened, 1);
    EXPECT_EQ(s->controls("figure1").data(), fig);
    EXPECT_TRUE(s->controls.has("edit_value"));
    EXPECT_TRUE(s->controls.has("axes1"));
    EXPECT_FALSE(s->controls.has("1bad"));
    EXPECT_FALSE(s->controls.has("bad tag"));
    EXPECT_FALSE(s->controls.has("qt_layout"));
    ASSERT_EQ(s->controls.all("twin").size(), 2u);
    EXPECT_NE(s->controls.all("twin")[0].data(), s->controls.all("twin")[1].data());
    EXPECT_THROW((*s)[Tag{"nosuchtag"}], Error);
    // The record can be read from any control of the window.
    auto from_control = guidata<FwState>(s->controls("okbutton"));
    ASSERT_TRUE(from_control);
    EXPECT_EQ(from_control->opened, 1);
    // The CreateFcn ran on the control.
    EXPECT_EQ(get_background(s->controls("edit_value")), (Rgb{1, 1, 1}));
}

TEST_F(Framework, SingletonIsReusedAndOpeningRunsAgainOnStoredRecord) {
    QWidget* a = open();
    QWidget* b = open();
    EXPECT_EQ(a, b);
    EXPECT_EQ(seen.openings, 2);
    EXPECT_TRUE(seen.visible_in_opening);  // re-used: already visible
    EXPECT_EQ(guidata<FwState>(Handle(a))->opened, 2);  // not rebuilt
    int figures = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) figures += detail_is_ours(w) && w->isVisible();
    EXPECT_EQ(figures, 1);
    EXPECT_EQ(seen.creates, 1);
}

TEST_F(Framework, NonSingletonOpensANewWindowEachTime) {
    seen.singleton = false;
    QWidget* a = open();
    QWidget* b = open();
    EXPECT_NE(a, b);
    EXPECT_EQ(guidata<FwState>(Handle(b))->opened, 1);
}

TEST_F(Framework, ThreeArgumentsWithCallbackNameAreAnOpenRequest) {
    QWidget* fig = open();
    Handle edit = guidata<FwState>(Handle(fig))->controls("edit_value");
    set_string(edit, "7");
    fwtest({Value(std::string("edit_value_Callback")), Value(edit), Value(Empty{})}, 0);
    EXPECT_EQ(seen.openings, 2);
    EXPECT_EQ(seen.varargin, 3u);
    EXPECT_EQ(guidata<FwState>(Handle(fig))->value, 0);  // the callback did not run
    // Four arguments: callback mode.
    fwtest({Value(std::string("edit_value_Callback")), Value(edit), Value(Empty{}), Value(guidata(edit))}, 0);
    EXPECT_EQ(seen.openings, 2);
    EXPECT_EQ(guidata<FwState>(Handle(fig))->value, 7);
}

TEST_F(Framework, VisibilityAndPropertyPairs) {
    seen.singleton = false;
    EXPECT_FALSE(open({Value(std::string("Visible")), Value(std::string("off"))})->isVisible());
    EXPECT_FALSE(open({Value(std::string("vis")), Value(std::string("OF"))})->isVisible());
    // A one-letter value is too short to count; "o" is also not a property value.
    EXPECT_TRUE(open({Value(std::string("visible")), Value(std::string("o"))})->isVisible());
    QWidget* named = open({Value(std::string("Name")), Value(std::string("First")), Value(std::string("Bogus")),
                           Value(1.0), Value(std::string("Name")), Value(std::string("Second"))});
    EXPECT_EQ(named->windowTitle().toStdString(), "First");  // the walk stopped at Bogus
    QWidget* hv = open({Value(std::string("HandleVisibility")), Value(std::string("callback"))});
    EXPECT_EQ(seen.handle_visibility, "off");
    EXPECT_EQ(get_handle_visibility(Handle(hv)), "callback");
}

TEST_F(Framework, CallbackWithTooManyInputsOrOutputsGivesRunTimeMessage) {
    QWidget* fig = open();
    Handle edit = guidata<FwState>(Handle(fig))->controls("edit_value");
    // __FILE__ may be relative to the build folder; the tests run in bin/.
    const int line = test::line_of(std::string(OCUMBRA_SOURCE_DIR) + "/tests/framework_test.cpp",
                                   "void edit_value_Callback(");
    ASSERT_GT(line, 0);
    const std::string name = "fwtest/edit_value_Callback";
    try {
        fwtest({Value(std::string("edit_value_Callback")), Value(edit), Value(Empty{}), Value(guidata(edit)),
                Value(1.0)},
               0);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Run-time Error: File: " + name + " Line: " + std::to_string(line) +
                                             " Column: 1 The function \"" + name +
                                             "\" was called with more than the declared number of inputs (3).");
    }
    try {
        fwtest({Value(std::string("edit_value_Callback")), Value(edit), Value(Empty{}), Value(guidata(edit))}, 1);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Run-time Error: File: " + name + " Line: " + std::to_string(line) +
                                             " Column: 1 The function \"" + name +
                                             "\" was called with more than the declared number of outputs (0).");
    }
    EXPECT_THROW(fwtest({Value(std::string("no_such_Callback")), Value(edit), Value(Empty{}), Value(guidata(edit))}, 0),
                 Error);
}

TEST_F(Framework, ControlEventsRunCallbacksByTag) {
    QWidget* fig = open();
    auto s = *guidata<FwState>(Handle(fig));
    auto* edit = qobject_cast<QLineEdit*>(s[Tag{"edit_value"}].data());
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    QTest::keyClicks(edit, "2.5");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(guidata<FwState>(Handle(fig))->value, 2.5);
    EXPECT_EQ(get_callback(s[Tag{"edit_value"}], "Callback"),
              "fwtest('edit_value_Callback',gcbo,[],guidata(gcbo))");
    // Slider positions map to 0..1.
    auto* slider = qobject_cast<QSlider*>(s[Tag{"slider1"}].data());
    slider->triggerAction(QAbstractSlider::SliderPageStepAdd);  // +10 of 1000 steps
    EXPECT_NEAR(guidata<FwState>(Handle(fig))->value, 0.01, 1e-12);
    set_value(s[Tag{"slider1"}], 0.0911);
    EXPECT_EQ(get_value(s[Tag{"slider1"}]), 0.0911);
}

TEST_F(Framework, ErrorInCallbackIsReportedAndStateKept) {
    QWidget* fig = open();
    auto s = *guidata<FwState>(Handle(fig));
    QTest::mouseClick(qobject_cast<QPushButton*>(s[Tag{"failbutton"}].data()), Qt::LeftButton);
    ASSERT_EQ(fake_->errors.size(), 1u);
    EXPECT_EQ(fake_->errors[0], "boom");
    EXPECT_TRUE(is_valid(Handle(fig)));
    EXPECT_EQ(guidata<FwState>(Handle(fig))->value, 0);
}

TEST_F(Framework, FailedOpeningLeavesHiddenWindowThatNextOpeningReplaces) {
    seen.throw_in_opening = true;
    EXPECT_THROW(open(), Error);
    QWidget* broken = gcf();
    ASSERT_NE(broken, nullptr);
    EXPECT_FALSE(broken->isVisible());
    EXPECT_TRUE(isappdata(Handle(broken), "InGUIInitialization"));
    Handle old(broken);
    seen.throw_in_opening = false;
    QWidget* fresh = open();
    EXPECT_FALSE(is_valid(old));
    EXPECT_TRUE(fresh->isVisible());
    EXPECT_EQ(guidata<FwState>(Handle(fresh))->opened, 1);
}

TEST_F(Framework, ModalWaitShowsWindowRunsItsCallbacksAndResumes) {
    seen.modal = true;
    bool visible_while_waiting = false;
    QTimer::singleShot(0, [&] {
        QWidget* fig = gcf();
        visible_while_waiting = fig && fig->isVisible();
        auto s = *guidata<FwState>(Handle(fig));
        auto* edit = qobject_cast<QLineEdit*>(s[Tag{"edit_value"}].data());
        edit->setText("0.25");
        edit->setModified(true);
        emit edit->editingFinished();
        QTest::mouseClick(qobject_cast<QPushButton*>(s[Tag{"okbutton"}].data()), Qt::LeftButton);
    });
    Results r = fwtest({Value(30.0), Value(0.5)}, 3);
    EXPECT_TRUE(visible_while_waiting);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(number(r[1]), 0.25);
    EXPECT_EQ(seen.varargin, 2u);
    EXPECT_FALSE(is_valid(handle(r[0])));  // the output step deleted it
}

TEST_F(Framework, ClosingTheWaitingWindowEndsTheWaitWithoutRecord) {
    seen.modal = true;
    QTimer::singleShot(0, [] { gcf()->close(); });
    Results r = fwtest({}, 1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(text(r[0]), "no record");
}

TEST_F(Framework, OpenfigRefusesOtherExtensionsAndMissingFiles) {
    try {
        openfig("fwtest.txt");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Argument must be a .fig file");
    }
    EXPECT_THROW(openfig("nosuchlayout"), Error);
    std::ofstream(dir_.filePath("broken.fig").toStdString()) << "<ui version=\"4.0\"><widget class=";
    EXPECT_THROW(openfig("broken.fig"), Error);
    // ".FIG" in capitals is accepted.
    std::ofstream(dir_.filePath("upper.FIG").toStdString()) << kLayout;
    QWidget* w = openfig("upper.FIG", Policy::New, Visibility::Invisible);
    EXPECT_FALSE(w->isVisible());
}

TEST_F(Framework, CallbackGetsItsOwnCopyOfTheRecord) {
    QWidget* fig = open();
    Handle edit = guidata<FwState>(Handle(fig))->controls("edit_value");
    // Through a control's callback text: a change that is not stored is lost.
    EXPECT_TRUE(run_callback("fwtest('unstored_Callback',gcbo,[],guidata(gcbo))", edit));
    EXPECT_EQ(guidata<FwState>(Handle(fig))->value, 0);
    EXPECT_EQ(guidata<FwState>(Handle(fig))->opened, 1);
    // Called directly: the caller's own argument list is left as it was.
    FwState mine = *guidata<FwState>(Handle(fig));
    mine.value = 5;
    const Args args{Value(std::string("unstored_Callback")), Value(edit), Value(Empty{}),
                    Value(Record{std::any(mine)})};
    fwtest(args, 0);
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(text(args[0]), "unstored_Callback");
    const auto* rec = std::get_if<Record>(&args[3]);
    ASSERT_NE(rec, nullptr);
    const auto* kept = std::any_cast<FwState>(&rec->value);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->value, 5);
    EXPECT_EQ(guidata<FwState>(Handle(fig))->value, 0);
}

TEST_F(Framework, InvalidCallbackTextIsReported) {
    QWidget* fig = open();
    EXPECT_FALSE(run_callback("fwtest(okbutton_Callback)", Handle(fig)));
    EXPECT_FALSE(run_callback("nowindow('x_Callback',gcbo,[],guidata(gcbo))", Handle(fig)));
    ASSERT_EQ(fake_->errors.size(), 2u);
    EXPECT_EQ(fake_->errors[1], "Undefined function \"nowindow\".");
}

TEST_F(Framework, MoveguiShrinksAndPlacesLargeWindowAtScreenCorner) {
    QWidget* fig = open();
    const QRect avail = fig->screen()->availableGeometry();
    fig->setGeometry(avail.left() + 100, avail.top() + 50, avail.width() + 900, avail.height() + 700);
    movegui(Handle(fig));
    EXPECT_EQ(fig->frameGeometry().size(), avail.size());
    EXPECT_EQ(fig->frameGeometry().topLeft(), avail.topLeft());
}

TEST_F(Framework, MoveguiPullsWindowsBackOntoTheScreen) {
    QWidget* fig = open();
    fig->setMinimumSize(0, 0);
    const QRect avail = fig->screen()->availableGeometry();
    fig->setGeometry(avail.left() - 50, avail.top() - 30, 200, 100);
    const QSize outer = fig->frameGeometry().size();
    movegui(Handle(fig));
    EXPECT_EQ(fig->frameGeometry(), QRect(avail.topLeft(), outer));
    // Beyond the bottom right corner: the frame's far edges land on the screen's.
    fig->setGeometry(avail.right() - 99, avail.bottom() - 49, 200, 100);
    movegui(Handle(fig));
    EXPECT_EQ(fig->frameGeometry().size(), outer);
    EXPECT_EQ(fig->frameGeometry().right(), avail.right());
    EXPECT_EQ(fig->frameGeometry().bottom(), avail.bottom());
    // A window already on screen stays where it is.
    fig->setGeometry(avail.left() + 40, avail.top() + 20, 200, 100);
    const QRect before = fig->frameGeometry();
    movegui(Handle(fig));
    EXPECT_EQ(fig->frameGeometry(), before);
    EXPECT_THROW(movegui(Handle(fig), "center"), Error);
}

TEST_F(Framework, UiwaitAndDeleteOnInvalidHandles) {
    EXPECT_THROW(uiwait(Handle{}), Error);
    uiresume(Handle{});  // nothing to resume: no effect
    delete_object(Handle{});
    QWidget* fig = open();
    delete_object(Handle(fig));
    EXPECT_FALSE(is_valid(Handle(fig)));
    test::settle();
    EXPECT_TRUE(Handle(fig).isNull());
}


// ---------------------------------------------------------------------------
// Image display

QRgb px(const QImage& im, int x, int y) { return im.pixel(x, y) & 0xFFFFFF; }
QRgb grayrgb(int g) { return qRgb(g, g, g) & 0xFFFFFF; }

TEST(Imshow, GrayMappingsOfEachSampleType) {
    test::ensure_app();
    // -0.5 black, 0 black, 0.5 level floor(128) = 128, 1 white, 7 white.
    ArrayD d(1, 5, 1, std::vector<double>{-0.5, 0, 0.5, 1, 7});
    QImage q = to_qimage(AnyImage(d), 256);
    EXPECT_EQ(px(q, 0, 0), grayrgb(0));
    EXPECT_EQ(px(q, 1, 0), grayrgb(0));
    EXPECT_EQ(px(q, 2, 0), grayrgb(128));
    EXPECT_EQ(px(q, 3, 0), grayrgb(255));
    EXPECT_EQ(px(q, 4, 0), grayrgb(255));
    // 64 levels: 0.5 -> level 32 -> 255 * 32 / 63 = 129.52 -> 130.
    EXPECT_EQ(px(to_qimage(AnyImage(d), 64), 2, 0), grayrgb(130));

    ArrayU8 u(1, 3, 1, std::vector<std::uint8_t>{0, 127, 255});
    q = to_qimage(AnyImage(u), 256);
    EXPECT_EQ(px(q, 1, 0), grayrgb(127));
    EXPECT_EQ(px(q, 2, 0), grayrgb(255));

    // 32768: floor(32768 / 65535 * 256) = 128.
    ArrayU16 w(1, 3, 1, std::vector<std::uint16_t>{0, 32768, 65535});
    q = to_qimage(AnyImage(w), 256);
    EXPECT_EQ(px(q, 1, 0), grayrgb(128));
    EXPECT_EQ(px(q, 2, 0), grayrgb(255));

    ArrayL l(1, 2, 1, std::vector<Logical>{Logical::False, Logical::True});
    q = to_qimage(AnyImage(l), 256);
    EXPECT_EQ(px(q, 0, 0), grayrgb(0));
    EXPECT_EQ(px(q, 1, 0), grayrgb(255));

    ArrayD nanimg(1, 1, 1, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(px(to_qimage(AnyImage(nanimg), 256), 0, 0), grayrgb(0));
}

TEST(Imshow, ColourMappingsAndRowColumnOrder) {
    test::ensure_app();
    // Row 2, column 3 holds (10, 20, 30): element (r, c, p) at p*6 + c*2 + r.
    std::vector<std::uint8_t> uv(18, 0);
    uv[0 * 6 + 2 * 2 + 1] = 10;
    uv[1 * 6 + 2 * 2 + 1] = 20;
    uv[2 * 6 + 2 * 2 + 1] = 30;
    ArrayU8 u(2, 3, 3, uv);
    QImage q = to_qimage(AnyImage(u), 256);
    ASSERT_EQ(q.width(), 3);
    ASSERT_EQ(q.height(), 2);
    EXPECT_EQ(px(q, 2, 1), qRgb(10, 20, 30) & 0xFFFFFF);
    EXPECT_EQ(px(q, 0, 0), 0u);

    // 0.5: 127.5 rounds to 128; 1.5 clipped to 255; -1 clipped to 0.
    ArrayD d(1, 1, 3, std::vector<double>{0.5, 1.5, -1});
    EXPECT_EQ(px(to_qimage(AnyImage(d), 256), 0, 0), qRgb(128, 255, 0) & 0xFFFFFF);

    // 128 / 257 = 0.498 -> 0.
    ArrayU16 w(1, 1, 3, std::vector<std::uint16_t>{65535, 257 * 100, 128});
    EXPECT_EQ(px(to_qimage(AnyImage(w), 256), 0, 0), qRgb(255, 100, 0) & 0xFFFFFF);

    EXPECT_THROW(to_qimage(AnyImage(ArrayU8(2, 2, 2)), 256), Error);
    EXPECT_TRUE(to_qimage(AnyImage(ArrayU8()), 256).isNull());
}

TEST(Imshow, DataCoordinatesArePixelCoordinatesWithSquarePixels) {
    test::ensure_app();
    ImageArea area;
    area.resize(300, 100);
    area.set_image(AnyImage(ArrayU8(10, 20)));  // 10 rows, 20 columns
    // Scale min(300/20, 100/10) = 10; the image is 200 wide, centred: left 50.
    EXPECT_EQ(area.image_rect(), QRectF(50, 0, 200, 100));
    // Centre of pixel (row 3, column 5) at x = 5, y = 3.
    const QPointF centre(50 + 4.5 * 10, 2.5 * 10);
    EXPECT_EQ(area.data_to_widget(QPointF(5, 3)), centre);
    const QPointF d = area.widget_to_data(centre);
    EXPECT_DOUBLE_EQ(d.x(), 5);
    EXPECT_DOUBLE_EQ(d.y(), 3);
    // Corners of the image: 0.5 and columns/rows + 0.5; outside goes beyond.
    EXPECT_DOUBLE_EQ(area.widget_to_data(QPointF(50, 0)).x(), 0.5);
    EXPECT_DOUBLE_EQ(area.widget_to_data(QPointF(250, 100)).y(), 10.5);
    EXPECT_DOUBLE_EQ(area.widget_to_data(QPointF(0, 0)).x(), -4.5);
}

TEST(Imshow, KnownPixelsMapAtEveryZoomAndInBothHalvesOfAPair) {
    test::ensure_app();
    ImageArea area;
    area.resize(300, 200);
    area.set_image(AnyImage(ArrayU8(10, 20)));  // 10 rows, 20 columns
    // (zoom, view centre or none, widget point of the centre of pixel row 3, column 7 / 16)
    auto expect_pixel = [&](QPointF widget, double col, double row, int half, const char* what) {
        EXPECT_EQ(area.half_at(widget), half) << what;
        const QPointF d = area.widget_to_data(widget);
        EXPECT_NEAR(d.x(), col, 1e-9) << what;
        EXPECT_NEAR(d.y(), row, 1e-9) << what;
        const QPointF back = area.data_to_widget(QPointF(col, row), half);
        EXPECT_NEAR(back.x(), widget.x(), 1e-9) << what;
        EXPECT_NEAR(back.y(), widget.y(), 1e-9) << what;
    };
    // Fit: scale min(300/20, 200/10) = 15, 300 x 150 centred: top 25.
    expect_pixel({6.5 * 15, 25 + 2.5 * 15}, 7, 3, 0, "fit");
    // Fixed 2: 40 x 20, centred in the area: left 130, top 90.
    area.set_zoom(ZoomMode::Fixed, 2.0);
    EXPECT_DOUBLE_EQ(area.scale(), 2.0);
    expect_pixel({130 + 6.5 * 2, 90 + 2.5 * 2}, 7, 3, 0, "fixed 2");
    // Fixed 40: 800 x 400, larger than the area, around the image centre
    // (10.5, 5.5): left 150 - 10 * 40 = -250, top 100 - 5 * 40 = -100.
    area.set_zoom(ZoomMode::Fixed, 40.0);
    expect_pixel({-250 + 6.5 * 40, -100 + 2.5 * 40}, 7, 3, 0, "fixed 40");
    // Moved to (15, 1): x stays, y is held at 3 so that the view stays on
    // the image (100 / 40 = 2.5 data units above the centre): left -430, top 0.
    area.set_view_centre(QPointF(15, 1));
    expect_pixel({-430 + 15.5 * 40, 2.5 * 40}, 16, 3, 0, "fixed 40, moved");
    // Back to fit, a pair side by side: halves of (300 - 4) / 2 = 148 x 200,
    // scale 7.4, image 148 x 74 at top 63; the second half starts at 152.
    area.set_zoom(ZoomMode::Fit);
    area.set_pair(std::make_shared<const AnyImage>(ArrayU8(10, 20)), std::make_shared<const AnyImage>(ArrayU8(10, 20)));
    expect_pixel({6.5 * 7.4, 63 + 2.5 * 7.4}, 7, 3, 0, "pair, left");
    expect_pixel({152 + 6.5 * 7.4, 63 + 2.5 * 7.4}, 7, 3, 1, "pair, right");
    // Taller than wide: one above the other, halves 200 x 148, scale 10,
    // image 200 x 100 at top 24 and 152 + 24.
    area.resize(200, 300);
    expect_pixel({6.5 * 10, 24 + 2.5 * 10}, 7, 3, 0, "pair, upper");
    expect_pixel({6.5 * 10, 176 + 2.5 * 10}, 7, 3, 1, "pair, lower");
    // At fixed zoom 1 the same pixel of both halves.
    area.set_zoom(ZoomMode::Fixed, 1.0);
    expect_pixel({90 + 6.5, 69 + 2.5}, 7, 3, 0, "pair, upper, fixed 1");
    expect_pixel({90 + 6.5, 152 + 69 + 2.5}, 7, 3, 1, "pair, lower, fixed 1");
}

TEST(Imshow, ReducedPicturesAreRoundedMeansOfBlocks) {
    // 3 x 5 gray uint8 reduced by 2: blocks 2 x 2, clipped at the edges.
    ArrayU8 g(3, 5);
    const std::uint8_t v[3][5] = {{0, 10, 20, 30, 40}, {1, 11, 21, 31, 41}, {100, 200, 255, 0, 7}};
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t c = 0; c < 5; ++c) g(r, c) = v[r][c];
    const QImage p = display_picture(AnyImage(g), 2, 256);
    ASSERT_EQ(p.size(), QSize(3, 2));
    auto gray_at = [&](int x, int y) { return qRed(p.pixel(x, y)); };
    EXPECT_EQ(gray_at(0, 0), 6);    // (0 + 10 + 1 + 11) / 4 = 5.5 -> 6
    EXPECT_EQ(gray_at(1, 0), 26);   // (20 + 30 + 21 + 31) / 4 = 25.5 -> 26
    EXPECT_EQ(gray_at(2, 0), 41);   // (40 + 41) / 2 = 40.5 -> 41
    EXPECT_EQ(gray_at(0, 1), 150);  // (100 + 200) / 2
    EXPECT_EQ(gray_at(2, 1), 7);
    // Step 1 is the full picture; doubles are clipped and scaled first.
    EXPECT_EQ(display_picture(AnyImage(g), 1, 256), to_qimage(AnyImage(g), 256));
    ArrayD d(1, 2, 3, std::vector<double>{1.5, 0.0, 0.2, 0.4, -1, 0.5});
    const QImage q = display_picture(AnyImage(d), 2, 256);
    ASSERT_EQ(q.size(), QSize(1, 1));
    EXPECT_EQ(q.pixel(0, 0) & 0xFFFFFFu, qRgb(128, 77, 64) & 0xFFFFFFu);  // (255+0)/2, (51+102)/2, (0+128)/2
}

// Colour pictures larger than the tiles the conversion works in, at steps
// 1, 2 and 3, against block means worked out pixel by pixel.
TEST(Imshow, ReducedColourPicturesAcrossTilesAreBlockMeans) {
    const std::size_t rows = 70, cols = 150;
    ArrayU8 a(rows, cols, 3);
    std::uint32_t state = 99;
    for (auto& v : a.span()) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<std::uint8_t>(state >> 24);
    }
    for (int step : {1, 2, 3}) {
        const QImage p = display_picture(AnyImage(a), step, 256);
        const std::size_t k = static_cast<std::size_t>(step);
        ASSERT_EQ(p.size(), QSize(static_cast<int>((cols + k - 1) / k), static_cast<int>((rows + k - 1) / k)));
        for (int y = 0; y < p.height(); ++y)
            for (int x = 0; x < p.width(); ++x) {
                int want[3];
                for (std::size_t q = 0; q < 3; ++q) {
                    unsigned sum = 0, count = 0;
                    for (std::size_t r = y * k; r < std::min(rows, (y + 1) * k); ++r)
                        for (std::size_t c = x * k; c < std::min(cols, (x + 1) * k); ++c, ++count) sum += a(r, c, q);
                    want[q] = static_cast<int>((sum + count / 2) / count);
                }
                ASSERT_EQ(p.pixel(x, y) & 0xFFFFFFu, qRgb(want[0], want[1], want[2]) & 0xFFFFFFu)
                    << "step " << step << " at " << x << ", " << y;
            }
    }
}

TEST_F(Framework, ImshowReplacesImageInSameAreaAndKeepsWindowSize) {
    QWidget* fig = open();
    const QSize size = fig->size();
    ImageArea* area = image_area(guidata<FwState>(Handle(fig))->controls("axes1"));
    ASSERT_NE(area, nullptr);
    axes(Handle(area));
    EXPECT_EQ(gca(), area);
    ArrayU8 a(4, 6, 3, 200);
    EXPECT_EQ(imshow(AnyImage(a)), area);
    EXPECT_EQ(area->image_rows(), 4u);
    ArrayD b(8, 2, 1, 0.0);
    imshow(AnyImage(b));
    EXPECT_EQ(area->image_rows(), 8u);
    EXPECT_EQ(area->image_cols(), 2u);
    EXPECT_EQ(px(area->picture(), 0, 0), grayrgb(0));
    EXPECT_EQ(fig->size(), size);
}

TEST_F(Framework, ImshowWithoutWindowCreatesOne) {
    ASSERT_EQ(gcf(), nullptr);
    ImageArea* a = imshow(AnyImage(ArrayU8(5, 5)));
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->window()->isVisible());
    EXPECT_EQ(gcf(), a->window());
}

// ---------------------------------------------------------------------------
// The Qt platform operations, answered by a timer acting for the person.

template <class Dialog>
Dialog* modal_dialog() {
    return dynamic_cast<Dialog*>(QApplication::activeModalWidget());
}

class QtOperations : public ::testing::Test {
protected:
    void SetUp() override {
        test::ensure_app();
        ASSERT_TRUE(dir_.isValid());
        set_platform(nullptr);
    }
    std::string path(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }
    QTemporaryDir dir_;
};

TEST_F(QtOperations, FileOpenChooserReturnsNameAndFolderOrCancel) {
    std::ofstream(path("pic.bmp")) << "x";
    std::string title, filters;
    QTimer::singleShot(0, [&] {
        auto* d = modal_dialog<QFileDialog>();
        ASSERT_NE(d, nullptr);
        title = d->windowTitle().toStdString();
        filters = d->nameFilters().join("|").toStdString();
        d->selectFile(QString::fromStdString(path("pic.bmp")));
        static_cast<QDialog*>(d)->accept();
    });
    FileChoice c = platform().get_file("*.bmp;*.tif;*.jpg", "image files (*.bmp,*.tif,*.jpg)");
    EXPECT_EQ(title, "image files (*.bmp,*.tif,*.jpg)");
    EXPECT_EQ(filters, "*.bmp;*.tif;*.jpg (*.bmp *.tif *.jpg)|All files (*)");
    EXPECT_FALSE(c.cancelled);
    EXPECT_EQ(c.filename, "pic.bmp");
    EXPECT_EQ(c.pathname, dir_.path().toStdString() + "/");

    QTimer::singleShot(0, [] {
        if (auto* d = modal_dialog<QFileDialog>()) d->reject();
    });
    c = platform().get_file("*.bmp", "t");
    EXPECT_TRUE(c.cancelled);
    EXPECT_EQ(c.filename, "");
}

TEST_F(QtOperations, FileSaveChooserProposesNameAndUsesPatternAsFilter) {
    std::string proposed;
    QTimer::singleShot(0, [&] {
        auto* d = modal_dialog<QFileDialog>();
        ASSERT_NE(d, nullptr);
        proposed = d->selectedFiles().value(0).toStdString();
        static_cast<QDialog*>(d)->accept();
    });
    FileChoice c = platform().put_file(path("TNatIm13.jpg"), "Save transformed image");
    EXPECT_EQ(proposed, path("TNatIm13.jpg"));
    EXPECT_EQ(c.filename, "TNatIm13.jpg");
    EXPECT_EQ(c.pathname, dir_.path().toStdString() + "/");

    std::string filter;
    QTimer::singleShot(0, [&] {
        auto* d = modal_dialog<QFileDialog>();
        ASSERT_NE(d, nullptr);
        filter = d->nameFilters().value(0).toStdString();
        d->selectFile("map");  // typed without extension
        static_cast<QDialog*>(d)->accept();
    });
    c = platform().put_file(dir_.path().toStdString() + "/res*.bmp", "Save resmap");
    EXPECT_EQ(filter, "res*.bmp (res*.bmp)");
    EXPECT_EQ(c.filename, "map.bmp");
}

TEST_F(QtOperations, QuestionReturnsChosenButtonOrEmptyWhenClosed) {
    std::string text, title;
    QTimer::singleShot(0, [&] {
        auto* box = modal_dialog<QMessageBox>();
        ASSERT_NE(box, nullptr);
        text = box->text().toStdString();
        title = box->windowTitle().toStdString();
        EXPECT_EQ(box->defaultButton()->text().toStdString(), "Yes");
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == "No") b->click();
        }
    });
    EXPECT_EQ(platform().question("Close ocumbra?", "Close ocumbra...", {"Yes", "No"}, "Yes"), "No");
    EXPECT_EQ(text, "Close ocumbra?");
    EXPECT_EQ(title, "Close ocumbra...");
    // The question cannot be closed without an answer: closing is refused.
    bool still_open = false;
    QTimer::singleShot(0, [&] {
        auto* box = modal_dialog<QMessageBox>();
        ASSERT_NE(box, nullptr);
        box->close();
        still_open = box->isVisible();
        box->defaultButton()->click();
    });
    EXPECT_EQ(platform().question("q", "t", {"Yes", "No"}, "Yes"), "Yes");
    EXPECT_TRUE(still_open);
}

TEST_F(QtOperations, ErrorReportShowsTheText) {
    std::string text;
    QTimer::singleShot(0, [&] {
        auto* box = modal_dialog<QMessageBox>();
        ASSERT_NE(box, nullptr);
        text = box->text().toStdString();
        box->accept();
    });
    platform().report_error("File \"x.jpg\" does not exist.");
    EXPECT_EQ(text, "File \"x.jpg\" does not exist.");
}

TEST_F(QtOperations, PrintDialogPrintsWindowToPdfFile) {
    QWidget fig;
    fig.resize(200, 100);
    detail::register_figure(&fig);
    const std::string pdf = path("print.pdf");
    QTimer::singleShot(0, [&] {
        auto* d = modal_dialog<QPrintDialog>();
        ASSERT_NE(d, nullptr);
        // Without a print server the dialog offers printing to a PDF file.
        auto* name = d->findChild<QLineEdit*>("filename");
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString(pdf));
        static_cast<QDialog*>(d)->accept();
    });
    platform().print_dialog(Handle(&fig));
    std::ifstream in(pdf, std::ios::binary);
    std::string head(5, '\0');
    in.read(head.data(), 5);
    EXPECT_EQ(head, "%PDF-");
    // Cancelled: nothing printed.
    QTimer::singleShot(0, [] {
        if (auto* d = modal_dialog<QPrintDialog>()) d->reject();
    });
    platform().print_dialog(Handle(&fig));
}

TEST_F(QtOperations, PointerInputGivesDataCoordinatesOfTheClick) {
    auto* fig = new QWidget;
    fig->resize(300, 100);
    auto* a = new ImageArea(fig);
    a->setGeometry(0, 0, 300, 100);
    detail::register_figure(fig);
    a->set_image(AnyImage(ArrayU8(10, 20)));
    fig->show();
    // Scale 10, image from x = 50: the centre of pixel (row 3, column 5) is at (95, 25).
    QTimer::singleShot(0, [a] { QTest::mouseClick(a, Qt::LeftButton, {}, QPoint(95, 25)); });
    const auto p = platform().pointer_input(Handle(fig));
    EXPECT_NEAR(p[0], 5, 0.1);
    EXPECT_NEAR(p[1], 3, 0.1);

    // Presses on a control or the menu bar work them and the wait goes on;
    // the second press of a double-click (which arrives as a double-click
    // only) is the click.
    auto* button = new QPushButton("b", fig);
    button->setGeometry(0, 0, 40, 20);
    auto* bar = new QMenuBar(fig);
    bar->setGeometry(0, 80, 40, 20);
    int pressed = 0;
    QObject::connect(button, &QPushButton::clicked, [&pressed] { ++pressed; });
    QTimer::singleShot(0, [&] {
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(20, 10));
        const QPoint at(135, 65);  // pixel (row 7, column 9)
        QMouseEvent dbl(QEvent::MouseButtonDblClick, at, a->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                        Qt::NoModifier);
        QApplication::sendEvent(a, &dbl);
    });
    // Should the double-click not end the wait, a click at pixel (1, 1) does.
    QTimer fallback;
    fallback.setSingleShot(true);
    QObject::connect(&fallback, &QTimer::timeout, [a] { QTest::mouseClick(a, Qt::LeftButton, {}, QPoint(55, 5)); });
    fallback.start(2000);
    const auto q = platform().pointer_input(Handle(fig));
    fallback.stop();
    EXPECT_EQ(pressed, 1);
    EXPECT_NEAR(q[0], 9, 0.1);
    EXPECT_NEAR(q[1], 7, 0.1);

    // Escape, and deleting the window, cancel the wait: not an error.
    QTimer::singleShot(0, [fig] { QTest::keyClick(fig, Qt::Key_Escape); });
    EXPECT_THROW(platform().pointer_input(Handle(fig)), Cancelled);
    QTimer::singleShot(0, [fig] { delete_object(Handle(fig)); });
    EXPECT_THROW(platform().pointer_input(Handle(fig)), Cancelled);
    test::settle();
}

}  // namespace
}  // namespace ocu::gui
