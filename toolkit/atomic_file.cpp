#include "toolkit/atomic_file.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "toolkit/error.hpp"
#include "toolkit/file_kind.hpp"

namespace ocu {

namespace {

// ---------------------------------------------------------------------------
// Registry of live temporaries, read by the signal handler. A slot is free
// (0), being filled (1) or holds a path to remove (2); the handler only reads
// slots in state 2, and only calls async-signal-safe functions.

constexpr int kSlots = 16;
constexpr std::size_t kPathMax = 4096;

struct Slot {
    std::atomic<int> state{0};
    char path[kPathMax];
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free atomics");

Slot g_slots[kSlots];

extern "C" void remove_temporaries_and_reraise(int sig) {
    const int saved = errno;
    for (Slot& s : g_slots) {
        if (s.state.load(std::memory_order_acquire) == 2) ::unlink(s.path);
    }
    errno = saved;
    // SA_RESETHAND has put back the default action; the signal is blocked
    // while this handler runs and takes effect as soon as it returns.
    ::raise(sig);
}

void install_handlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
            struct sigaction old {};
            if (::sigaction(sig, nullptr, &old) != 0) continue;
            // Ignored, or someone else's handler: not ours to change.
            if ((old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) continue;
            struct sigaction sa {};
            sa.sa_handler = remove_temporaries_and_reraise;
            sigfillset(&sa.sa_mask);
            sa.sa_flags = SA_RESETHAND | SA_RESTART;
            ::sigaction(sig, &sa, nullptr);
        }
    });
}

int register_temp(const std::string& path) {
    if (path.size() >= kPathMax) return -1;  // not protected, but still written
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (g_slots[i].state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
            std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
            g_slots[i].state.store(2, std::memory_order_release);
            return i;
        }
    }
    return -1;
}

void unregister_temp(int slot) {
    if (slot >= 0) g_slots[slot].state.store(0, std::memory_order_release);
}

// ---------------------------------------------------------------------------

// The process's file-creation mask, without changing it.
mode_t current_umask() {
    mode_t mask = 022;
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned m = 0;
            if (std::sscanf(line, "Umask: %o", &m) == 1) {
                mask = static_cast<mode_t>(m);
                break;
            }
        }
        std::fclose(f);
    }
    return mask;
}

std::string folder_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// `name` with symbolic links in its last component followed to the file they
// name (which need not exist yet); `err` becomes ELOOP for a loop of links.
std::string follow_links(const std::string& name, int& err) {
    std::string path = name;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::vector<char> buf(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        ssize_t n = 0;
        for (;;) {
            n = ::readlink(path.c_str(), buf.data(), buf.size());
            if (n < 0) return path;  // gone meanwhile: write where we are
            if (static_cast<std::size_t>(n) < buf.size()) break;
            buf.resize(buf.size() * 2);
        }
        const std::string link(buf.data(), static_cast<std::size_t>(n));
        path = (!link.empty() && link.front() == '/') ? link : folder_of(path) + link;
    }
    err = ELOOP;
    return path;
}

}  // namespace

AtomicFile::AtomicFile(const std::string& filename) : filename_(filename) {
    int err = 0;
    target_ = follow_links(filename, err);
    if (err != 0) fail(err);
    struct stat st {};
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) fail("it is " + detail::file_kind(st.st_mode));

    install_handlers();
    const auto slash = target_.find_last_of('/');
    std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    if (base.size() > 200) base.resize(200);  // the temporary's name must fit too
    std::string templ = folder_of(target_) + "." + base + ".XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    // Blocking the signals while the file is created and registered leaves no
    // moment in which it exists unregistered.
    sigset_t all, old;
    sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &old);
    fd_ = ::mkostemp(buf.data(), O_CLOEXEC);
    const int mkerr = errno;
    if (fd_ >= 0) {
        temp_ = buf.data();
        slot_ = register_temp(temp_);
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (fd_ < 0) fail(mkerr);

    const mode_t mode = exists ? (st.st_mode & 0777) : (0666 & ~current_umask());
    if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
        // Best effort: only the owner's own group or root can do this.
        if (::fchown(fd_, st.st_uid, st.st_gid) != 0) {
            (void)!::fchown(fd_, static_cast<uid_t>(-1), st.st_gid);
        }
    }
    if (::fchmod(fd_, mode) != 0) fail(errno);
}

AtomicFile::~AtomicFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
    unregister_temp(slot_);
}

void AtomicFile::write(const void* data, std::size_t n) {
    const auto* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t w = ::write(fd_, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        if (w == 0) fail(EIO);
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}

void AtomicFile::commit(std::uint64_t expected_size) {
    if (::fsync(fd_) != 0) fail(errno);
    struct stat st {};
    if (::fstat(fd_, &st) != 0) fail(errno);
    if (static_cast<std::uint64_t>(st.st_size) != expected_size) {
        fail("only " + std::to_string(st.st_size) + " of its " + std::to_string(expected_size) +
             " bytes were written");
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail(errno);
    if (::rename(temp_.c_str(), target_.c_str()) != 0) fail(errno);
    committed_ = true;
    unregister_temp(slot_);
    slot_ = -1;
    // The new name on disk too (best effort: not every file system can).
    const std::string dir = folder_of(target_);
    const int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
}

void AtomicFile::fail(int err) const { fail(std::string(std::strerror(err))); }

void AtomicFile::fail(const std::string& reason) const {
    throw Error("Can't write file \"" + filename_ + "\": " + reason + ".");
}

TemporaryFileGuard::TemporaryFileGuard(const std::string& path) {
    install_handlers();
    slot_ = register_temp(path);
}

TemporaryFileGuard::~TemporaryFileGuard() { unregister_temp(slot_); }

namespace detail {
int live_temp_files() {
    int n = 0;
    for (const Slot& s : g_slots) n += s.state.load(std::memory_order_acquire) == 2 ? 1 : 0;
    return n;
}
}  // namespace detail

}  // namespace ocu
