// The command line of the program and the start of the main window.
#include "app/startup.hpp"

#include <exception>

#include <QWidget>

#include "app/ocumbra.hpp"
#include "toolkit/build_info.hpp"
#include "toolkit/gui/platform.hpp"

namespace ocu::app {

StartRequest parse_command_line(const std::vector<std::string>& args) {
    StartRequest r;
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            r.action = StartRequest::Action::Help;
            return r;
        }
        if (a == "--version") {
            r.action = StartRequest::Action::Version;
            return r;
        }
    }
    if (args.size() == 1) {
        if (args[0].empty() || args[0].front() == '-') {
            r.action = StartRequest::Action::UsageError;
            r.error = args[0].empty() ? "an empty file name" : "unknown option " + args[0];
        } else {
            r.file = args[0];
        }
        return r;
    }
    for (const std::string& a : args) r.window_args.emplace_back(a);
    return r;
}

std::string help_text() {
    return "Usage: ocumbra [FILE]\n"
           "  or:  ocumbra --help | --version\n"
           "\n"
           "Shows a photograph the way a visually impaired person sees it: reduced\n"
           "acuity and contrast sensitivity, a visual-field defect around the point\n"
           "you fixate, and glare (the Transform menu of the window).\n"
           "\n"
           "  FILE        an image (JPEG, PNG, TIFF, BMP) shown in place of the default\n"
           "              image NatIm13.jpg\n"
           "  --help      show this text and exit\n"
           "  --version   show the version and exit\n"
           "\n"
           "Qt's own options (-platform NAME, -style NAME, ...) are accepted too.\n"
           "ocumbra-sim runs the same simulations from the command line.\n";
}

std::string version_text() { return std::string("ocumbra ") + build_info::kVersion + "\n"; }

void start(const StartRequest& request) {
    try {
        const gui::Results r = ocumbra(request.window_args, 1);
        if (!request.file.empty()) open_image_file(gui::handle(r.at(0)), request.file);
    } catch (const std::exception& e) {
        gui::platform().report_error(e.what());
        // Show the window anyway, so that another image can be opened.
        if (QWidget* fig = gui::gcf(); fig && !fig->isVisible()) fig->show();
    }
}

}  // namespace ocu::app
