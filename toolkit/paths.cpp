#include "toolkit/paths.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

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

std::string& data_dir_override() {
    static std::string dir;
    return dir;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string executable_dir() {
    const std::string exe = executable_path();
    const auto slash = exe.find_last_of('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

std::string program_data_dir() {
    if (!data_dir_override().empty()) return data_dir_override();
    const std::string exe = executable_path();
    const auto slash = exe.find_last_of('/');
    return slash == std::string::npos ? "./" : exe.substr(0, slash + 1);
}

void set_program_data_dir(const std::string& dir) {
    data_dir_override() = dir.empty() || dir.back() == '/' ? dir : dir + "/";
}

std::string find_data_file(const std::string& name) {
    if (name.empty() || name.front() == '/' || exists(name)) return name;
    const std::string in_program = program_data_dir() + name;
    if (exists(in_program)) return in_program;
    return name;
}

}  // namespace ocu
