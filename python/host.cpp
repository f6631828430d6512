#include "python/host.hpp"

#include <dlfcn.h>
#include <sys/stat.h>

#include "engine_client/kalentry.hpp"
#include "python/arrays.hpp"
#include "toolkit/error.hpp"
#include "toolkit/paths.hpp"

namespace ocu::python {

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string module_dir() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&module_dir), &info) == 0 || info.dli_fname == nullptr) return ".";
    const std::string file = info.dli_fname;
    const auto slash = file.find_last_of('/');
    return slash == std::string::npos ? "." : file.substr(0, slash);
}

void locate_program_files() {
    // The build tree when build/bin/ holds the plug-in, else the installed tree.
    const std::string here = module_dir();
    const std::string build = here + "/" OCU_PY_BUILD_BIN;
    set_program_dirs(program_dirs_for(exists(build + "/libkalentry.so") ? build : here + "/" OCU_PY_INSTALLED_BIN));
}

void ensure_engine() {
    static bool bound = false;
    if (bound) return;
    // Make the module's exported symbols (the host array interface) visible to
    // libraries loaded after it: Python loaded it with RTLD_LOCAL.
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ensure_engine), &info) != 0 && info.dli_fname != nullptr) {
        ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);
    }
    try {
        kal::bind_entry(kal::load_plugin("kalentry", plugin_dir()).entry);
    } catch (const Error& e) {
        throw FileError(e.what());
    }
    bound = true;
}

std::mutex& engine_mutex() {
    static std::mutex m;
    return m;
}

}  // namespace ocu::python
