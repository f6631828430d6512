#pragma once
// Test helpers for driving the parameter dialogs and the main window on the
// offscreen platform: a QApplication for the whole test program (with the
// stand-in for the person of window_testing.hpp installed) and a driver that
// acts on a dialog once it waits.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/window_testing.hpp"
#include "toolkit/gui/framework.hpp"
#include "toolkit/gui/platform.hpp"

namespace ocu::testing {

using test::FakePlatform;
using test::FakePlatformScope;

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "gui_test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        // A closed dialog must not end the event loops of the test program.
        QApplication::setQuitOnLastWindowClosed(false);
        // No real message boxes: a reported error must not wait for a person.
        gui::set_platform(std::make_unique<FakePlatform>());
    }
    void TearDown() override {
        gui::set_platform(nullptr);
        app_.reset();
    }

private:
    std::unique_ptr<QApplication> app_;
};

// The visible window loaded from "<layout>.fig", or null.
inline QWidget* visible_window(const std::string& layout) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        const std::string file = w->property("ocuLayoutFile").toString().toStdString();
        const std::string want = layout + ".fig";
        if (w->isVisible() && file.size() >= want.size() &&
            file.compare(file.size() - want.size(), want.size(), want) == 0) {
            return w;
        }
    }
    return nullptr;
}

// Runs `action` on the dialog loaded from "<layout>.fig" as soon as it is
// visible (that is, while it waits); polls every few milliseconds.
class WhenOpen {
public:
    WhenOpen(std::string layout, std::function<void(QWidget*)> action)
        : layout_(std::move(layout)), action_(std::move(action)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (QWidget* w = visible_window(layout_)) {
                timer_.stop();
                ran_ = true;
                action_(w);
                // An action that failed half-way leaves the dialog waiting:
                // close it after a while so the test ends with its failure.
                QPointer<QWidget> guard(w);
                QTimer::singleShot(5000, &timer_, [guard, layout = layout_] {
                    QWidget* left = guard.data();
                    if (left != nullptr && visible_window(layout) == left) {
                        ADD_FAILURE() << "the dialog was left open";
                        left->close();
                    }
                });
            }
        });
        timer_.start(2);
    }
    bool ran() const { return ran_; }

private:
    std::string layout_;
    std::function<void(QWidget*)> action_;
    QTimer timer_;
    bool ran_ = false;
};

// Types `text` into the edit field `tag` of `fig` as a person does (replacing
// what it shows) and commits it by leaving the field with Tab (Return would
// commit it and press OK).
inline void type_into(QWidget* fig, const char* tag, const QString& text) {
    auto* e = fig->findChild<QLineEdit*>(tag);
    ASSERT_NE(e, nullptr) << tag;
    QApplication::setActiveWindow(fig);
    e->setFocus();
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Backspace);
    QTest::keyClicks(e, text);
    QTest::keyClick(e, Qt::Key_Tab);
    ASSERT_FALSE(e->isModified()) << "the text typed into " << tag << " was not committed";
}

inline QString field_text(QWidget* fig, const char* tag) {
    auto* e = fig->findChild<QLineEdit*>(tag);
    return e ? e->text() : QString("<no field>");
}

}  // namespace ocu::testing
