#include "cli/output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

#include "cli/commands.hpp"
#include "cli/npy_input.hpp"
#include "cli/options.hpp"
#include "toolkit/atomic_file.hpp"
#include "toolkit/error.hpp"
#include "toolkit/imageio.hpp"

namespace fs = std::filesystem;

namespace ocu::cli {

namespace {

// An output written under a hidden name next to its place, waiting to be
// moved there when the whole run has succeeded.
struct Staged {
    std::string staged;  // the hidden file written
    std::string target;  // the file it replaces (symbolic links followed)
    std::string path;    // the output as the user named it
    // Removed with the other temporaries if the run is ended by a signal.
    std::shared_ptr<TemporaryFileGuard> guard;
};

// Outputs written by write_output since the current run_guarded started.
std::vector<Staged>& staged_outputs() {
    static std::vector<Staged> files;
    return files;
}

// Whether a run_guarded is running: outside one, write_output writes straight
// to its place.
bool& in_guarded_run() {
    static bool running = false;
    return running;
}

// Removes the staged files of a failed run; what was at the outputs' places
// stays as it was.
void discard_staged() {
    for (const auto& f : staged_outputs()) ::unlink(f.staged.c_str());
    staged_outputs().clear();
}

// Moves every staged file to its place, in the order they were written.
void commit_staged() {
    std::vector<Staged> files;
    files.swap(staged_outputs());
    for (std::size_t i = 0; i < files.size(); ++i) {
        // An existing file keeps its permission bits, as the writers keep them.
        struct stat st {};
        bool ok = true;
        if (::stat(files[i].target.c_str(), &st) == 0) ok = ::chmod(files[i].staged.c_str(), st.st_mode & 07777) == 0;
        if (!ok || ::rename(files[i].staged.c_str(), files[i].target.c_str()) != 0) {
            const int err = errno;
            for (std::size_t j = i; j < files.size(); ++j) ::unlink(files[j].staged.c_str());
            throw Error("Can't write file \"" + files[i].path + "\": " + std::strerror(err) + ".");
        }
    }
}

// The file an output replaces: a symbolic link is followed to the file it
// names (the link stays a link), as the writers do.
std::string replaced_file(const std::string& path) {
    std::error_code ec;
    fs::path p(path);
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(p, ec)); ++hops) {
        const fs::path to = fs::read_symlink(p, ec);
        if (ec) break;
        p = to.is_absolute() ? to : p.parent_path() / to;
    }
    return p.string();
}

// The hidden name an output is written under first: in the output's folder,
// keeping its extension (which chooses the format).
std::string staged_name(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + ".ocumbra-sim-" + std::to_string(::getpid()) + "-" + std::to_string(staged_outputs().size()) +
           "-" + base;
}

std::string lower(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

bool has_writer(const std::string& path) {
    const auto dot = path.find_last_of('.');
    const auto slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    const std::string ext = lower(path.substr(dot + 1));
    for (const char* e : {"npy", "bmp", "tif", "tiff", "jpg", "jpeg", "png"})
        if (ext == e) return true;
    return false;
}

// The same file for two names (also through links), or the same name.
bool same_file(const std::string& a, const std::string& b) {
    std::error_code ec1, ec2;
    const fs::path ca = fs::weakly_canonical(a, ec1), cb = fs::weakly_canonical(b, ec2);
    if (ec1 || ec2) return fs::path(a).lexically_normal() == fs::path(b).lexically_normal();
    return ca == cb;
}

// Error texts can span lines (the read-permission text does); the tool prints
// one line, so line breaks become spaces.
std::string one_line(std::string text) {
    for (char& ch : text)
        if (ch == '\n' || ch == '\r') ch = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OCU_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define OCU_SANITIZED 1
#endif

// Sends the process's stderr to /dev/null while it lives. Sanitizer builds
// keep stderr, where their reports go.
class QuietStderr {
public:
    QuietStderr() {
#ifndef OCU_SANITIZED
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && devnull >= 0) ::dup2(devnull, 2);
        if (devnull >= 0) ::close(devnull);
#endif
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;
    ~QuietStderr() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            ::dup2(saved_, 2);
            ::close(saved_);
        }
    }

private:
    int saved_ = -1;
};

}  // namespace

