// The main window's Help menu: About and the user guide.
#include <sys/stat.h>

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

#include "app/help.hpp"
#include "app/ocumbra.hpp"
#include "toolkit/build_info.hpp"
#include "toolkit/paths.hpp"

namespace ocu::app {

using gui::Handle;
using gui::Value;

namespace {

HelpViewer qt_viewer() {
    return {[](const std::string& title, const std::string& text) {
                QMessageBox::about(gui::gcf(), QString::fromStdString(title), QString::fromStdString(text));
            },
            [](const std::string& file) {
                return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file)));
            }};
}

HelpViewer& viewer() {
    static HelpViewer v = qt_viewer();
    return v;
}

bool is_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

OCU_HEAD(about_menu_Callback)
void about_menu_Callback(Handle, const Value&, OcumbraState) {
    viewer().about("About ocumbra", about_text());
}

OCU_HEAD(userguide_menu_Callback)
void userguide_menu_Callback(Handle, const Value&, OcumbraState) {
    const std::string page = user_guide_file();
    if (!is_file(page)) {
        throw Error("The user guide " + page +
                    " is missing: this copy of ocumbra was built without it (pandoc was not found).");
    }
    if (!viewer().open_page(page)) {
        throw Error("Cannot show the user guide " + page + ": no program to open web pages was found.");
    }
}

}  // namespace

void set_help_viewer(HelpViewer v) {
    const HelpViewer qt = qt_viewer();
    if (!v.about) v.about = qt.about;
    if (!v.open_page) v.open_page = qt.open_page;
    viewer() = std::move(v);
}

std::string about_text() {
    return std::string("ocumbra ") + build_info::kVersion +
           "\n\n"
           "Shows a photograph the way a visually impaired person sees it: reduced acuity and "
           "contrast sensitivity, a visual-field defect around the point you fixate, and glare.\n\n"
           "The sample files shipped with it:\n"
           "- NatIm13.jpg: photograph by Rachel Michetti, CC0\n"
           "- astronaut.jpg: NASA, public domain\n"
           "- chelsea.jpg: photograph by Stefan van der Walt, CC0\n"
           "- polarplotREmd.bmp, polarplotREglaucoma.bmp, polarplotREhemianopia.bmp, "
           "polarplotREnormal.bmp: made for ocumbra, CC0\n"
           "- fields/: constructed perimetry examples (not patient data), made for ocumbra, CC0\n\n"
           "The full copyright and licence terms: " +
           program_doc_dir() + "copyright";
}

std::string user_guide_file() { return program_doc_dir() + "user-guide.html"; }

void add_help_commands(Ops& ops) {
    OCU_GUI_CALLBACK(ops, about_menu_Callback);
    OCU_GUI_CALLBACK(ops, userguide_menu_Callback);
}

}  // namespace ocu::app
