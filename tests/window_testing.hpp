#pragma once
// The stand-in for the person at the screen that every window test uses:
// replies prepared by the test, calls recorded for it to check.
#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>

#include "toolkit/gui/platform.hpp"

namespace ocu::test {

struct FakePlatform : gui::Platform {
    struct Chooser {
        std::string kind, arg, title;  // kind "get" (open) or "put" (save)
    };
    struct Question {
        std::string text, title;
        std::vector<std::string> buttons;
        std::string default_button;
    };
    // Replies, used in order.
    std::deque<gui::FileChoice> file_replies;  // of both choosers; none left: cancelled
    std::deque<std::string> answers;           // of question; none left: "" (closed without a choice)
    std::deque<std::array<double, 2>> points;  // of pointer_input; none left: it fails
    // What was asked.
    std::vector<Chooser> choosers;
    std::vector<Question> questions;
    std::vector<gui::Handle> printed;
    std::vector<std::string> errors;
    int pointer_inputs = 0;
    int flushes = 0;
    std::function<void()> on_flush;  // called at each flush (the status line is busy then)
    // Called inside pointer_input before it gives its point: what the person
    // does while the click is awaited.
    std::function<void()> during_pointer_input;

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
        questions.push_back({q, title, buttons, def});
        if (answers.empty()) return {};
        std::string a = answers.front();
        answers.pop_front();
        return a;
    }
    void print_dialog(const gui::Handle& fig) override { printed.push_back(fig); }
    std::array<double, 2> pointer_input(const gui::Handle&) override {
        ++pointer_inputs;
        if (during_pointer_input) std::exchange(during_pointer_input, nullptr)();
        if (points.empty()) throw Error("The pointer input failed.");
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

// Installs a FakePlatform for the lifetime of the object.
class FakePlatformScope {
public:
    FakePlatformScope() {
        auto p = std::make_unique<FakePlatform>();
        fake_ = p.get();
        previous_ = gui::set_platform(std::move(p));
    }
    ~FakePlatformScope() { gui::set_platform(std::move(previous_)); }
    FakePlatformScope(const FakePlatformScope&) = delete;
    FakePlatformScope& operator=(const FakePlatformScope&) = delete;
    FakePlatform& operator*() const { return *fake_; }
    FakePlatform* operator->() const { return fake_; }

private:
    FakePlatform* fake_ = nullptr;
    std::unique_ptr<gui::Platform> previous_;
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
