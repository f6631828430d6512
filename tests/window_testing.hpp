#pragma once
// A stand-in for the person at the screen: replies prepared by the test,
// calls recorded for it to check.
#include <array>
#include <deque>
#include <string>
#include <vector>

#include <QApplication>

#include "toolkit/gui/platform.hpp"

namespace ocu::test {

struct FakePlatform : gui::Platform {
    struct Chooser {
        std::string kind, arg, title;
    };
    std::deque<gui::FileChoice> file_replies;
    std::deque<std::string> answers;
    std::deque<std::array<double, 2>> points;
    std::vector<Chooser> choosers;
    std::vector<std::vector<std::string>> questions;  // question, title, buttons..., default
    std::vector<gui::Handle> printed;
    std::vector<std::string> errors;
    int flushes = 0;

    gui::FileChoice next_file() {
        if (file_replies.empty()) return {};
        gui::FileChoice c = file_replies.front();
        file_replies.pop_front();
        return c;
    }
    gui::FileChoice get_file(const std::string& filter, const std::string& title) override {
        choosers.push_back({"get", filter, title});
        return next_file();
    }
    gui::FileChoice put_file(const std::string& proposed, const std::string& title) override {
        choosers.push_back({"put", proposed, title});
        return next_file();
    }
    std::string question(const std::string& q, const std::string& title, const std::vector<std::string>& buttons,
                         const std::string& def) override {
        std::vector<std::string> rec{q, title};
        rec.insert(rec.end(), buttons.begin(), buttons.end());
        rec.push_back(def);
        questions.push_back(rec);
        if (answers.empty()) return {};
        std::string a = answers.front();
        answers.pop_front();
        return a;
    }
    void print_dialog(const gui::Handle& fig) override { printed.push_back(fig); }
    std::array<double, 2> pointer_input(const gui::Handle&) override {
        if (points.empty()) throw Error("Interrupted by figure deletion");
        auto p = points.front();
        points.pop_front();
        return p;
    }
    void flush() override { ++flushes; }
    void report_error(const std::string& text) override { errors.push_back(text); }
};

inline gui::FileChoice chosen(const std::string& folder, const std::string& name) {
    return gui::FileChoice{name, folder, false};
}

inline void ensure_app() {
    static int argc = 1;
    static char name[] = "gui_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
}

// Lets Qt finish deferred deletions and pending events.
inline void settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

// The line of the first source line of `path` that contains `head`.
int line_of(const std::string& path, const std::string& head);

}  // namespace ocu::test
