// ocumbra-sim batch [--jobs N] [--skip-existing] [--shard I/N] [--pattern P]
//                   --out DIR SIMULATION [ITS OPTIONS] INPUT...
//
// Runs one subcommand (any that takes INPUT OUTPUT: fixindep, fixdep, glare,
// convert, ...) over many inputs, each written to DIR/P.
//
// Inputs: files; folders (the image files and .npy results directly in them,
// by extension);
// glob patterns, expanded here when the shell left them (quoted) so that
// very large sets need no long command line. The list is sorted by name,
// and a file named twice counts once.
// Outputs: P is a file name with {stem} (the input's name without its
// extension), {sim} (the simulation, or for a scenario the preset's name or
// the scenario file's stem) and {ext} (the input's extension); its extension
// picks the format as for the subcommand (.npy exact, else an image).
//
// Everything that can be checked is checked before the first file is
// computed: the options of the batch, the simulation's options (a dry run of
// the subcommand on a file that does not exist: a usage error or an error that
// does not concern that file stops here), the inputs (a folder without images,
// a pattern matching nothing, a missing file), two inputs written to one output
// or an output that is one of the inputs, and the output folder (created when
// missing; it must be writable).
//
// The work runs in worker processes (`batch --worker`, hidden), each running
// the subcommand in-process on one file at a time, so that the pyramid
// engine's one set of masks per process is never shared. N jobs get
// max(1, cores / N) threads each (OCUMBRA_THREADS in their environment), so
// the cores are not oversubscribed. A file that fails (unreadable, damaged,
// refused, or even a crash of its worker) is reported and skipped; the rest go
// on. Exit status 1 when any file failed, 0 otherwise; 2 for usage errors.
//
// Outputs are written under a temporary name and renamed (toolkit/imageio), so
// an interrupted batch leaves no partial file under a final name; rerunning
// with --skip-existing resumes. --shard I/N keeps every N-th input of the
// sorted list starting with the I-th: the shards 1/N .. N/N of one input set
// cover every input exactly once, whatever the order of the arguments.
//
// Progress: on a terminal a bar on stderr (files done, rate, time left), else
// one line per file on stdout; errors on stderr; a summary on stdout.
#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/commands.hpp"
#include "cli/options.hpp"
#include "cli/output.hpp"
#include "toolkit/error.hpp"
#include "toolkit/parallel.hpp"

extern char** environ;

namespace ocu::cli {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kDefaultPattern = "{stem}_{sim}.png";
constexpr int kMaxJobs = 256;

// What a folder contributes: its images and .npy results (the subcommands
// read those too, so batches chain), by extension in any case.
bool is_image_name(const std::string& name) {
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || name.front() == '.') return false;
    std::string ext = name.substr(dot + 1);
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return ext == "png" || ext == "jpg" || ext == "jpeg" || ext == "bmp" || ext == "tif" || ext == "tiff" ||
           ext == "npy";
}

bool is_output_extension(std::string ext) {
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return ext == "npy" || ext == "png" || ext == "jpg" || ext == "jpeg" || ext == "bmp" || ext == "tif" ||
           ext == "tiff";
}

// ---- The command line ---------------------------------------------------

struct Plan {
    int jobs = 1;
    bool skip_existing = false;
    int shard = 1, shards = 1;  // --shard I/N
    std::string pattern = kDefaultPattern;
    std::string out_dir;
    const Command* command = nullptr;
    Args sim_args;        // the simulation's options (and a scenario's FILE), before INPUT OUTPUT
    std::string sim_tag;  // {sim}
    std::vector<std::string> inputs;
};

int parse_count(const std::string& text, const std::string& option, int lo, int hi) {
    const double v = parse_number(text, option);
    if (v != static_cast<int>(v) || v < lo || v > hi) {
        throw UsageError(option + " needs a whole number from " + std::to_string(lo) + " to " +
                         std::to_string(hi) + ", got \"" + text + "\"");
    }
    return static_cast<int>(v);
}

