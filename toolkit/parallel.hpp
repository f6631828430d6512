#pragma once
// Spreading independent work over the cores.
//
// parallel_for(n, f) calls f(begin, end) on disjoint ranges that cover
// [0, n). Each index must be computed independently of the others, so the
// result never depends on how the range is split or on the thread count.
// The ranges run on the program's pool of threads (toolkit/worker_pool.hpp)
// and start with clean vector registers (clear_upper_vector_state). An
// exception from a range reaches the caller once all ranges have ended.
#include <algorithm>
#include <cstddef>

#include "toolkit/worker_pool.hpp"

namespace ocu {

// Number of worker threads: the override (tests), else the environment
// variable OCUMBRA_THREADS when it holds a whole number from 1 to 1024, else
// the hardware's.
inline unsigned& thread_count_override() {
    static unsigned n = 0;
    return n;
}
inline unsigned thread_count() {
    if (thread_count_override() != 0) return thread_count_override();
    if (environment_thread_count() != 0) return environment_thread_count();
    return hardware_thread_count();
}

// The program's pool (the engine plug-in has its own).
struct ProgramPoolTag {};

// `grain` is the smallest range worth a thread of its own. At most
// kMaxRanges ranges.
template <class F>
void parallel_for(std::size_t n, F&& f, std::size_t grain = 1) {
    if (n == 0) return;
    const std::size_t want = std::max<std::size_t>(1, n / std::max<std::size_t>(grain, 1));
    run_ranges<ProgramPoolTag>(std::min<std::size_t>(thread_count(), want), n,
                               [&f](std::size_t, std::size_t b, std::size_t e) { f(b, e); });
}

}  // namespace ocu
