// Writing files so that a failure never loses what was there: the image and
// .npy writers under a file-size limit, replacing existing files (mode,
// symbolic links, things that are not files) and temporaries that must not
// outlive a process ended by a signal. The limit and the signals are applied
// in child processes, so the test program itself is never limited or ended.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "cli_testutil.hpp"
#include "testutil.hpp"
#include "toolkit/atomic_file.hpp"
#include "toolkit/error.hpp"
#include "toolkit/imageio.hpp"

using namespace ocu;
using ocu::testutil::TempDir;

namespace {

struct Child {
    int status = 0;      // as waitpid reports it
    std::string report;  // what the child wrote to its report pipe
};

// Runs `body` in a child process, which ends with exit status 0 when `body`
// returns. `body` writes what the parent should check to the given descriptor.
Child in_child(const std::function<void(int report)>& body) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        ::close(fds[0]);
        body(fds[1]);
        ::_exit(0);
    }
    ::close(fds[1]);
    Child c;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) c.report.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    ::waitpid(pid, &c.status, 0);
    return c;
}

void put(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fputs(text.c_str(), f);
    std::fclose(f);
}

void say(int fd, const std::string& text) {
    const std::string line = text + "\n";
    (void)!::write(fd, line.data(), line.size());
}

void limit_file_size(rlim_t bytes) {
    const rlimit lim{bytes, bytes};
    ::setrlimit(RLIMIT_FSIZE, &lim);
}

void write_any(const AnyImage& im, const std::string& path) {
    if (path.ends_with(".npy")) {
        write_npy(im, path);
    } else {
        imwrite(im, path);
    }
}

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// 300 x 300 x 3 random samples: 270 000 bytes that no format compresses much.
const ArrayU8& noise() {
    static const ArrayU8 a = testutil::random_u8(300, 300, 3, 7);
    return a;
}

}  // namespace

TEST(AtomicWrite, PastTheFileSizeLimitEveryFormatFailsWithTheReasonAndKeepsTheOldFile) {
    // With SIGXFSZ ignored the system refuses the write past the limit with
    // EFBIG, "File too large"; the writers must report that, not success or
    // "Unknown error", and the file that was there must stay as it was.
    TempDir dir;
    const std::vector<std::string> names = {"old.tif", "old.png", "old.bmp", "old.jpg", "old.npy"};
    for (const auto& n : names) put(dir.file(n), "previous contents");
    const Child c = in_child([&](int report) {
        ::signal(SIGXFSZ, SIG_IGN);
        limit_file_size(16 * 1024);
        for (const auto& n : names) {
            try {
                write_any(AnyImage(noise()), dir.file(n));
                say(report, n + "\tno error");
            } catch (const Error& e) {
                std::string text = e.what();
                std::replace(text.begin(), text.end(), '\n', ' ');
                say(report, n + "\t" + text);
            }
        }
    });
    ASSERT_TRUE(WIFEXITED(c.status)) << c.status;
    std::map<std::string, std::string> said;
    std::istringstream lines(c.report);
    for (std::string line; std::getline(lines, line);) {
        const auto tab = line.find('\t');
        said[line.substr(0, tab)] = line.substr(tab + 1);
    }
    for (const auto& n : names) {
        EXPECT_EQ(said[n], "Can't write file \"" + dir.file(n) + "\": File too large.") << n;
        EXPECT_TRUE(testutil::slurp(dir.file(n)) == "previous contents") << n << " was replaced";
    }
    EXPECT_EQ(sorted(dir.entries()), sorted(names));  // no temporary left
}

TEST(AtomicWrite, ASignalEndingTheProcessRemovesItsTemporaries) {
    TempDir dir;
    // The size limit's own signal, in its default effect, in the middle of a
    // real write: the process ends and its temporary goes with it.
    Child c = in_child([&](int) {
        limit_file_size(64 * 1024);
        imwrite(AnyImage(noise()), dir.file("big.tif"));
    });
    ASSERT_TRUE(WIFSIGNALED(c.status)) << c.status;
    EXPECT_EQ(WTERMSIG(c.status), SIGXFSZ);
    EXPECT_TRUE(dir.empty()) << dir.entries().front();

    // Interrupt, terminate and hang-up while a temporary exists; the signal
    // still ends the process as it would have.
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        c = in_child([&](int report) {
            AtomicFile out(dir.file("part.bin"));
            out.write("abc", 3);
            say(report, std::to_string(detail::live_temp_files()));
            ::raise(sig);
            say(report, "survived");
        });
        ASSERT_TRUE(WIFSIGNALED(c.status)) << sig;
        EXPECT_EQ(WTERMSIG(c.status), sig);
        EXPECT_EQ(c.report, "1\n") << sig;
        EXPECT_TRUE(dir.empty()) << sig;
    }
}