void check_pattern(const std::string& pattern) {
    const std::string bad = "--pattern \"" + pattern + "\": ";
    if (pattern.empty() || pattern.find('/') != std::string::npos) {
        throw UsageError(bad + "needs a file name (without '/') for the files in --out");
    }
    for (std::size_t i = pattern.find('{'); i != std::string::npos; i = pattern.find('{', i + 1)) {
        const auto close = pattern.find('}', i);
        const std::string key = close == std::string::npos ? "" : pattern.substr(i, close - i + 1);
        if (key != "{stem}" && key != "{sim}" && key != "{ext}") {
            throw UsageError(bad + "only {stem}, {sim} and {ext} may stand in braces");
        }
    }
    const auto dot = pattern.find_last_of('.');
    if (dot == std::string::npos || !is_output_extension(pattern.substr(dot + 1))) {
        throw UsageError(bad + "must end in .npy, .png, .bmp, .tif, .tiff, .jpg or .jpeg");
    }
}

std::string stem_of(const std::string& path) {
    std::string name = fs::path(path).filename().string();
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

Plan parse_plan(const Args& args) {
    Plan plan;
    std::size_t i = 0;
    auto value = [&](const std::string& name) -> std::string {
        const std::string& a = args[i];
        if (a.size() > name.size() && a[name.size()] == '=') return a.substr(name.size() + 1);
        if (i + 1 >= args.size()) throw UsageError("option " + name + " needs a value");
        return args[++i];
    };
    auto is = [&](const std::string& name) {
        return args[i] == name || args[i].rfind(name + "=", 0) == 0;
    };
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        if (args[i] == "--skip-existing") {
            plan.skip_existing = true;
        } else if (is("--jobs")) {
            plan.jobs = parse_count(value("--jobs"), "--jobs", 1, kMaxJobs);
        } else if (is("--shard")) {
            const std::string s = value("--shard");
            const auto slash = s.find('/');
            if (slash == std::string::npos) throw UsageError("--shard needs I/N, got \"" + s + "\"");
            plan.shards = parse_count(s.substr(slash + 1), "--shard", 1, 1 << 20);
            plan.shard = parse_count(s.substr(0, slash), "--shard", 1, plan.shards);
        } else if (is("--pattern")) {
            plan.pattern = value("--pattern");
            check_pattern(plan.pattern);
        } else if (is("--out")) {
            plan.out_dir = value("--out");
            if (plan.out_dir.empty()) throw UsageError("--out needs a folder");
        } else {
            throw UsageError("unknown option " + args[i].substr(0, args[i].find('=')));
        }
    }
    if (plan.out_dir.empty()) throw UsageError("batch needs --out DIR");
    if (i >= args.size()) throw UsageError("batch needs a simulation and inputs");
    const std::string sim = args[i++];
    plan.command = find_command(sim);
    if (plan.command == nullptr || sim == "batch" ||
        plan.command->usage.find("INPUT OUTPUT") == std::string_view::npos) {
        throw UsageError("batch runs a command that takes INPUT OUTPUT, not \"" + sim + "\"");
    }
    plan.sim_tag = sim;

    // The simulation's options take a value each ("--name VALUE" or
    // "--name=VALUE"), except the switches (is_flag); "--" ends them. A scenario without --preset takes its
    // file first.
    bool options_end = false;
    std::vector<std::string> positional;
    std::string preset;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!options_end && a == "--") {
            options_end = true;
        } else if (!options_end && a.size() > 2 && a.rfind("--", 0) == 0) {
            const auto eq = a.find('=');
            const std::string name = a.substr(0, eq);
            if (name == "--resmap") throw UsageError("batch cannot write --resmap, one file for every input");
            plan.sim_args.push_back(a);
            std::string v;
            if (eq != std::string::npos) {
                v = a.substr(eq + 1);
            } else if (is_flag(name)) {
                continue;  // a switch: no value follows
            } else {
                if (i + 1 >= args.size()) throw UsageError("option " + a + " needs a value");
                v = args[++i];
                plan.sim_args.push_back(v);
            }
            if (name == "--preset") preset = v;
        } else {
            positional.push_back(a);
        }
    }
    if (sim == "scenario") {
        if (!preset.empty()) {
            plan.sim_tag = preset;
        } else if (!positional.empty()) {
            plan.sim_args.insert(plan.sim_args.begin(), positional.front());
            plan.sim_tag = stem_of(positional.front());
            positional.erase(positional.begin());
        }
    }
    if (positional.empty()) throw UsageError("batch needs at least one INPUT");
    plan.inputs = std::move(positional);
    return plan;
}

// ---- Inputs and outputs -------------------------------------------------

bool has_glob_chars(const std::string& s) { return s.find_first_of("*?[") != std::string::npos; }

