// The program: answers --help and --version, else hands the command line to
// the main window function (app/startup.hpp) and runs the event loop while
// windows are open.
#include <cstdio>
#include <string>
#include <vector>

#include <QApplication>
#include <QIcon>

#include "app/startup.hpp"

namespace {

std::vector<std::string> arguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    using Action = ocu::app::StartRequest::Action;
    // Answered before Qt starts, so that they need no display.
    const Action early = ocu::app::parse_command_line(arguments(argc, argv)).action;
    if (early == Action::Help) {
        std::fputs(ocu::app::help_text().c_str(), stdout);
        return 0;
    }
    if (early == Action::Version) {
        std::fputs(ocu::app::version_text().c_str(), stdout);
        return 0;
    }

    QApplication app(argc, argv);  // takes Qt's own options out of argv
    QApplication::setApplicationName("ocumbra");
    QApplication::setDesktopFileName("ocumbra");
    QApplication::setWindowIcon(QIcon::fromTheme("ocumbra"));  // the installed icon, if any

    const ocu::app::StartRequest request = ocu::app::parse_command_line(arguments(argc, argv));
    if (request.action == Action::UsageError) {
        std::fprintf(stderr, "ocumbra: %s\n%s", request.error.c_str(), ocu::app::help_text().c_str());
        return 2;
    }
    ocu::app::start(request);
    if (QApplication::topLevelWidgets().isEmpty()) return 1;
    return QApplication::exec();
}
