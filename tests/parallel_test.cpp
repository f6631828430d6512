#include "toolkit/parallel.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/vector_state.hpp"

namespace {

// Every range, on every thread count, starts with the upper halves of the AVX
// registers unused, even when the caller left them in use: SSE code would run
// many times slower otherwise.
TEST(ParallelFor, RangesStartWithTheAvxUpperHalvesUnused) {
    if (!ocu::testutil::avx_upper_in_use().has_value()) GTEST_SKIP() << "the processor cannot tell";
    for (unsigned threads : {1u, 2u, 4u}) {
        ocu::thread_count_override() = threads;
        std::atomic<int> ranges{0}, dirty{0};
        std::vector<int> seen(1000, 0);
        ocu::testutil::dirty_avx_upper();
        ASSERT_TRUE(*ocu::testutil::avx_upper_in_use());
        ocu::parallel_for(
            seen.size(),
            [&](std::size_t b, std::size_t e) {
                if (*ocu::testutil::avx_upper_in_use()) ++dirty;
                ++ranges;
                for (std::size_t i = b; i < e; ++i) ++seen[i];
            },
            100);
        EXPECT_EQ(ranges.load(), static_cast<int>(threads)) << threads << " threads";
        EXPECT_EQ(dirty.load(), 0) << threads << " threads";
        for (int v : seen) ASSERT_EQ(v, 1);
    }
    ocu::thread_count_override() = 0;
}

}  // namespace

namespace {

// The pool's paths other than the plain one: an exception in a range other
// than the caller's reaches the caller and the pool keeps working; a loop
// inside a range (the pool is busy then) and loops on two threads at once
// still cover every index exactly once.
TEST(ParallelFor, ExceptionsNestedLoopsAndConcurrentCallers) {
    ocu::thread_count_override() = 3;
    EXPECT_THROW(ocu::parallel_for(
                     300,
                     [](std::size_t b, std::size_t) {
                         if (b >= 200) throw std::runtime_error("last range");
                     },
                     100),
                 std::runtime_error);

    std::vector<std::atomic<int>> seen(600);
    ocu::parallel_for(
        6,
        [&](std::size_t b, std::size_t e) {
            for (std::size_t i = b; i < e; ++i)
                ocu::parallel_for(
                    100, [&, i](std::size_t ib, std::size_t ie) {
                        for (std::size_t j = ib; j < ie; ++j) ++seen[i * 100 + j];
                    }, 10);
        },
        1);
    for (const auto& v : seen) ASSERT_EQ(v.load(), 1);

    std::vector<std::atomic<int>> a(5000), c(5000);
    auto cover = [](std::vector<std::atomic<int>>& v) {
        for (int rep = 0; rep < 50; ++rep)
            ocu::parallel_for(v.size(), [&](std::size_t b, std::size_t e) {
                for (std::size_t i = b; i < e; ++i) ++v[i];
            }, 100);
    };
    std::thread other([&] { cover(c); });
    cover(a);
    other.join();
    for (std::size_t i = 0; i < a.size(); ++i) ASSERT_TRUE(a[i].load() == 50 && c[i].load() == 50) << i;
    ocu::thread_count_override() = 0;
}

}  // namespace
