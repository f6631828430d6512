#pragma once
// A pool of threads that run the ranges of parallel loops, and the loop that
// uses it. Header only and free of the rest of the program, so that the
// engine plug-in uses it too; each user names its own pool with a tag type
// and gets its own threads.
//
// run_ranges<Tag>(count, n, f) splits [0, n) into `count` equal ranges (the
// last ones shorter or empty) and calls f(t, begin, end) for every non-empty
// range t. The calling thread runs range 0, the pool's threads the others. A
// parallel pass of a simulation or a rendering takes from a few microseconds
// to a few milliseconds and a run makes dozens of them; starting threads for
// each cost more than some of the passes (45-90 us for two threads), so the
// threads live as long as the process. When the pool is busy (a loop inside
// a range, or a loop on a second thread) or a thread cannot be started, the
// ranges run on threads of their own, or on the calling thread.
//
// Every range starts with clean vector registers (clear_upper_vector_state).
// An exception from a range is rethrown on the calling thread after all
// ranges have ended (the one of the lowest-numbered range).
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

namespace ocu {

// A thread count as the environment variable OCUMBRA_THREADS gives it: a
// whole number from 1 to 1024 in plain decimal digits; 0 (not set) for
// anything else, null included.
inline unsigned parse_thread_count(const char* s) {
    if (s == nullptr || *s < '1' || *s > '9') return 0;
    char* end = nullptr;
    const unsigned long v = std::strtoul(s, &end, 10);
    return (*end == '\0' && v <= 1024) ? static_cast<unsigned>(v) : 0;
}
// OCUMBRA_THREADS as read once, 0 when unset or not such a number. The batch
// tool gives each of its parallel jobs its share of the cores this way; a
// cluster job may match its allocation.
inline unsigned environment_thread_count() {
    static const unsigned n = parse_thread_count(std::getenv("OCUMBRA_THREADS"));
    return n;
}
// The hardware's thread count, asked once (the library reads a system file
// each time), at least 1.
inline unsigned hardware_thread_count() {
    static const unsigned n = [] {
        const unsigned h = std::thread::hardware_concurrency();
        return h == 0 ? 1u : h;
    }();
    return n;
}

// Marks the upper halves of the AVX registers as unused (vzeroupper) on an
// x86 processor that has them. While they count as in use, every instruction
// of code built for plain SSE pays for merging them -- the SSE-only callers
// around the maths library's exp or atan (whose own code uses AVX) ran 25
// times slower. Qt's BMP reader leaves them so, and threads inherit the state
// when they start. Register values below bit 128 and all results are unchanged.
inline void clear_upper_vector_state() {
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
    static const bool has_avx = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    // The clobbers keep a compiler that does use AVX from holding a value in
    // the upper halves across the instruction.
    if (has_avx)
        asm volatile("vzeroupper" ::: "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7"
#if defined(__x86_64__)
                     , "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15"
#endif
        );
#endif
}

// The most ranges one loop is split into.
constexpr std::size_t kMaxRanges = 64;

// Threads that wait for jobs: job(t) for t = 1 .. count-1 while the caller
// runs job(0). Between jobs a worker watches for the next one for a short
// while (the passes of one computation follow each other closely), then
// sleeps. One pool per Tag.
template <class Tag>
class WorkerPool {
public:
    static WorkerPool& instance() {
        static Owner owner;
        return *owner.pool;
    }

    // Runs job(0 .. count-1), job(0) on the calling thread; false (nothing
    // run) when the pool is busy or lacks threads that cannot be started.
    // job must not throw.
    template <class Job>
    bool run(std::size_t count, Job& job) {
        if (count < 2) return false;
        if (busy_.exchange(true, std::memory_order_acquire)) return false;
        if (!ready(count - 1)) {
            busy_.store(false, std::memory_order_release);
            return false;
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            call_ = [](void* j, std::size_t t) { (*static_cast<Job*>(j))(t); };
            job_ = &job;
            count_ = count;
            pending_.store(count - 1, std::memory_order_relaxed);
            generation_.fetch_add(1, std::memory_order_release);
        }
        wake_.notify_all();
        job(0);
        // Wait for the others, watching first, then sleeping.
        if (!watch([this] { return pending_.load(std::memory_order_acquire) == 0; })) {
            std::unique_lock<std::mutex> lock(mutex_);
            done_.wait(lock, [this] { return pending_.load(std::memory_order_acquire) == 0; });
        }
        busy_.store(false, std::memory_order_release);
        return true;
    }

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    ~WorkerPool() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            generation_.fetch_add(1, std::memory_order_release);
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
    }

private:
    // How long a thread watches for the next job or for the others to finish
    // before it sleeps: kSpins pauses, then, for a pool whose Tag names a
    // kWatch, up to that long in all, yielding its core between looks so that
    // a thread that wants the core gets it. A sleeping thread takes from tens
    // of microseconds to a millisecond to run again once woken (on a virtual
    // machine, whose host must first schedule the idle core again); the
    // engine's renderings make dozens of passes with short serial steps
    // between them, and with the pauses alone two threads rendered a 1080p
    // fixation in 16 ms where one thread took 9. Only one pool of a process
    // should watch this way: two watchers that yield to each other on one
    // core thrash.
    static constexpr int kSpins = 2000;  // some ten to a hundred microseconds
    static constexpr std::chrono::microseconds kWatch = [] {
        if constexpr (requires { Tag::kWatch; }) {
            return std::chrono::microseconds(Tag::kWatch);
        } else {
            return std::chrono::microseconds(0);
        }
    }();

