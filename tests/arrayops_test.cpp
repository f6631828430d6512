#include <gtest/gtest.h>

#include "toolkit/arrayops.hpp"

using namespace ocu;

TEST(Rounding, HalvesAwayFromZero) {
    EXPECT_EQ(round_half_away(0.5), 1.0);
    EXPECT_EQ(round_half_away(1.5), 2.0);
    EXPECT_EQ(round_half_away(2.5), 3.0);
    EXPECT_EQ(round_half_away(-2.5), -3.0);
    EXPECT_EQ(round_half_away(5.5), 6.0);
}

TEST(Uint8Conversion, RoundsThenSaturates) {
    EXPECT_EQ(to_uint8(255.0 * (128.0 / 255.0) * (128.0 / 255.0)), 64);
    EXPECT_EQ(to_uint8(255.6), 255);
    EXPECT_EQ(to_uint8(-3.0), 0);
    EXPECT_EQ(to_uint8(0.5), 1);
}
