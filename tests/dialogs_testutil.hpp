#pragma once
// Test helpers for driving the parameter dialogs and the main window on the
// offscreen platform: a QApplication for the whole test program, a stand-in
// for the person (file chooser, question, pointer click) and a driver that
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

#include "toolkit/gui/framework.hpp"
#include "toolkit/gui/platform.hpp"

namespace ocu::testing {

// Stands in for the person: answers the choosers and questions from queues
// and records what it was asked.
class FakePlatform : public gui::Platform {
public:
    std::deque<gui::FileChoice> files;  // answers of get_file, in order
    std::vector<std::pair<std::string, std::string>> get_file_calls;  // (filter, title)
    std::string answer = "Yes";                                   // answer of question
    std::vector<std::pair<std::string, std::string>> questions;   // (question, title)
    std::vector<std::vector<std::string>> question_buttons;
    std::vector<std::string> question_defaults;
    int prints = 0;
    gui::Handle printed;
    std::deque<std::array<double, 2>> points;  // answers of pointer_input
    int pointer_inputs = 0;
    int flushes = 0;
    std::vector<std::string> errors;
    // Called at each flush (the status line is busy then).
    std::function<void()> on_flush;

    gui::FileChoice get_file(const std::string& filter, const std::string& title) override {
        get_file_calls.emplace_back(filter, title);
        if (files.empty()) return {};
        gui::FileChoice c = files.front();
        files.pop_front();
        return c;
    }
    gui::FileChoice put_file(const std::string&, const std::string&) override { return {}; }
    std::string question(const std::string& q, const std::string& title,
                         const std::vector<std::string>& buttons, const std::string& def) override {
        questions.emplace_back(q, title);
        question_buttons.push_back(buttons);
        question_defaults.push_back(def);
        return answer;
    }
    void print_dialog(const gui::Handle& fig) override {
        ++prints;
        printed = fig;
    }
    std::array<double, 2> pointer_input(const gui::Handle&) override {
        ++pointer_inputs;
        if (points.empty()) throw Error("no click");
        auto p = points.front();
        points.pop_front();
        return p;
    }
    void flush() override {
        ++flushes;
        if (on_flush) on_flush();
    }
    void report_error(const std::string& text) override { errors.push_back(text); }
};

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

// Installs a FakePlatform for the lifetime of the object.
class FakePlatformScope {
public:
    FakePlatformScope() {
        auto p = std::make_unique<FakePlatform>();
        fake_ = p.get();
        previous_ = gui::set_platform(std::move(p));
    }
    ~FakePlatformScope() { gui::set_platform(std::move(previous_)); }
    FakePlatform& operator*() const { return *fake_; }
    FakePlatform* operator->() const { return fake_; }

private:
    FakePlatform* fake_ = nullptr;
    std::unique_ptr<gui::Platform> previous_;
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
// what it shows) and commits it with Return.
inline void type_into(QWidget* fig, const char* tag, const QString& text) {
    auto* e = fig->findChild<QLineEdit*>(tag);
    ASSERT_NE(e, nullptr) << tag;
    e->setFocus();
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Backspace);
    QTest::keyClicks(e, text);
    QTest::keyClick(e, Qt::Key_Return);
}

inline QString field_text(QWidget* fig, const char* tag) {
    auto* e = fig->findChild<QLineEdit*>(tag);
    return e ? e->text() : QString("<no field>");
}

}  // namespace ocu::testing
