#pragma once
// The module as a host of the program's parts inside the Python interpreter.
//
// The batch tool and the window are executables: they find the plug-in
// libkalentry.so and the data files next to themselves and export the host
// array interface the plug-in resolves. The module is a library loaded into
// python3, so it does these three things itself:
//  - data files: the folder is found relative to the module's own file (the
//    build tree's bin/, or the installed data folder) and handed to
//    toolkit/paths (set_program_data_dir) when the module is imported;
//  - the host array interface: Python loads extension modules privately
//    (RTLD_LOCAL); before the plug-in is loaded, the module makes its own
//    symbols global, so the plug-in resolves the interface from it;
//  - the plug-in: loaded from the build tree's bin/ or the installed plug-in
//    folder on the first fixation-dependent call, and bound to the entry stub.
//
// The engine holds one set of blending masks for the whole process, so every
// prepare-and-render sequence runs under engine_mutex(); see module.cpp for
// what runs in parallel.
#include <mutex>
#include <string>

namespace ocu::python {

// The folder this module's file lies in, without a trailing '/'.
std::string module_dir();

// Finds the data folder and names it to toolkit/paths. Called on import.
void locate_data_files();

// Loads and binds the plug-in unless done; call with engine_mutex() held.
// Throws FileError (the loader's text) when it cannot be loaded.
void ensure_engine();

std::mutex& engine_mutex();

}  // namespace ocu::python