TEST(AtomicWrite, AGuardedFileOfTheCallersOwnGoesWithTheProcessOnASignal) {
    // An output already written under its hidden name, waiting to be moved to
    // its place when the run ends, is removed like the writers' temporaries.
    TempDir dir;
    Child c = in_child([&](int) {
        const TemporaryFileGuard guard(dir.file(".staged.png"));
        put(dir.file(".staged.png"), "written");
        ::raise(SIGTERM);
    });
    ASSERT_TRUE(WIFSIGNALED(c.status)) << c.status;
    EXPECT_TRUE(dir.empty()) << dir.entries().front();
    // Once the guard is gone, the file is no longer the handler's to remove.
    c = in_child([&](int) {
        { const TemporaryFileGuard guard(dir.file("kept.png")); }
        put(dir.file("kept.png"), "kept");
        ::raise(SIGTERM);
    });
    ASSERT_TRUE(WIFSIGNALED(c.status)) << c.status;
    EXPECT_EQ(testutil::slurp(dir.file("kept.png")), "kept");
}

TEST(AtomicWrite, TemporariesAreRegisteredOnlyWhileTheyExist) {
    TempDir dir;
    const int before = detail::live_temp_files();
    {
        AtomicFile out(dir.file("a.bin"));
        EXPECT_EQ(detail::live_temp_files(), before + 1);
        out.write("xyz", 3);
        EXPECT_THROW(out.commit(4), Error);  // the size check: 3 bytes, not 4
    }
    EXPECT_EQ(detail::live_temp_files(), before);
    EXPECT_TRUE(dir.empty());
    {
        AtomicFile out(dir.file("b.bin"));
        out.write("xyz", 3);
        out.commit(3);
        EXPECT_EQ(detail::live_temp_files(), before);
    }
    EXPECT_EQ(testutil::slurp(dir.file("b.bin")), "xyz");
}

TEST(AtomicWrite, ReplacingAFileKeepsItsModeAndFollowsSymbolicLinks) {
    TempDir dir;
    const ArrayD gray(4, 5, 1, 0.5);
    auto mode_of = [](const std::string& p) {
        struct stat st {};
        ::lstat(p.c_str(), &st);
        return st.st_mode;
    };
    // A private file stays private, a shared one shared.
    for (mode_t mode : {mode_t{0600}, mode_t{0664}}) {
        put(dir.file("m.png"), "x");
        ::chmod(dir.file("m.png").c_str(), mode);
        imwrite(AnyImage(gray), dir.file("m.png"));
        EXPECT_EQ(mode_of(dir.file("m.png")) & 0777, mode);
        EXPECT_EQ(image_rows(imread(dir.file("m.png"))), 4u);
        write_npy(AnyImage(gray), dir.file("m.npy"));
        ::chmod(dir.file("m.npy").c_str(), mode);
        write_npy(AnyImage(gray), dir.file("m.npy"));
        EXPECT_EQ(mode_of(dir.file("m.npy")) & 0777, mode);
    }

    // A link stays a link; the file it names gets the new contents.
    ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
    put(dir.file("sub/real.png"), "x");
    ASSERT_EQ(::symlink("sub/real.png", dir.file("link.png").c_str()), 0);
    imwrite(AnyImage(gray), dir.file("link.png"));
    EXPECT_TRUE(S_ISLNK(mode_of(dir.file("link.png"))));
    EXPECT_EQ(image_cols(imread(dir.file("sub/real.png"))), 5u);
    // A link to a file not yet there (relative to the link's folder), via a
    // second link: the file is made where the last link points.
    ASSERT_EQ(::symlink("fresh.npy", dir.file("sub/hop.npy").c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("sub/hop.npy").c_str(), dir.file("first.npy").c_str()), 0);
    write_npy(AnyImage(gray), dir.file("first.npy"));
    EXPECT_TRUE(S_ISLNK(mode_of(dir.file("first.npy"))));
    EXPECT_TRUE(S_ISLNK(mode_of(dir.file("sub/hop.npy"))));
    EXPECT_TRUE(S_ISREG(mode_of(dir.file("sub/fresh.npy"))));
    EXPECT_EQ(sorted(dir.entries()), sorted({"first.npy", "link.png", "m.npy", "m.png", "sub"}));
}

TEST(AtomicWrite, SomethingThatIsNotAFileIsNotReplaced) {
    TempDir dir;
    const ArrayD gray(4, 5, 1, 0.5);
    ASSERT_EQ(::mkfifo(dir.file("pipe.png").c_str(), 0644), 0);
    ASSERT_EQ(::mkdir(dir.file("folder.npy").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("a.png", dir.file("a.png").c_str()), 0);  // a link to itself
    EXPECT_EQ(testutil::error_of([&] { imwrite(AnyImage(gray), dir.file("pipe.png")); }),
              "Can't write file \"" + dir.file("pipe.png") + "\": it is a named pipe (FIFO).");
    EXPECT_EQ(testutil::error_of([&] { write_npy(AnyImage(gray), dir.file("folder.npy")); }),
              "Can't write file \"" + dir.file("folder.npy") + "\": it is a folder.");
    EXPECT_EQ(testutil::error_of([&] { imwrite(AnyImage(gray), dir.file("a.png")); }),
              "Can't write file \"" + dir.file("a.png") + "\": Too many levels of symbolic links.");
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("pipe.png").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(sorted(dir.entries()), sorted({"a.png", "folder.npy", "pipe.png"}));
}
