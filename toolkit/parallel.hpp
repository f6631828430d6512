#pragma once
// Spreading independent work over the cores.
//
// parallel_for(n, f) calls f(begin, end) on disjoint ranges that cover
// [0, n). Each index must be computed independently of the others, so the
// result never depends on how the range is split or on the thread count.
// The work starts with clean vector registers (clear_upper_vector_state).
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace ocu {

// Number of worker threads: the override (tests), else the environment
// variable OCUMBRA_THREADS when it holds a whole number from 1 to 1024 (the
// batch tool gives each of its parallel jobs its share of the cores this
// way; a cluster job may match its allocation), else the hardware's.
inline unsigned& thread_count_override() {
    static unsigned n = 0;
    return n;
}
// A thread count as OCUMBRA_THREADS gives it: a whole number from 1 to 1024
// in plain decimal digits; 0 (not set) for anything else, null included.
inline unsigned parse_thread_count(const char* s) {
    if (s == nullptr || *s < '1' || *s > '9') return 0;
    char* end = nullptr;
    const unsigned long v = std::strtoul(s, &end, 10);
    return (*end == '\0' && v <= 1024) ? static_cast<unsigned>(v) : 0;
}
// OCUMBRA_THREADS as read once, 0 when unset or not such a number.
inline unsigned environment_thread_count() {
    static const unsigned n = parse_thread_count(std::getenv("OCUMBRA_THREADS"));
    return n;
}
inline unsigned thread_count() {
    if (thread_count_override() != 0) return thread_count_override();
    if (environment_thread_count() != 0) return environment_thread_count();
    unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
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

// `grain` is the smallest range worth a thread of its own.
template <class F>
void parallel_for(std::size_t n, F&& f, std::size_t grain = 1) {
    if (n == 0) return;
    clear_upper_vector_state();  // also for the threads, which start with the caller's state
    const std::size_t want = std::max<std::size_t>(1, n / std::max<std::size_t>(grain, 1));
    const std::size_t nt = std::min<std::size_t>(thread_count(), want);
    if (nt <= 1) {
        f(std::size_t{0}, n);
        return;
    }
    std::vector<std::thread> threads;
    std::vector<std::exception_ptr> errors(nt);
    threads.reserve(nt - 1);
    const std::size_t chunk = (n + nt - 1) / nt;
    for (std::size_t t = 1; t < nt; ++t) {
        const std::size_t b = std::min(n, t * chunk), e = std::min(n, b + chunk);
        auto work = [&f, &errors, t, b, e] {
            try {
                if (b < e) f(b, e);
            } catch (...) {
                errors[t] = std::current_exception();
            }
        };
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            work();  // no thread to be had: do this chunk here
        }
    }
    try {
        f(std::size_t{0}, std::min(n, chunk));
    } catch (...) {
        errors[0] = std::current_exception();
    }
    for (auto& th : threads) th.join();
    for (auto& e : errors)
        if (e) std::rethrow_exception(e);
}

}  // namespace ocu
