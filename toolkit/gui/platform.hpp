#pragma once
// What the windows ask of the person and the screen, behind one interface so
// that tests can stand in for the person: file choosers, the question
// dialog, the print dialog, one pointer click, flushing pending drawing and
// showing an error. `platform()` is the one in force (Qt's unless a test
// installed another with `set_platform`).
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/gui/framework.hpp"

class QPrinter;

namespace ocu::gui {

// The result of a file chooser: the file name without folder and the folder
// ending with the folder separator; `cancelled` when the person cancelled
// (then both texts are empty).
struct FileChoice {
    std::string filename;
    std::string pathname;
    bool cancelled = true;
};

class Platform {
public:
    virtual ~Platform() = default;
    // File-open chooser: `filter` like "*.bmp;*.tif;*.jpg", `title` the
    // chooser's title.
    virtual FileChoice get_file(const std::string& filter, const std::string& title) = 0;
    // File-save chooser: `proposed` is a file name, possibly with a folder in
    // front, or a pattern such as "res*.bmp" (then it acts as the filter).
    virtual FileChoice put_file(const std::string& proposed, const std::string& title) = 0;
    // Question dialog: returns the text of the chosen button, or an empty
    // text when the dialog was closed without choosing.
    virtual std::string question(const std::string& question, const std::string& title,
                                 const std::vector<std::string>& buttons,
                                 const std::string& default_button) = 0;
    // The print dialog for a window; prints it when confirmed.
    virtual void print_dialog(const Handle& fig) = 0;
    // Waits for one pointer click in window `fig` and returns its position
    // (x, y) in the data coordinates of the window's current image area. A
    // double-click counts as the click; a press on the menu bar or a control
    // is not the click (the menu or control works as usual and the wait goes
    // on). The wait shows the cross cursor. Throws Cancelled when the person
    // presses Escape, when the window is closed or deleted during the wait,
    // and when end_pointer_input ends it.
    virtual std::array<double, 2> pointer_input(const Handle& fig) = 0;
    // Ends a pointer_input waiting on window `fig` as cancelled (it throws
    // Cancelled once control returns to its wait); nothing when none waits.
    virtual void end_pointer_input(const Handle& fig) { (void)fig; }
    // Draws what is pending, so that a status text shows before a long
    // computation.
    virtual void flush() = 0;
    // Shows the text of an error that ended a callback.
    virtual void report_error(const std::string& text) = 0;
};

// The Qt implementation (file dialogs, QMessageBox, QPrintDialog, a nested
// event loop for the pointer click).
class QtPlatform : public Platform {
public:
    FileChoice get_file(const std::string& filter, const std::string& title) override;
    FileChoice put_file(const std::string& proposed, const std::string& title) override;
    std::string question(const std::string& question, const std::string& title,
                         const std::vector<std::string>& buttons,
                         const std::string& default_button) override;
    void print_dialog(const Handle& fig) override;
    std::array<double, 2> pointer_input(const Handle& fig) override;
    void end_pointer_input(const Handle& fig) override;
    void flush() override;
    void report_error(const std::string& text) override;
};

Platform& platform();
// Installs `p` (null: Qt's again) and returns the previous one.
std::unique_ptr<Platform> set_platform(std::unique_ptr<Platform> p);

// Renders window `fig` onto one page of `printer`, scaled to fit and keeping
// its proportions (what the print dialog does after OK; with a printer set to
// PDF output this writes a PDF file).
void print_window(const Handle& fig, QPrinter& printer);

// Converts a chooser filter "*.bmp;*.tif;*.jpg" to Qt's form
// "*.bmp;*.tif;*.jpg (*.bmp *.tif *.jpg)".
std::string qt_name_filter(const std::string& filter);

}  // namespace ocu::gui
