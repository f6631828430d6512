#pragma once
// The module as a host of the program's parts inside the Python interpreter.
//
// The batch tool and the window are executables: they find the plug-in
// libkalentry.so and the data files next to themselves and export the host
// array interface the plug-in resolves. The module is a library loaded into
// python3, so it does these three things itself:
//  - the program's folders: found as toolkit/paths finds them for an
//    executable in build/bin/ (the build tree) or <prefix>/bin/ (an installed
//    tree), both relative to the module's own file, and named to
//    toolkit/paths (set_program_dirs) when the module is imported;
//  - the host array interface: Python loads extension modules privately
//    (RTLD_LOCAL); before the plug-in is loaded, the module makes its own
//    symbols global, so the plug-in resolves the interface from it;
//  - the plug-in: loaded from the program's plug-in folder (plugin_dir) on
//    the first fixation-dependent call, and bound to the entry stub.
//
// The engine holds one set of blending masks for the whole process, so every
// prepare-and-render sequence runs under engine_mutex(); see module.cpp for
// what runs in parallel.
#include <mutex>
#include <string>

namespace ocu::python {

// The folder this module's file lies in, without a trailing '/'.
std::string module_dir();

// Finds the program's folders and names them to toolkit/paths. Called on import.
void locate_program_files();

// Loads and binds the plug-in unless done; call with engine_mutex() held.
// Throws FileError (the loader's text) when it cannot be loaded.
void ensure_engine();

std::mutex& engine_mutex();

}  // namespace ocu::python
