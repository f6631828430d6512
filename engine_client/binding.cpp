// Loading the plug-in by name and the entry stub.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "engine_client/kalentry.hpp"
#include "toolkit/error.hpp"
#include "toolkit/paths.hpp"

namespace {

// The plug-in resolves the host array interface from the executable at load
// time. Nothing in the program calls these functions itself, so this table is
// what keeps their object file in every executable that uses the binding.
using AnyFunction = void (*)();
[[gnu::used]] const AnyFunction kHostInterface[] = {
    reinterpret_cast<AnyFunction>(&hostArrayRows),    reinterpret_cast<AnyFunction>(&hostArrayCols),
    reinterpret_cast<AnyFunction>(&hostArrayIsDouble), reinterpret_cast<AnyFunction>(&hostArrayIsUint8),
    reinterpret_cast<AnyFunction>(&hostArrayIsComplex), reinterpret_cast<AnyFunction>(&hostArrayNumDims),
    reinterpret_cast<AnyFunction>(&hostArrayDims),    reinterpret_cast<AnyFunction>(&hostArrayNumel),
    reinterpret_cast<AnyFunction>(&hostArrayScalar),  reinterpret_cast<AnyFunction>(&hostArrayData),
    reinterpret_cast<AnyFunction>(&hostArrayCreate),  reinterpret_cast<AnyFunction>(&hostRaiseError),
};

std::string last_dl_error() {
    const char* e = dlerror();
    return e != nullptr ? std::string(e) : std::string("unknown error");
}

bool is_file(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

}  // namespace

namespace ocu::kal {

Plugin load_plugin(const std::string& name, const std::string& first_dir) {
    const std::string file = "lib" + name + ".so";
    const std::string quoted = "\"" + name + "\"";

    // The plug-in leaves the host array interface undefined; without it in the
    // process, loading fails with a linker message that does not say why.
    if (dlsym(RTLD_DEFAULT, "hostRaiseError") == nullptr ||
        dlsym(RTLD_DEFAULT, "hostArrayCreate") == nullptr) {
        throw Error("Cannot load the plug-in " + quoted +
                    ": this program does not export the host array interface the plug-in needs.");
    }

    Plugin p;
    void* handle = nullptr;
    if (!first_dir.empty() && is_file(first_dir + "/" + file)) {
        p.path = first_dir + "/" + file;
        handle = dlopen(p.path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            throw Error("Cannot load the plug-in " + quoted + " from " + p.path + ": " +
                        last_dl_error());
        }
    } else {
        p.path = file;
        handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const std::string why = last_dl_error();
            const std::string where = first_dir.empty() ? std::string()
                                      : first_dir == executable_dir()
                                          ? " next to the program (" + first_dir + ") or"
                                          : " in the program's plug-in folder (" + first_dir + ") or";
            throw Error("Cannot find the plug-in " + quoted + ": " + file + " is not" + where +
                        " on the library path (" + why + ").");
        }
    }
    dlerror();
    void* sym = dlsym(handle, "mexFunction");
    if (sym == nullptr) {
        // The handle is kept: unloading a library that failed to bind gains nothing.
        throw Error("The plug-in " + quoted + " (" + p.path + ") has no entry mexFunction.");
    }
    p.entry = reinterpret_cast<MexEntry>(sym);
    return p;
}

namespace {
// Single UI thread; a failed load is not remembered, so the next call retries.
MexEntry g_entry = nullptr;
}  // namespace

MexEntry kalentry_entry() {
    // Next to the executables in the build tree, in the private library folder
    // of an installed tree (toolkit/paths.hpp).
    if (g_entry == nullptr) g_entry = load_plugin("kalentry", plugin_dir()).entry;
    return g_entry;
}

MexEntry bind_entry(MexEntry entry) {
    const MexEntry before = g_entry;
    g_entry = entry;
    return before;
}

std::vector<HostValue> kalentry(std::span<const HostValue* const> inputs, int nout) {
    return call_entry(kalentry_entry(), inputs, nout);
}

std::vector<HostValue> kalentry(std::span<const HostValue> inputs, int nout) {
    return call_entry(kalentry_entry(), inputs, nout);
}

}  // namespace ocu::kal
