#pragma once
// The program's command line: `ocumbra` opens the main window on its default
// image, `ocumbra FILE` on that image (what a desktop's "Open with" runs),
// `ocumbra --help` and `ocumbra --version` print and exit. Qt's own options
// (-platform, -style, ...) are taken by QApplication before these rules apply.
#include <string>
#include <vector>

#include "toolkit/gui/framework.hpp"

namespace ocu::app {

struct StartRequest {
    enum class Action { Window, Help, Version, UsageError };
    Action action = Action::Window;
    gui::Args window_args;  // what the main window function is called with
    std::string file;       // the image to open after the start, "" for none
    std::string error;      // the usage error, for Action::UsageError
};

// Reads the arguments after the program's name. "--help"/"-h" or "--version"
// anywhere ask for that text. One argument is an image file unless it starts
// with '-' (an unknown option is a usage error); several are handed to the
// main window function as texts, as they always were.
StartRequest parse_command_line(const std::vector<std::string>& args);

// The texts of --help and --version ("ocumbra 0.1\n").
std::string help_text();
std::string version_text();

// Opens the main window as `request` asks: the window function with its
// arguments, then the image file if one was given. An error is reported
// through the platform like a failed command's, and the window is shown all
// the same (with the default image when the file could not be read), so that
// another image can be opened.
void start(const StartRequest& request);

// Opens the image file `path` in the main window `fig` as File > Open does
// with a chosen file: the source image, its file name and folder, no result
// of a simulation on it yet. Fails, changing nothing, when the file cannot be
// read.
void open_image_file(const gui::Handle& fig, const std::string& path);

}  // namespace ocu::app
