#pragma once
// Binding the pyramid engine plug-in by name, the entry stub `kalentry`, and
// the dynamic form of the eight wrappers.
//
// The plug-in "kalentry" is the library libkalentry.so, looked up first in the
// folder of the running executable, then on the usual library path. It is
// loaded on first use and stays loaded until the program exits: the pyramids
// and blending masks it holds must survive from one call to the next.
//
// A program that calls the plug-in must export the host array interface from
// its executable (CMake: link `engine_client` and set ENABLE_EXPORTS ON).
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine_client/host_value.hpp"

namespace ocu::kal {

// A loaded plug-in library and its resolved entry.
struct Plugin {
    std::string path;  // the file that was loaded, or the bare library name
    MexEntry entry = nullptr;
};

// Loads lib<name>.so from `first_dir` (when not empty), else from the library
// path, and resolves its `mexFunction`. The library is never unloaded. Throws
// ocu::Error naming the library when it cannot be found or loaded or lacks
// the entry.
Plugin load_plugin(const std::string& name, const std::string& first_dir);

// The entry of the plug-in "kalentry", loading it on first use from the
// program's plug-in folder (ocu::plugin_dir()).
MexEntry kalentry_entry();

// Makes the stub call `entry` instead of the loaded plug-in's (a host that
// links the engine in directly, or a stand-in); null goes back to loading the
// plug-in. Returns the entry used before.
MexEntry bind_entry(MexEntry entry);

// The stub: passes the inputs and the requested output count to the plug-in's
// entry and returns the outputs it filled. Adds no checks of its own.
std::vector<HostValue> kalentry(std::span<const HostValue* const> inputs, int nout);
std::vector<HostValue> kalentry(std::span<const HostValue> inputs, int nout);

// The wrappers by name ("kalcreatepyramid", "kalsetresmap", "kalsetbase",
// "kalreduce", "kalgetsrcimage", "kalsetsrcimage", "kalencode",
// "kalgetencodedimage"). More inputs or outputs than the wrapper declares fail
// with the program's run-time message before the plug-in is reached; fewer
// inputs are passed on as given, and the plug-in reports them. A wrapper with
// an output fails when `nout` is 1 and the plug-in returned none.
std::vector<HostValue> call_wrapper(std::string_view name, std::span<const HostValue> inputs,
                                    int nout);

}  // namespace ocu::kal
