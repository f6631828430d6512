#pragma once
// Writing a file so that a failure never loses what was there: the data goes
// to a temporary file next to the final one, which replaces it only once
// everything is written and on disk.
//
//   AtomicFile out(filename);      // the temporary exists from here on
//   out.write(bytes, n);           // or through out.fd(), counting the bytes
//   out.commit(expected_size);     // fsync, size check, rename over filename
//
// Shared rules for this header:
//  - A symbolic link as `filename` is followed to the file it names, and that
//    file is replaced; the link stays a link. An existing file keeps its
//    permission bits (a new one gets 0666 less the umask).
//  - Anything but a regular file as the final target (a folder, a device, a
//    FIFO) is refused before anything is written.
//  - Every failure throws ocu::Error "Can't write file "<filename>": <why>."
//    with the system's own reason ("No space left on device", "File too
//    large", ...), and removes the temporary; the final file is untouched.
//  - While a temporary exists it is registered: if the process is ended by
//    SIGINT, SIGTERM, SIGHUP or SIGXFSZ, a handler removes every registered
//    temporary before the signal takes its default effect. Signals whose
//    disposition is not the default when the first AtomicFile is made (ignored,
//    or handled by someone else) are left alone.
#include <cstdint>
#include <string>

namespace ocu {

class AtomicFile {
public:
    explicit AtomicFile(const std::string& filename);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    // Removes the temporary unless committed.
    ~AtomicFile();

    // The temporary's descriptor, for writers that write themselves; they
    // report their errors through fail().
    int fd() const { return fd_; }
    // The name the data is written to (after following symbolic links).
    const std::string& target() const { return target_; }
    const std::string& temp_path() const { return temp_; }

    // Writes all n bytes at the current position, or throws.
    void write(const void* data, std::size_t n);

    // Flushes the data to disk, checks that the temporary holds exactly
    // `expected_size` bytes, and renames it over the target.
    void commit(std::uint64_t expected_size);

    // Throws the write error for the system error number `err`.
    [[noreturn]] void fail(int err) const;
    // Throws the write error with a reason of its own.
    [[noreturn]] void fail(const std::string& reason) const;

private:
    std::string filename_;  // as given, for messages
    std::string target_;    // after following symbolic links
    std::string temp_;
    int fd_ = -1;
    int slot_ = -1;  // registry slot of the temporary, -1 if none
    bool committed_ = false;
};

// Puts a file of the caller's own on the list the signal handler removes, for
// as long as this object lives: e.g. an output already written under a hidden
// name that waits to be moved to its place. Registering installs the handlers
// as AtomicFile does; the file need not exist yet.
class TemporaryFileGuard {
public:
    explicit TemporaryFileGuard(const std::string& path);
    TemporaryFileGuard(TemporaryFileGuard&& o) noexcept : slot_(o.slot_) { o.slot_ = -1; }
    TemporaryFileGuard& operator=(TemporaryFileGuard&&) = delete;
    TemporaryFileGuard(const TemporaryFileGuard&) = delete;
    TemporaryFileGuard& operator=(const TemporaryFileGuard&) = delete;
    // Takes the file off the list (it is not removed).
    ~TemporaryFileGuard();

private:
    int slot_ = -1;
};

namespace detail {
// Number of temporaries currently registered for removal on a signal.
int live_temp_files();
}  // namespace detail

}  // namespace ocu
