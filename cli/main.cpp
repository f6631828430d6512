#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <string>

#include "cli/commands.hpp"
#include "cli/output.hpp"
#include "toolkit/build_info.hpp"

namespace {

// Follows the usage text and the subcommands' summaries.
const char* kOptionsHelp =
    "\n"
    "Options (defaults are the window's):\n"
    "  --width DEG     angular width of the image in degrees (20), or \"photo\":\n"
    "                  from the photo's EXIF 35 mm focal length\n"
    "  --acuity A      visual acuity: decimal 0.5, Snellen 20/40 or 6/12, logMAR 0.3 (1)\n"
    "  --contrast F    contrast factor (1)\n"
    "  --logcs S       Pelli-Robson log contrast sensitivity: factor 10^(1.95 - S)\n"
    "  --glare N       glare factor, 0 to 10 (1)\n"
    "  --polar FILE    polar plot of the visual field (the program's polarplotREmd.bmp)\n"
    "  --field FILE    perimetry measurement (CSV, JSON, DICOM) in place of --polar\n"
    "  --other-eye FILE  the other eye's measurement: the binocular field\n"
    "  --eye OD|OS     the eye of a measurement that does not say\n"
    "  --age N         age in years for the normal hill of vision (the file's, else 50)\n"
    "  --periphery hull|normal  untested periphery: continued from the border, or normal\n"
    "  --type T        protan, deutan, tritan or achromat\n"
    "  --severity S    colour deficiency severity 0 to 1 (1)\n"
    "  --preset NAME   a built-in scenario (see: ocumbra-sim presets)\n"
    "  --at X,Y        fixation point, 1-based column and row; may repeat (the centre)\n"
    "  --resmap FILE   also write the resolution map\n"
    "  --side-by-side  write the input and the result next to each other in OUTPUT\n"
    "  --              ends the options (for a file whose name starts with --)\n"
    "  --out DIR       batch: the output folder (made when missing)\n"
    "  --jobs N        batch: files computed side by side, each job with its share\n"
    "                  of the cores (1)\n"
    "  --skip-existing batch: leave outputs that exist (resumes an interrupted batch)\n"
    "  --shard I/N     batch: only the I-th of N parts of the sorted inputs\n"
    "  --pattern P     batch: output names from {stem}, {sim}, {ext} ({stem}_{sim}.png)\n"
    "\n"
    "INPUT: an image file, or a .npy result of another command (doubles 0..1),\n"
    "so commands chain exactly. OUTPUT by extension: .npy holds the exact result\n"
    "array; .bmp, .tif, .tiff, .jpg, .jpeg and .png go through the image writer.\n"
    "Exit status: 0 success, 1 error (existing files left as they were), 2 usage\n"
    "error or an option value out of range.\n"
    "\n"
    "ocumbra-sim COMMAND --help shows one command's options; ocumbra-sim --version\n"
    "shows the version.\n";

// Qt's image plug-ins report details of damaged files as console warnings;
// the tool reports each failure in one line of its own.
void quiet_qt_messages(QtMsgType type, const QMessageLogContext&, const QString& msg) {
    if (type == QtFatalMsg) std::fprintf(stderr, "ocumbra-sim: %s\n", msg.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(quiet_qt_messages);
    if (argc < 2) {
        std::fputs(ocu::cli::usage_text(), stderr);
        return 2;
    }
    const std::string cmd = argv[1];
    if (cmd == "--version") {
        std::printf("ocumbra-sim %s\n", ocu::build_info::kVersion);
        return 0;
    }
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::fputs(ocu::cli::help_usage_text().c_str(), stdout);
        std::fputs("\nSimulates visual impairment on a photograph, as the ocumbra window does.\n\n", stdout);
        std::fputs("Commands:\n", stdout);
        std::fputs(ocu::cli::summaries_text().c_str(), stdout);
        std::fputs(kOptionsHelp, stdout);
        return 0;
    }
    if (const ocu::cli::Command* c = ocu::cli::find_command(cmd)) {
        const ocu::cli::Args args(argv + 2, argv + argc);
        // `ocumbra-sim <command> ... --help`: that command's usage and options.
        for (const std::string& a : args) {
            if (a == "--help" || a == "-h") {
                std::fputs(ocu::cli::command_help(*c, kOptionsHelp).c_str(), stdout);
                return 0;
            }
        }
        return c->run(args);
    }
    std::fprintf(stderr, "ocumbra-sim: unknown command \"%s\"\n%s", cmd.c_str(), ocu::cli::usage_text());
    return 2;
}
