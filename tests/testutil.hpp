// Small helpers shared by the tests: seeded random images, the check that a
// call fails with one exact error text, and the text of the error a call ends with.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "toolkit/array.hpp"
#include "toolkit/error.hpp"

namespace ocu::testutil {

// A rows x cols x planes image of uniformly random samples, the same for the same seed.
inline ArrayU8 random_u8(std::size_t rows, std::size_t cols, std::size_t planes, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> u(0, 255);
    ArrayU8 a(rows, cols, planes);
    for (auto& v : a.vec()) v = static_cast<std::uint8_t>(u(gen));
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

}  // namespace ocu::testutil