AnyImage read_input(const std::string& path, std::int64_t max_side) {
    try {
        if (is_npy_path(path)) {
            std::error_code ec;
            if (!fs::exists(path, ec)) throw Error("File \"" + path + "\" does not exist.");
            return read_npy(path);
        }
        QuietStderr quiet;
        return imread(path, max_side);
    } catch (const Error& e) {
        // Some of the reader's texts name no file ("Unable to determine the
        // file format."): the tool says which one.
        const std::string text = e.what();
        if (text.find(path) != std::string::npos) throw;
        throw Error("\"" + path + "\": " + text);
    }
}

void check_outputs(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const std::string& out = outputs[i];
        const std::string start = "Can't write file \"" + out + "\": ";
        if (!has_writer(out)) {
            throw Error(start + "unknown file extension (use .npy, .bmp, .tif, .tiff, .jpg, .jpeg or .png).");
        }
        const fs::path parent = fs::path(out).parent_path();
        const std::string dir = parent.empty() ? "." : parent.string();
        std::error_code ec;
        if (!fs::is_directory(dir, ec)) throw Error(start + "the folder \"" + dir + "\" does not exist.");
        if (::access(dir.c_str(), W_OK | X_OK) != 0) {
            throw Error(start + "no permission to write in the folder \"" + dir + "\".");
        }
        if (fs::is_directory(out, ec)) throw Error(start + "it is a folder.");
        for (std::size_t j = 0; j < i; ++j) {
            if (same_file(out, outputs[j])) {
                throw Error(start + "it is given for two outputs; each output needs a file of its own.");
            }
        }
        for (const std::string& in : inputs) {
            if (!in.empty() && same_file(out, in)) throw Error(start + "it is an input of this run.");
        }
    }
}

bool is_npy_path(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return ext == ".npy";
}

void write_output(const AnyImage& image, const std::string& path) {
    // Written under a hidden name first; run_guarded moves it to `path` when
    // the whole run has succeeded.
    const std::string target = in_guarded_run() ? replaced_file(path) : path;
    const std::string staged = in_guarded_run() ? staged_name(target) : path;
    // On the signal handler's list before the first byte is written.
    auto guard = in_guarded_run() ? std::make_shared<TemporaryFileGuard>(staged) : nullptr;
    try {
        if (is_npy_path(path)) {
            write_npy(image, staged);
        } else {
            if (!has_writer(path)) {
                throw Error("Can't write file \"" + path +
                            "\": unknown file extension (use .npy, .bmp, .tif, .tiff, .jpg, .jpeg or .png).");
            }
            QuietStderr quiet;
            imwrite(image, staged);
        }
    } catch (const Error& e) {
        if (staged != path) ::unlink(staged.c_str());
        // The writer's messages name the file it wrote: the user's name instead.
        std::string text = e.what();
        for (std::size_t at; (at = text.find(staged)) != std::string::npos;) text.replace(at, staged.size(), path);
        throw Error(text);
    }
    if (in_guarded_run()) staged_outputs().push_back({staged, target, path, std::move(guard)});
}

void write_output(const ArrayD& result, const std::string& path) {
    write_output(AnyImage(result), path);
}

int run_guarded(const std::function<int()>& body) {
    staged_outputs().clear();
    struct Running {
        Running() { in_guarded_run() = true; }
        ~Running() { in_guarded_run() = false; }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
    } running;
    try {
        const int status = body();
        if (status != 0) discard_staged();
        else commit_staged();
        return status;
    } catch (const UsageError& e) {
        discard_staged();
        std::fprintf(stderr, "ocumbra-sim: %s\n%s", one_line(e.what()).c_str(), usage_text());
        return 2;
    } catch (const std::bad_alloc&) {
        discard_staged();
        std::fputs("ocumbra-sim: not enough memory for this image\n", stderr);
        return 1;
    } catch (const std::exception& e) {
        discard_staged();
        std::fprintf(stderr, "ocumbra-sim: %s\n", one_line(e.what()).c_str());
        return 1;
    } catch (...) {
        discard_staged();
        std::fputs("ocumbra-sim: unexpected internal error\n", stderr);
        return 1;
    }
}

}  // namespace ocu::cli
