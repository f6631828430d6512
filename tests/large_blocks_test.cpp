#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdint>
#include <new>
#include <numeric>
#include <vector>

#include "toolkit/array.hpp"
#include "toolkit/large_blocks.hpp"
#include "toolkit/memory.hpp"

using namespace ocu;

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

class LargeBlocks : public ::testing::Test {
protected:
    void SetUp() override { large_blocks::release_kept(); }
    void TearDown() override { large_blocks::release_kept(); }
};

TEST_F(LargeBlocks, AFreedBlockGoesToTheNextOfTheSameSizeOnly) {
    void* a = large_blocks::take(40 * kMiB);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % (2 * kMiB), 0u);
    large_blocks::give_back(a, 40 * kMiB);
    EXPECT_EQ(large_blocks::kept_bytes(), 40 * kMiB);
    // 41 MiB rounds up to 42: another size.
    void* b = large_blocks::take(41 * kMiB);
    EXPECT_NE(b, a);
    // 39 MiB + 1 byte rounds up to 40: the kept block.
    void* c = large_blocks::take(39 * kMiB + 1);
    EXPECT_EQ(c, a);
    EXPECT_EQ(large_blocks::kept_bytes(), 0u);
    large_blocks::give_back(b, 41 * kMiB);
    large_blocks::give_back(c, 39 * kMiB + 1);
    EXPECT_EQ(large_blocks::kept_bytes(), 82 * kMiB);
}

TEST_F(LargeBlocks, NoMoreThanTheLimitIsKeptTheOldestGoingFirst) {
    const std::size_t limit = large_blocks::kept_limit();
    ASSERT_GE(limit, 64 * kMiB);
    // Three blocks of 40 % of the limit each (pages never touched): the
    // third pushes the first out.
    const std::size_t size = (limit * 2 / 5) / (2 * kMiB) * (2 * kMiB);
    void* first = large_blocks::take(size);
    void* second = large_blocks::take(size);
    void* third = large_blocks::take(size);
    large_blocks::give_back(first, size);
    large_blocks::give_back(second, size);
    large_blocks::give_back(third, size);
    EXPECT_EQ(large_blocks::kept_bytes(), 2 * size);
    void* again = large_blocks::take(size);
    EXPECT_EQ(again, second);  // the oldest kept one
    large_blocks::give_back(again, size);
    // A block larger than the limit is never kept.
    void* huge = large_blocks::take(limit + 2 * kMiB);
    large_blocks::give_back(huge, limit + 2 * kMiB);
    EXPECT_LE(large_blocks::kept_bytes(), limit);
}

// Minor page faults of this thread so far.
long thread_faults() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_minflt;
}

TEST_F(LargeBlocks, APreparedBlockIsWrittenWithoutPageFaults) {
    const std::size_t size = 64 * kMiB;
    large_blocks::prepare(size - 5);  // the same rounded size
    EXPECT_EQ(large_blocks::kept_bytes(), size);
    large_blocks::prepare(size);  // one is kept already
    EXPECT_EQ(large_blocks::kept_bytes(), size);
    auto* p = static_cast<unsigned char*>(large_blocks::take(size));
    EXPECT_EQ(large_blocks::kept_bytes(), 0u);
    const long before = thread_faults();
    for (std::size_t at = 0; at < size; at += 4096) p[at] = 1;
    // A fresh block would take one fault per 4 KiB page (16384 here), or
    // one per 2 MiB where huge pages are given (32).
    EXPECT_LT(thread_faults() - before, 8);
    large_blocks::give_back(p, size);
}

TEST_F(LargeBlocks, SizesNoSystemCanMapAreRefused) {
    EXPECT_THROW(large_blocks::take(std::size_t{1} << 62), std::bad_alloc);
    EXPECT_THROW(large_blocks::take(~std::size_t{0}), std::bad_alloc);  // would wrap when rounded up
    EXPECT_EQ(large_blocks::kept_bytes(), 0u);
}

TEST_F(LargeBlocks, ArraysInReusedBlocksKeepTheirOwnValues) {
    const std::size_t rows = 2000, cols = 1500, planes = 3;  // 72 MB of doubles
    ArrayD a = ArrayD::uninitialized(rows, cols, planes);
    std::iota(a.span().begin(), a.span().end(), 0.0);
    const ArrayD copy = a;
    const double* block = a.data();
    a = ArrayD();
    // The next array of this size gets the freed block; filling it must not
    // touch the copy, and a zero-filled one is zero however the block was used.
    ArrayD b = zeroed_array(rows, cols, planes, Pages::Huge);
    EXPECT_EQ(b.data(), block);
    EXPECT_EQ(b, ArrayD(rows, cols, planes, 0.0));
    std::fill(b.span().begin(), b.span().end(), -1.0);
    for (std::size_t i = 0; i < copy.numel(); i += 9973) ASSERT_EQ(copy[i], static_cast<double>(i));
    EXPECT_EQ(copy[copy.numel() - 1], static_cast<double>(copy.numel() - 1));
}

}  // namespace
