#pragma once
// Spreading the engine's independent per-column work over the cores.
//
// forEachRange(n, grain, f) calls f(begin, end) on disjoint ranges covering
// [0, n). Every index must be computed independently of the others, so the
// result never depends on the split or on the number of threads. f must not
// throw. If a thread cannot be started, its range runs on the calling thread.
// The plug-in keeps its own helper so that it depends on nothing of the program.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <thread>

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
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

template <class F>
void forEachRange(std::size_t n, std::size_t grain, F&& f) {
    if (n == 0) return;
    constexpr std::size_t kMaxThreads = 64;
    const std::size_t want = std::max<std::size_t>(1, n / std::max<std::size_t>(grain, 1));
    const std::size_t nt = std::min({std::size_t{workerCount()}, want, kMaxThreads});
    if (nt <= 1) {
        f(std::size_t{0}, n);
        return;
    }
    const std::size_t chunk = (n + nt - 1) / nt;
    auto range = [&](std::size_t t, std::size_t& b, std::size_t& e) {
        b = std::min(n, t * chunk);
        e = std::min(n, b + chunk);
    };
    std::array<std::thread, kMaxThreads> threads;
    std::size_t started = 1;
    for (; started < nt; ++started) {
        std::size_t b = 0, e = 0;
        range(started, b, e);
        try {
            threads[started] = std::thread([&f, b, e] {
                if (b < e) f(b, e);
            });
        } catch (...) {
            break;  // run this range and the rest here
        }
    }
    for (std::size_t t = 0; t < nt; ++t) {
        if (t != 0 && t < started) continue;
        std::size_t b = 0, e = 0;
        range(t, b, e);
        if (b < e) f(b, e);
    }
    for (std::size_t t = 1; t < started; ++t) threads[t].join();
}

}  // namespace kal