// Every input file, sorted by name, each once.
std::vector<std::string> resolve_inputs(const std::vector<std::string>& inputs) {
    std::vector<std::string> files;
    for (const std::string& in : inputs) {
        std::error_code ec;
        const fs::file_status st = fs::status(in, ec);
        if (fs::is_directory(st)) {
            const std::size_t before = files.size();
            for (const auto& e : fs::directory_iterator(in, ec)) {
                if (e.is_regular_file(ec) && is_image_name(e.path().filename().string()))
                    files.push_back(e.path().string());
            }
            if (ec) throw Error("Cannot read the folder \"" + in + "\": " + ec.message() + ".");
            if (files.size() == before) {
                throw Error("The folder \"" + in + "\" holds no images (.png, .jpg, .jpeg, .bmp, .tif, .tiff, .npy).");
            }
        } else if (fs::exists(st)) {
            files.push_back(in);
        } else if (has_glob_chars(in)) {
            glob_t g{};
            const int rc = ::glob(in.c_str(), 0, nullptr, &g);
            const std::size_t before = files.size();
            if (rc == 0) {
                for (std::size_t k = 0; k < g.gl_pathc; ++k)
                    if (fs::is_regular_file(g.gl_pathv[k], ec)) files.emplace_back(g.gl_pathv[k]);
            }
            ::globfree(&g);
            if (files.size() == before) throw Error("The pattern \"" + in + "\" matches no files.");
        } else {
            throw Error("File \"" + in + "\" does not exist.");
        }
    }
    // One entry per file, whatever way it was named.
    std::map<std::string, std::string> by_identity;
    for (const std::string& f : files) {
        std::error_code ec;
        const fs::path canon = fs::weakly_canonical(fs::absolute(f), ec);
        by_identity.emplace(ec ? f : canon.string(), f);
    }
    std::vector<std::string> unique;
    for (auto& [id, f] : by_identity) unique.push_back(f);
    std::sort(unique.begin(), unique.end());
    return unique;
}

std::string expand_pattern(const Plan& plan, const std::string& input) {
    const std::string name = fs::path(input).filename().string();
    const std::string stem = stem_of(input);
    const std::string ext = stem.size() < name.size() ? name.substr(stem.size() + 1) : "";
    std::string out;
    for (std::size_t i = 0; i < plan.pattern.size();) {
        if (plan.pattern.compare(i, 6, "{stem}") == 0) out += stem, i += 6;
        else if (plan.pattern.compare(i, 5, "{sim}") == 0) out += plan.sim_tag, i += 5;
        else if (plan.pattern.compare(i, 5, "{ext}") == 0) out += ext, i += 5;
        else out += plan.pattern[i++];
    }
    return (fs::path(plan.out_dir) / out).string();
}

struct Task {
    std::string input, output;
};

// Every input with its output; two inputs on one output, or an output that
// is an input, are refused.
std::vector<Task> make_tasks(const Plan& plan, const std::vector<std::string>& inputs) {
    std::vector<Task> tasks;
    std::map<std::string, std::string> owner;  // output identity -> input
    std::set<std::string> input_ids;
    auto identity = [](const std::string& p) {
        std::error_code ec;
        const fs::path c = fs::weakly_canonical(fs::absolute(p), ec);
        return ec ? p : c.string();
    };
    for (const std::string& in : inputs) input_ids.insert(identity(in));
    for (const std::string& in : inputs) {
        Task t{in, expand_pattern(plan, in)};
        const std::string id = identity(t.output);
        const auto [it, fresh] = owner.emplace(id, in);
        if (!fresh) {
            throw Error("\"" + it->second + "\" and \"" + in + "\" would both be written to \"" + t.output +
                        "\"; use a --pattern that tells them apart (e.g. with {ext}) or separate runs.");
        }
        if (input_ids.count(id)) throw Error("The output \"" + t.output + "\" would overwrite an input.");
        tasks.push_back(std::move(t));
    }
    return tasks;
}

void prepare_out_dir(const std::string& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir)) {
        throw Error("Cannot create the output folder \"" + dir + "\": " +
                    (ec ? ec.message() : std::string("a file of that name exists")) + ".");
    }
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        throw Error("Cannot write in the output folder \"" + dir + "\": " + std::strerror(errno) + ".");
    }
}

// ---- Running a subcommand in-process ------------------------------------

