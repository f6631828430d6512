#pragma once
// Spreading the engine's independent per-column work over the cores.
//
// forEachRange(n, grain, f) calls f(begin, end) on disjoint ranges covering
// [0, n); forEachRangeNumbered passes the range's number as well. Every index
// must be computed independently of the others, so the result never depends
// on the split or on the number of threads. f must not throw. If a thread cannot be started, its range runs on the calling thread.
// The plug-in keeps its own helper so that it depends on nothing of the program.
//
// Every range starts with clean vector registers (clearUpperVectorState), so
// that the work runs at full speed whatever the calling thread left in them.
#include <algorithm>
#include <array>
#include <cstddef>
#include <thread>

namespace kal {

// 0 means "as many as the hardware has"; tests set other counts.
inline unsigned& workerCountOverride() {
    static unsigned n = 0;
    return n;
}

inline unsigned workerCount() {
    if (workerCountOverride() != 0) return workerCountOverride();
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
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

// f(t, begin, end) with the range number t, for work that needs scratch space
// of its own per range.
template <class F>
void forEachRangeNumbered(std::size_t n, std::size_t grain, F&& f) {
    const std::size_t nt = rangeCount(n, grain);
    if (nt == 0) return;
    clearUpperVectorState();  // also for the threads, which start with the caller's state
    if (nt == 1) {
        f(std::size_t{0}, std::size_t{0}, n);
        return;
    }
    const std::size_t chunk = (n + nt - 1) / nt;
    auto range = [&](std::size_t t, std::size_t& b, std::size_t& e) {
        b = std::min(n, t * chunk);
        e = std::min(n, b + chunk);
    };
    std::array<std::thread, kMaxRanges> threads;
    std::size_t started = 1;
    for (; started < nt; ++started) {
        std::size_t b = 0, e = 0;
        range(started, b, e);
        try {
            threads[started] = std::thread([&f, t = started, b, e] {
                if (b < e) f(t, b, e);
            });
        } catch (...) {
            break;  // run this range and the rest here
        }
    }
    for (std::size_t t = 0; t < nt; ++t) {
        if (t != 0 && t < started) continue;
        std::size_t b = 0, e = 0;
        range(t, b, e);
        if (b < e) f(t, b, e);
    }
    for (std::size_t t = 1; t < started; ++t) threads[t].join();
}

template <class F>
void forEachRange(std::size_t n, std::size_t grain, F&& f) {
    forEachRangeNumbered(n, grain, [&f](std::size_t, std::size_t b, std::size_t e) { f(b, e); });
}

}  // namespace kal
