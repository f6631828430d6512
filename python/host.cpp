#include "python/host.hpp"

#include <dlfcn.h>
#include <sys/stat.h>

#include <vector>

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

// The folders to look in, first match wins: the build tree's bin/, then the
// installed layout (both relative to the module's folder, set by CMake).
std::vector<std::string> candidates(const char* installed) {
    const std::string here = module_dir();
    return {here + "/" OCU_PY_BUILD_BIN, here + "/" + installed};
}

std::string first_holding(const char* installed, const std::string& file) {
    for (const std::string& dir : candidates(installed))
        if (exists(dir + "/" + file)) return dir;
    return {};
}

}  // namespace

std::string module_dir() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&module_dir), &info) == 0 || info.dli_fname == nullptr) return ".";
    const std::string file = info.dli_fname;
    const auto slash = file.find_last_of('/');
    return slash == std::string::npos ? "." : file.substr(0, slash);
}

void locate_data_files() {
    const std::string dir = first_holding(OCU_PY_INSTALL_DATA, "polarplotREmd.bmp");
    if (!dir.empty()) set_program_data_dir(dir);
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
        kal::bind_entry(kal::load_plugin("kalentry", first_holding(OCU_PY_INSTALL_PLUGIN, "libkalentry.so")).entry);
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
