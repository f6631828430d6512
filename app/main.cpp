// The program: hands the command line to the main window function and runs
// the event loop while windows are open.
#include <exception>
#include <string>

#include <QApplication>

#include "app/ocumbra.hpp"
#include "toolkit/gui/platform.hpp"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("ocumbra");

    ocu::gui::Args args;
    for (int i = 1; i < argc; ++i) args.emplace_back(std::string(argv[i]));
    try {
        ocu::app::ocumbra(args, 0);
    } catch (const std::exception& e) {
        ocu::gui::platform().report_error(e.what());
        // Show the window anyway, so that another image can be opened.
        if (QWidget* fig = ocu::gui::gcf(); fig && !fig->isVisible()) fig->show();
    }
    if (QApplication::topLevelWidgets().isEmpty()) return 1;
    return QApplication::exec();
}