// The subcommand's stderr while it lives, kept in memory: a worker reports
// it as the file's one-line message.
class CapturedStderr {
public:
    CapturedStderr() {
        std::fflush(stderr);
        fd_ = ::memfd_create("ocumbra-batch", MFD_CLOEXEC);
        saved_ = ::dup(2);
        if (fd_ >= 0 && saved_ >= 0) ::dup2(fd_, 2);
    }
    CapturedStderr(const CapturedStderr&) = delete;
    CapturedStderr& operator=(const CapturedStderr&) = delete;
    ~CapturedStderr() { restore(); }
    // Everything written since, and stderr back as it was.
    std::string text() {
        restore();
        std::string s;
        if (fd_ < 0) return s;
        ::lseek(fd_, 0, SEEK_SET);
        char buf[4096];
        for (ssize_t n; (n = ::read(fd_, buf, sizeof buf)) > 0;) s.append(buf, static_cast<std::size_t>(n));
        ::close(fd_);
        fd_ = -1;
        return s;
    }

private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
    }
    int fd_ = -1, saved_ = -1;
};

// The first line of a subcommand's report, without the tool's prefix.
std::string message_of(const std::string& report) {
    std::string line = report.substr(0, report.find('\n'));
    const std::string prefix = "ocumbra-sim: ";
    if (line.rfind(prefix, 0) == 0) line.erase(0, prefix.size());
    return line.empty() ? "failed without a message" : line;
}

struct Outcome {
    int status = 0;
    std::string report;  // what the subcommand wrote to stderr
};

Outcome run_subcommand(const Plan& plan, const std::string& input, const std::string& output) {
    Args a = plan.sim_args;
    a.push_back(input);
    a.push_back(output);
    CapturedStderr capture;
    Outcome o;
    o.status = plan.command->run(a);
    o.report = capture.text();
    return o;
}

// The simulation's options checked before any work: the subcommand on an
// input that does not exist must fail on that input and nothing else.
void dry_run(const Plan& plan) {
    const std::string missing = (fs::path(plan.out_dir) / (".ocumbra-batch-check-" + std::to_string(::getpid()) + ".png")).string();
    const Outcome o = run_subcommand(plan, missing, missing + ".npy");
    if (o.status == 2) throw UsageError(message_of(o.report));
    if (o.status != 0 && o.report.find(missing) == std::string::npos) throw Error(message_of(o.report));
}

// batch --worker SIMULATION [ITS OPTIONS]: reads "INPUT\0OUTPUT\0" tasks from
// stdin, runs each, and answers "<status> <message>\n" on file descriptor 3.
int worker_main(const Args& args) {
    Plan plan;
    plan.command = args.size() > 1 ? find_command(args[1]) : nullptr;
    if (plan.command == nullptr) return 2;
    plan.sim_args.assign(args.begin() + 2, args.end());
    FILE* replies = ::fdopen(3, "w");
    if (replies == nullptr) return 2;
    char* field = nullptr;
    std::size_t cap = 0;
    for (;;) {
        std::string in, out;
        if (::getdelim(&field, &cap, '\0', stdin) <= 0) break;
        in = field;
        if (::getdelim(&field, &cap, '\0', stdin) <= 0) break;
        out = field;
        const Outcome o = run_subcommand(plan, in, out);
        std::fprintf(replies, "%d %s\n", o.status, o.status == 0 ? "" : message_of(o.report).c_str());
        std::fflush(replies);
    }
    std::free(field);
    std::fclose(replies);
    return 0;
}

// ---- Worker processes ---------------------------------------------------

std::string self_path() {
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    return n > 0 ? std::string(buf.data(), static_cast<std::size_t>(n)) : std::string("/proc/self/exe");
}

// A pipe whose ends lie above the standard descriptors and 3 and close on exec.
void make_pipe(int fds[2]) {
    int raw[2];
    if (::pipe(raw) != 0) throw Error(std::string("Cannot start a job: ") + std::strerror(errno) + ".");
    for (int k = 0; k < 2; ++k) {
        fds[k] = ::fcntl(raw[k], F_DUPFD_CLOEXEC, 10);
        ::close(raw[k]);
        if (fds[k] < 0) throw Error(std::string("Cannot start a job: ") + std::strerror(errno) + ".");
    }
}

struct Worker {
    pid_t pid = -1;
    int to = -1;    // tasks
    int from = -1;  // replies
    std::string pending;
    long task = -1;  // index of the task it runs, -1 when idle
};

