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

// The program's own data folder with a trailing '/': the executable's folder,
// or "./" when that cannot be told.
std::string program_data_dir();

// `name` itself if it is empty, absolute or exists (relative to the working
// folder); else program_data_dir() + name if that exists; else `name`
// unchanged, so that the reader of the file reports it by the name given.
std::string find_data_file(const std::string& name);

}  // namespace ocu