    // Watches until ready() holds (true) or the watch is over (false).
    template <class Ready>
    static bool watch(Ready&& ready) {
        for (int spin = 0; spin < kSpins; ++spin) {
            if (ready()) return true;
            pause();
        }
        if (kWatch.count() == 0) return ready();
        const auto until = std::chrono::steady_clock::now() + kWatch;
        for (;;) {
            for (int spin = 0; spin < 64; ++spin) {
                if (ready()) return true;
                pause();
            }
            if (std::chrono::steady_clock::now() >= until) return ready();
            std::this_thread::yield();
        }
    }

    WorkerPool() = default;

    // Ends the pool when its library is unloaded or the process exits. A child
    // process (fork) has the pool but not its threads: joining them, or even
    // destroying the condition variables they waited on, would wait for ever,
    // so there the pool is left as it is.
    struct Owner {
        WorkerPool* const pool;
        Owner() : pool(new WorkerPool()) {}
        Owner(const Owner&) = delete;
        Owner& operator=(const Owner&) = delete;
        ~Owner() {
            if (pool->pid_ == ::getpid()) delete pool;
        }
    };

    static void pause() {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#else
        std::this_thread::yield();
#endif
    }

    // At least `workers` threads, started here; false if that fails, or in a
    // child process that inherited the pool but not its threads.
    bool ready(std::size_t workers) {
        if (pid_ != ::getpid()) return false;
        while (threads_.size() < workers) {
            try {
                // A new worker starts after the jobs so far, which are done.
                threads_.emplace_back([this, index = threads_.size() + 1,
                                       seen = generation_.load(std::memory_order_acquire)] { work(index, seen); });
            } catch (...) {
                return false;
            }
        }
        return true;
    }

    void work(std::size_t index, std::uint64_t seen) {
        for (;;) {
            // The next job: watch for it for a while, then sleep until it comes.
            const bool came = watch([&] { return generation_.load(std::memory_order_acquire) != seen; });
            void (*call)(void*, std::size_t) = nullptr;
            void* job = nullptr;
            std::size_t count = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (!came) {
                    wake_.wait(lock, [&] { return generation_.load(std::memory_order_acquire) != seen; });
                }
                if (stop_) return;
                // The job and its generation together, as the caller set them.
                seen = generation_.load(std::memory_order_acquire);
                call = call_;
                job = job_;
                count = count_;
            }
            if (index >= count) continue;
            clear_upper_vector_state();
            call(job, index);
            if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
                const std::lock_guard<std::mutex> lock(mutex_);  // the caller may be about to sleep
                done_.notify_one();
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<std::size_t> pending_{0};
    std::atomic<bool> busy_{false};
    bool stop_ = false;
    void (*call_)(void*, std::size_t) = nullptr;
    void* job_ = nullptr;
    std::size_t count_ = 0;
    std::vector<std::thread> threads_;
    const pid_t pid_ = ::getpid();
};

// f(t, begin, end) for the non-empty ones of `count` ranges covering [0, n)
// (count at most kMaxRanges), on the pool of Tag.
template <class Tag, class F>
void run_ranges(std::size_t count, std::size_t n, F&& f) {
    count = std::min(count, kMaxRanges);
    if (n == 0 || count == 0) return;
    clear_upper_vector_state();  // also for threads started here, which begin with the caller's state
    if (count == 1) {
        f(std::size_t{0}, std::size_t{0}, n);
        return;
    }
    const std::size_t chunk = (n + count - 1) / count;
    std::array<std::exception_ptr, kMaxRanges> errors;
    auto job = [&](std::size_t t) noexcept {
        const std::size_t b = std::min(n, t * chunk), e = std::min(n, b + chunk);
        if (b >= e) return;
        try {
            f(t, b, e);
        } catch (...) {
            errors[t] = std::current_exception();
        }
    };
    if (!WorkerPool<Tag>::instance().run(count, job)) {
        std::array<std::thread, kMaxRanges> threads;
        std::size_t started = 1;
        for (; started < count; ++started) {
            try {
                threads[started] = std::thread([&job, t = started] { job(t); });
            } catch (...) {
                break;  // run this range and the rest here
            }
        }
        for (std::size_t t = 0; t < count; ++t) {
            if (t != 0 && t < started) continue;
            job(t);
        }
        for (std::size_t t = 1; t < started; ++t) threads[t].join();
    }
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}

}  // namespace ocu