Worker spawn_worker(const Plan& plan, unsigned threads) {
    int tasks[2], replies[2];
    make_pipe(tasks);
    make_pipe(replies);
    std::vector<std::string> argv_s = {"ocumbra-sim", "batch", "--worker", std::string(plan.command->name)};
    argv_s.insert(argv_s.end(), plan.sim_args.begin(), plan.sim_args.end());
    std::vector<char*> argv;
    for (auto& s : argv_s) argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_s;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "OCUMBRA_THREADS=", 16) != 0) env_s.emplace_back(*e);
    env_s.push_back("OCUMBRA_THREADS=" + std::to_string(threads));
    std::vector<char*> envp;
    for (auto& s : env_s) envp.push_back(s.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, tasks[0], 0);
    posix_spawn_file_actions_adddup2(&fa, replies[1], 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t def;
    sigemptyset(&def);
    sigaddset(&def, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &def);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    Worker w;
    const std::string exe = self_path();
    const int rc = ::posix_spawn(&w.pid, exe.c_str(), &fa, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    ::close(tasks[0]);
    ::close(replies[1]);
    if (rc != 0) {
        ::close(tasks[1]);
        ::close(replies[0]);
        throw Error(std::string("Cannot start a job: ") + std::strerror(rc) + ".");
    }
    w.to = tasks[1];
    w.from = replies[0];
    return w;
}

bool send_task(Worker& w, const Task& t, long index) {
    std::string msg = t.input;
    msg += '\0';
    msg += t.output;
    msg += '\0';
    w.task = index;
    for (std::size_t done = 0; done < msg.size();) {
        const ssize_t n = ::write(w.to, msg.data() + done, msg.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // the worker is gone: its reply pipe says so
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// How a worker that stopped answering ended.
std::string ending_of(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) < 0) return "its job ended";
    if (WIFSIGNALED(status)) return std::string("the job ended by signal ") + std::to_string(WTERMSIG(status)) +
                                    " (" + ::strsignal(WTERMSIG(status)) + ")";
    return "the job ended with status " + std::to_string(WEXITSTATUS(status));
}

// ---- Progress -----------------------------------------------------------

std::string clock_text(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char buf[32];
    if (s >= 3600) std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

class Progress {
public:
    explicit Progress(std::size_t total) : total_(total), tty_(::isatty(STDERR_FILENO) == 1) {}

    void file_done(const Task& t, int status, const std::string& message) {
        ++done_;
        if (status != 0) {
            ++failed_;
            clear_bar();
            // The readers' messages name the file; others get its name in front.
            if (message.find(t.input) != std::string::npos) std::fprintf(stderr, "ocumbra-sim: %s\n", message.c_str());
            else std::fprintf(stderr, "ocumbra-sim: %s: %s\n", t.input.c_str(), message.c_str());
        } else if (!tty_) {
            std::printf("[%zu/%zu] %s -> %s\n", done_, total_, t.input.c_str(), t.output.c_str());
            std::fflush(stdout);
        }
        draw();
    }
    // Redraws the bar (the rate and time left change while files run).
    void tick() {
        if (tty_ && Clock::now() - last_draw_ >= std::chrono::milliseconds(500)) draw();
    }
    void finish() { clear_bar(); }
    std::size_t failed() const { return failed_; }
    std::size_t written() const { return done_ - failed_; }
    double elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

private:
    void draw() {
        if (!tty_) return;
        constexpr std::size_t kWidth = 30;
        const std::size_t filled = total_ == 0 ? kWidth : kWidth * done_ / total_;
        std::string bar(filled, '#');
        bar.resize(kWidth, '.');
        const double t = elapsed();
        std::string rate = "-- files/s", left = "estimating";
        if (done_ > 0 && t > 0) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.2f files/s", done_ / t);
            rate = buf;
            left = clock_text((total_ - done_) * t / done_) + " left";
        }
        std::fprintf(stderr, "\r\033[K[%s] %zu/%zu files  %s  %s", bar.c_str(), done_, total_, rate.c_str(),
                     left.c_str());
        std::fflush(stderr);
        shown_ = true;
        last_draw_ = Clock::now();
    }
    void clear_bar() {
        if (tty_ && shown_) std::fputs("\r\033[K", stderr);
        shown_ = false;
    }

    std::size_t total_, done_ = 0, failed_ = 0;
    bool tty_, shown_ = false;
    Clock::time_point start_ = Clock::now(), last_draw_{};
};

// Runs the tasks on `jobs` worker processes; returns the number that failed.
std::size_t run_tasks(const Plan& plan, const std::vector<Task>& tasks, Progress& progress) {
    const std::size_t nworkers = std::min<std::size_t>(static_cast<std::size_t>(plan.jobs), tasks.size());
    const unsigned threads = std::max(1u, thread_count() / static_cast<unsigned>(plan.jobs));
    std::vector<Worker> workers;
    std::size_t next = 0;

    auto give_work = [&](Worker& w) {
        if (next < tasks.size()) {
            send_task(w, tasks[next], static_cast<long>(next));
            ++next;
        } else {
            w.task = -1;
            ::close(w.to);  // end of input: the worker exits
            w.to = -1;
        }
    };
    for (std::size_t k = 0; k < nworkers; ++k) {
        workers.push_back(spawn_worker(plan, threads));
        give_work(workers.back());
    }

    while (!workers.empty()) {
        std::vector<pollfd> fds;
        for (const Worker& w : workers) fds.push_back({w.from, POLLIN, 0});
        const int n = ::poll(fds.data(), fds.size(), 500);
        if (n < 0 && errno != EINTR) throw Error(std::string("Waiting for the jobs failed: ") + std::strerror(errno) + ".");
        for (std::size_t k = workers.size(); k-- > 0;) {
            if (n <= 0 || fds[k].revents == 0) continue;
            Worker& w = workers[k];
            char buf[4096];
            const ssize_t got = ::read(w.from, buf, sizeof buf);
            if (got > 0) {
                w.pending.append(buf, static_cast<std::size_t>(got));
                for (auto nl = w.pending.find('\n'); nl != std::string::npos; nl = w.pending.find('\n')) {
                    const std::string line = w.pending.substr(0, nl);
                    w.pending.erase(0, nl + 1);
                    if (w.task < 0) continue;
                    const auto space = line.find(' ');
                    const int status = std::atoi(line.substr(0, space).c_str());
                    const std::string message = space == std::string::npos ? "" : line.substr(space + 1);
                    progress.file_done(tasks[static_cast<std::size_t>(w.task)], status, message);
                    give_work(w);
                }
                continue;
            }
            if (got < 0 && errno == EINTR) continue;
            // The worker is gone: its file failed unless it had none.
            ::close(w.from);
            if (w.to >= 0) ::close(w.to);
            const std::string ending = ending_of(w.pid);
            const long task = w.task;
            workers.erase(workers.begin() + static_cast<std::ptrdiff_t>(k));
            if (task >= 0) {
                progress.file_done(tasks[static_cast<std::size_t>(task)], 1, ending);
                if (next < tasks.size()) {
                    workers.push_back(spawn_worker(plan, threads));
                    give_work(workers.back());
                }
            }
        }
        progress.tick();
    }
    return progress.failed();
}

int batch_body(const Args& args) {
    Plan plan = parse_plan(args);
    const std::vector<std::string> inputs = resolve_inputs(plan.inputs);
    const std::vector<Task> all = make_tasks(plan, inputs);
    prepare_out_dir(plan.out_dir);
    dry_run(plan);

    std::vector<Task> tasks;
    std::size_t skipped = 0;
    for (std::size_t k = static_cast<std::size_t>(plan.shard - 1); k < all.size(); k += static_cast<std::size_t>(plan.shards)) {
        std::error_code ec;
        if (plan.skip_existing && fs::exists(all[k].output, ec)) ++skipped;
        else tasks.push_back(all[k]);
    }
    std::string shard;
    if (plan.shards > 1) shard = " (shard " + std::to_string(plan.shard) + "/" + std::to_string(plan.shards) + " of " + std::to_string(all.size()) + ")";
    std::printf("batch: %zu inputs%s, %zu to do, %zu already written, %d job%s\n", tasks.size() + skipped, shard.c_str(),
                tasks.size(), skipped, plan.jobs, plan.jobs == 1 ? "" : "s");
    std::fflush(stdout);

    std::signal(SIGPIPE, SIG_IGN);  // a worker that died is seen on its reply pipe
    Progress progress(tasks.size());
    const std::size_t failed = tasks.empty() ? 0 : run_tasks(plan, tasks, progress);
    progress.finish();
    std::printf("batch: %zu written, %zu failed, %zu skipped (already written) in %.1f s\n", progress.written(),
                failed, skipped, progress.elapsed());
    return failed == 0 ? 0 : 1;
}

}  // namespace

int run_batch(const Args& args) {
    if (!args.empty() && args.front() == "--worker") return worker_main(args);
    return run_guarded([&args] { return batch_body(args); });
}

}  // namespace ocu::cli
