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
// more than some of the passes). The pool is the header-only one the program
// uses as well (toolkit/worker_pool.hpp, which depends on nothing else); the
// plug-in has its own instance and threads of it.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>

#include "toolkit/worker_pool.hpp"

namespace kal {

// 0 means "as many as the hardware has"; tests set other counts.
inline unsigned& workerCountOverride() {
    static unsigned n = 0;
    return n;
}

// The override, else OCUMBRA_THREADS (which limits the engine's threads as
// it limits the program's), else the hardware's.
inline unsigned workerCount() {
    if (workerCountOverride() != 0) return workerCountOverride();
    if (ocu::environment_thread_count() != 0) return ocu::environment_thread_count();
    return ocu::hardware_thread_count();
}

using ocu::kMaxRanges;

// The number of ranges forEachRange(n, grain, ...) makes: at most this many
// calls, with range numbers 0 .. rangeCount - 1.
inline std::size_t rangeCount(std::size_t n, std::size_t grain) {
    if (n == 0) return 0;
    const std::size_t want = std::max<std::size_t>(1, n / std::max<std::size_t>(grain, 1));
    return std::min({std::size_t{workerCount()}, want, kMaxRanges});
}

// The engine's own pool. Its threads watch for the next pass of a rendering
// for up to a millisecond before they sleep (worker_pool.hpp).
struct EnginePoolTag {
    static constexpr std::chrono::microseconds kWatch{1000};
};

// f(t, begin, end) with the range number t, for work that needs scratch space
// of its own per range.
template <class F>
void forEachRangeNumbered(std::size_t n, std::size_t grain, F&& f) {
    ocu::run_ranges<EnginePoolTag>(rangeCount(n, grain), n, f);
}

template <class F>
void forEachRange(std::size_t n, std::size_t grain, F&& f) {
    forEachRangeNumbered(n, grain, [&f](std::size_t, std::size_t b, std::size_t e) { f(b, e); });
}

// memcpy of `bytes` bytes, split over the cores when there are enough of them
// to pay for it (an image level in or out of the table: a serial copy of a
// 1080p plane took a tenth of a rendering while the other cores waited).
inline void copyBytes(void* dst, const void* src, std::size_t bytes) {
    constexpr std::size_t kGrain = std::size_t{1} << 18;
    if (bytes < 2 * kGrain) {
        if (bytes != 0) std::memcpy(dst, src, bytes);
        return;
    }
    auto* d = static_cast<unsigned char*>(dst);
    const auto* s = static_cast<const unsigned char*>(src);
    forEachRange(bytes, kGrain, [d, s](std::size_t b, std::size_t e) { std::memcpy(d + b, s + b, e - b); });
}

}  // namespace kal
