#pragma once
// Where the program finds its own files.
//
// The program's data files (the default image, the polar plots, the window
// layouts), the plug-in libkalentry.so and the user guide lie in one of two
// layouts, told apart by the executable's folder:
//
// - the build tree: everything next to the executables (build/bin/);
// - an installed tree (`cmake --install`, the Debian package): the folders
//   of the GNU install directories, relative to the executable's folder
//   <prefix>/bin/: the data in <prefix>/share/ocumbra/, the plug-in in
//   <prefix>/lib/<arch>/ocumbra/, the user guide in <prefix>/share/doc/ocumbra/.
//   Relative, so that an installed tree works under any prefix and where it
//   was copied to (a DESTDIR install).
//
// Every lookup of a data file goes through find_data_file, so that a further
// place to look is added in that one function.
#include <string>

namespace ocu {

// The folder holding the running executable, without a trailing '/'; "" when
// it cannot be told.
std::string executable_dir();

// The program's folders for an executable in `exe_dir` (no trailing '/').
struct ProgramDirs {
    std::string data;    // data files and layouts, with a trailing '/'
    std::string plugin;  // the plug-in, without a trailing '/' ("" = the library path only)
    std::string doc;     // the user guide and the licences, with a trailing '/'
};

// The installed layout when the installed data folder exists relative to
// `exe_dir`, else `exe_dir` for all three (the build tree). An empty
// `exe_dir` (not known) gives "./" for the data and the documents and "" for
// the plug-in.
ProgramDirs program_dirs_for(const std::string& exe_dir);

// The folders of the running executable (program_dirs_for(executable_dir())).
ProgramDirs program_dirs();

// The program's own data folder with a trailing '/' (program_dirs().data).
std::string program_data_dir();

// The folder the plug-in is loaded from first (program_dirs().plugin).
std::string plugin_dir();

// The folder of the user guide and the licences, with a trailing '/'
// (program_dirs().doc).
std::string program_doc_dir();

// `name` itself if it is empty, absolute or exists (relative to the working
// folder); else program_data_dir() + name if that exists; else `name`
// unchanged, so that the reader of the file reports it by the name given.
std::string find_data_file(const std::string& name);

}  // namespace ocu
