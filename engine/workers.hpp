#pragma once
// Spreading the engine's independent per-column work over the cores.
//
// forEachRange(n, grain, f) calls f(begin, end) on disjoint ranges covering
// [0, n); forEachRangeNumbered passes the range's number as well. Every index
// must be computed independently of the others, so the result never depends
// on the split or on the number of threads. f must not throw.
//
// The ranges run on a pool of threads that lives as long as the plug-in (a
// rendering asks for a dozen parallel passes; starting threads for each cost
// more than some of the passes). The calling thread runs the first range. When
// the pool is busy (a call from inside a range, or from a second thread) or a
// thread cannot be started, the ranges run on threads of their own, or on the
// calling thread. The plug-in keeps its own helper so that it depends on
// nothing of the program.
//
// Every range starts with clean vector registers (clearUpperVectorState), so
// that the work runs at full speed whatever the calling thread left in them.
#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

namespace kal {

// 0 means "as many as the hardware has"; tests set other counts.
inline unsigned& workerCountOverride() {
    static unsigned n = 0;
    return n;
}

// The environment variable OCUMBRA_THREADS as read once: a whole number from
// 1 to 1024 limits the engine's threads as it limits the program's (the batch
// tool's parallel jobs share the cores this way); 0 when unset or not such a
// number.
inline unsigned environmentWorkerCount() {
    static const unsigned n = [] {
        const char* s = std::getenv("OCUMBRA_THREADS");
        if (s == nullptr || *s < '1' || *s > '9') return 0u;
        char* end = nullptr;
        const unsigned long v = std::strtoul(s, &end, 10);
        return (*end == '\0' && v <= 1024) ? static_cast<unsigned>(v) : 0u;
    }();
    return n;
}

inline unsigned workerCount() {
    if (workerCountOverride() != 0) return workerCountOverride();
    if (environmentWorkerCount() != 0) return environmentWorkerCount();
    static const unsigned n = [] {  // asked once: the library reads a system file each time
        const unsigned h = std::thread::hardware_concurrency();
        return h == 0 ? 1u : h;
    }();
    return n;
}

// Marks the upper halves of the AVX registers as unused (vzeroupper) on an
// x86 processor that has them. While they count as in use, every instruction
// of code built for plain SSE -- the engine's kernels, and the SSE-only
// callers around the maths library's exp, whose own code uses AVX -- pays for
// merging them: exp took 240 instead of 9 ns a call. A host can leave them so
// (Qt's BMP reader does), and threads inherit the state when they start.
// Values in registers are unaffected below bit 128, results never change.
inline void clearUpperVectorState() {
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
    static const bool hasAvx = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    // The clobbers keep a compiler that does use AVX from holding a value in
    // the upper halves across the instruction.
    if (hasAvx)
        asm volatile("vzeroupper" ::: "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7"
#if defined(__x86_64__)
                     , "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15"
#endif
        );
#endif
}

constexpr std::size_t kMaxRanges = 64;

// The number of ranges forEachRange(n, grain, ...) makes: at most this many
// calls, with range numbers 0 .. rangeCount - 1.
inline std::size_t rangeCount(std::size_t n, std::size_t grain) {
    if (n == 0) return 0;
    const std::size_t want = std::max<std::size_t>(1, n / std::max<std::size_t>(grain, 1));
    return std::min({std::size_t{workerCount()}, want, kMaxRanges});
}

// Threads that wait for jobs: job(t) for t = 1 .. count-1 while the caller
// runs job(0). Between jobs a worker watches for the next one for a short
// while (the passes of one rendering follow each other closely), then sleeps.
class WorkerPool {
public:
    static WorkerPool& instance() {
        static Owner owner;
        return *owner.pool;
    }

    // Runs job(0 .. count-1), job(0) on the calling thread; false (nothing
    // run) when the pool is busy or lacks threads that cannot be started.
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
        for (int spin = 0; pending_.load(std::memory_order_acquire) != 0; ++spin) {
            if (spin < kSpins) {
                pause();
                continue;
            }
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
    static constexpr int kSpins = 2000;  // some ten to a hundred microseconds

    WorkerPool() = default;

    // Ends the pool when the plug-in is unloaded or the process exits. A child
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
            std::uint64_t gen = generation_.load(std::memory_order_acquire);
            for (int spin = 0; gen == seen && spin < kSpins; ++spin) {
                pause();
                gen = generation_.load(std::memory_order_acquire);
            }
            void (*call)(void*, std::size_t) = nullptr;
            void* job = nullptr;
            std::size_t count = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (gen == seen) {
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
            clearUpperVectorState();
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

// f(t, begin, end) with the range number t, for work that needs scratch space
// of its own per range.
template <class F>
void forEachRangeNumbered(std::size_t n, std::size_t grain, F&& f) {
    const std::size_t nt = rangeCount(n, grain);
    if (nt == 0) return;
    clearUpperVectorState();  // also for threads started here, which begin with the caller's state
    if (nt == 1) {
        f(std::size_t{0}, std::size_t{0}, n);
        return;
    }
    const std::size_t chunk = (n + nt - 1) / nt;
    auto range = [&](std::size_t t, std::size_t& b, std::size_t& e) {
        b = std::min(n, t * chunk);
        e = std::min(n, b + chunk);
    };
    auto job = [&](std::size_t t) {
        std::size_t b = 0, e = 0;
        range(t, b, e);
        if (b < e) f(t, b, e);
    };
    if (WorkerPool::instance().run(nt, job)) return;

    std::array<std::thread, kMaxRanges> threads;
    std::size_t started = 1;
    for (; started < nt; ++started) {
        try {
            threads[started] = std::thread([&job, t = started] { job(t); });
        } catch (...) {
            break;  // run this range and the rest here
        }
    }
    for (std::size_t t = 0; t < nt; ++t) {
        if (t != 0 && t < started) continue;
        job(t);
    }
    for (std::size_t t = 1; t < started; ++t) threads[t].join();
}

template <class F>
void forEachRange(std::size_t n, std::size_t grain, F&& f) {
    forEachRangeNumbered(n, grain, [&f](std::size_t, std::size_t b, std::size_t e) { f(b, e); });
}

}  // namespace kal
