#pragma once
// The main window's Help menu: "About ocumbra" (the version and the licences
// of the sample files) and "User guide" (the README as a local HTML page,
// made at build time and installed with the documents).
#include <functional>
#include <string>

namespace ocu::app {

// How the Help commands show things; Qt's (a message box, the desktop's web
// browser) unless a test installed another.
struct HelpViewer {
    // Shows the About text under a title.
    std::function<void(const std::string& title, const std::string& text)> about;
    // Opens a local HTML file; false when nothing could show it.
    std::function<bool(const std::string& file)> open_page;
};

// Installs `viewer`; an empty member stands for Qt's.
void set_help_viewer(HelpViewer viewer);

// The About text: name and version, what the program does, the licences of
// the shipped sample files and where the full copyright file lies.
std::string about_text();

// The user guide's file: user-guide.html in the program's document folder.
std::string user_guide_file();

}  // namespace ocu::app
