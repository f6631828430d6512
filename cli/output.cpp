#include "cli/output.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <exception>
#include <new>
#include <vector>

#include "cli/commands.hpp"
#include "cli/options.hpp"
#include "toolkit/error.hpp"
#include "toolkit/imageio.hpp"

namespace ocu::cli {

namespace {

// Files written by write_output since the current run_guarded started.
std::vector<std::string>& written_files() {
    static std::vector<std::string> files;
    return files;
}

void remove_written_files() {
    for (const auto& f : written_files()) ::unlink(f.c_str());
    written_files().clear();
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
    QuietStderr quiet;
    return imread(path, max_side);
}

bool is_npy_path(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return ext == ".npy";
}

void write_output(const AnyImage& image, const std::string& path) {
    if (is_npy_path(path)) {
        write_npy(image, path);
    } else {
        QuietStderr quiet;
        imwrite(image, path);
    }
    written_files().push_back(path);
}

void write_output(const ArrayD& result, const std::string& path) {
    write_output(AnyImage(result), path);
}

int run_guarded(const std::function<int()>& body) {
    written_files().clear();
    try {
        const int status = body();
        if (status != 0) remove_written_files();
        written_files().clear();
        return status;
    } catch (const UsageError& e) {
        remove_written_files();
        std::fprintf(stderr, "ocumbra-sim: %s\n%s", one_line(e.what()).c_str(), usage_text());
        return 2;
    } catch (const std::bad_alloc&) {
        remove_written_files();
        std::fputs("ocumbra-sim: not enough memory for this image\n", stderr);
        return 1;
    } catch (const std::exception& e) {
        remove_written_files();
        std::fprintf(stderr, "ocumbra-sim: %s\n", one_line(e.what()).c_str());
        return 1;
    } catch (...) {
        remove_written_files();
        std::fputs("ocumbra-sim: unexpected internal error\n", stderr);
        return 1;
    }
}

}  // namespace ocu::cli
