#include "toolkit/paths.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "toolkit/build_info.hpp"

namespace ocu {

namespace {

// The full file name of the running executable, or "" when it cannot be told.
std::string executable_path() {
    std::vector<char> buf(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buf.size())
            return std::string(buf.data(), static_cast<std::size_t>(n));
        buf.resize(buf.size() * 2);
    }
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool is_dir(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// `dir`/`rel` without "." and ".." steps ("/usr/bin" + "../share/ocumbra" is
// "/usr/share/ocumbra"), without a trailing '/'.
std::string joined(const std::string& dir, const char* rel) {
    std::string s = (std::filesystem::path(dir) / rel).lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

}  // namespace

std::string executable_dir() {
    const std::string exe = executable_path();
    const auto slash = exe.find_last_of('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

ProgramDirs program_dirs_for(const std::string& exe_dir) {
    if (exe_dir.empty()) return {"./", "", "./"};
    const std::string data = joined(exe_dir, build_info::kRelDataDir);
    if (is_dir(data)) {
        return {data + "/", joined(exe_dir, build_info::kRelPluginDir),
                joined(exe_dir, build_info::kRelDocDir) + "/"};
    }
    return {exe_dir + "/", exe_dir, exe_dir + "/"};
}

ProgramDirs program_dirs() { return program_dirs_for(executable_dir()); }

std::string program_data_dir() { return program_dirs().data; }

std::string plugin_dir() { return program_dirs().plugin; }

std::string program_doc_dir() { return program_dirs().doc; }

std::string find_data_file(const std::string& name) {
    if (name.empty() || name.front() == '/' || exists(name)) return name;
    const std::string in_program = program_data_dir() + name;
    if (exists(in_program)) return in_program;
    return name;
}

}  // namespace ocu
