#include "toolkit/parallel.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
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
