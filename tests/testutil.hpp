// Small helpers shared by the tests: seeded random images, the check that a
// call fails with one exact error text, the text of the error a call ends
// with, the largest difference of two arrays, and a fixed thread count.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "toolkit/array.hpp"
#include "toolkit/error.hpp"
#include "toolkit/parallel.hpp"

namespace ocu::testutil {

// A rows x cols x planes image of uniformly random samples, the same for the same seed.
inline ArrayU8 random_u8(std::size_t rows, std::size_t cols, std::size_t planes, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> u(0, 255);
    ArrayU8 a(rows, cols, planes);
    for (auto& v : a.span()) v = static_cast<std::uint8_t>(u(gen));
    return a;
}

// Expects `f` to throw ocu::Error with exactly `text`.
template <class F>
void expect_error(F&& f, const std::string& text) {
    try {
        f();
        ADD_FAILURE() << "expected the error \"" << text << "\"";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), text);
    }
}

// The text of the ocu::Error that `f` throws ("" when it throws nothing).
template <class F>
std::string error_of(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

// The largest absolute difference of two arrays, which must be of one size.
inline double max_abs_diff(const ArrayD& a, const ArrayD& b) {
    EXPECT_TRUE(a.same_size(b));
    double d = 0;
    for (std::size_t i = 0; i < a.numel() && i < b.numel(); ++i) d = std::max(d, std::abs(a[i] - b[i]));
    return d;
}

// Runs the parallel loops on `n` threads while it lives, then restores the
// previous setting.
struct ThreadCount {
    explicit ThreadCount(unsigned n) : saved(thread_count_override()) { thread_count_override() = n; }
    ~ThreadCount() { thread_count_override() = saved; }
    ThreadCount(const ThreadCount&) = delete;
    ThreadCount& operator=(const ThreadCount&) = delete;
    unsigned saved;
};

}  // namespace ocu::testutil
