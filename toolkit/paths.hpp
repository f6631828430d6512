#pragma once
// Where the program finds its own files.
//
// The program's data files (the default image, the polar plots, the window
// layouts) and the plug-in libkalentry.so lie next to the executables
// (build/bin/). Every lookup of a data file goes through find_data_file, so
// that a further place to look is added in that one function.
#include <string>

namespace ocu {

// The folder holding the running executable, without a trailing '/'; "" when
// it cannot be told.
std::string executable_dir();

// The program's own data folder with a trailing '/': the folder set by
// set_program_data_dir, else the executable's folder, or "./" when that
// cannot be told.
std::string program_data_dir();

// Names the data folder for a host that is not one of the program's own
// executables (the Python module, loaded into the Python interpreter, finds
// it relative to its own file); "" goes back to the executable's folder. A
// trailing '/' is added when missing. Set it before other threads look files up.
void set_program_data_dir(const std::string& dir);

// `name` itself if it is empty, absolute or exists (relative to the working
// folder); else program_data_dir() + name if that exists; else `name`
// unchanged, so that the reader of the file reports it by the name given.
std::string find_data_file(const std::string& name);

}  // namespace ocu
