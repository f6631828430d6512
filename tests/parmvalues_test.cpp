// The glare dialog's slider bands.
#include <gtest/gtest.h>

#include <cmath>

#include "dialogs/parmvalues.hpp"

using namespace ocu::dlg;

TEST(GlareSlider, ExampleBands) {
    EXPECT_EQ(glare_factor(0.09), 0.0);  // 11 x 0.09 - 0.501 = 0.489
    EXPECT_EQ(glare_factor(0.0911), 1.0);
    EXPECT_EQ(glare_factor(0.95), 10.0);
    EXPECT_EQ(glare_factor(1.0), 10.0);
    EXPECT_EQ(glare_factor(0.0), 0.0);
    EXPECT_EQ(glare_factor(0.1), 1.0);
    EXPECT_EQ(glare_factor(0.7), 7.0);
    EXPECT_EQ(glare_factor(0.909), 9.0);   // 9.999 - 0.501 = 9.498
    EXPECT_EQ(glare_factor(0.9092), 10.0);  // 10.0012 - 0.501 = 9.5002
    EXPECT_EQ(glare_factor(std::nan("")), 0.0);
}

TEST(GlareSlider, ElevenBandsOfWidthOneEleventh) {
    // Band k starts at (k + 0.001) / 11; just inside and just outside each edge.
    for (int k = 1; k <= 10; ++k) {
        EXPECT_EQ(glare_factor((k + 0.0011) / 11.0), k) << "edge " << k;
        EXPECT_EQ(glare_factor((k + 0.0009) / 11.0), k - 1) << "edge " << k;
    }
    // Below the first edge everything is 0, also slightly negative positions.
    EXPECT_EQ(glare_factor(-0.05), 0.0);
    EXPECT_EQ(glare_factor(0.05), 0.0);
}

TEST(GlareSlider, PositionForAFactor) {
    EXPECT_EQ(slider_position(1.0), 0.1);
    EXPECT_EQ(slider_position(7.0), 0.7);
    EXPECT_EQ(slider_position(12.5), 1.0);
    EXPECT_EQ(slider_position(15.0), 1.0);
    EXPECT_EQ(slider_position(-3.0), 0.0);
    EXPECT_EQ(slider_position(std::nan("")), 0.0);
    EXPECT_DOUBLE_EQ(slider_position(0.55), 0.055);
}

TEST(GlareSlider, RoundTripGivesTheIntegerBack) {
    for (int k = 0; k <= 10; ++k) EXPECT_EQ(glare_factor(slider_position(k)), k);
    EXPECT_EQ(glare_factor(slider_position(12.5)), 10.0);
    EXPECT_EQ(glare_factor(slider_position(15.0)), 10.0);
    EXPECT_EQ(glare_factor(slider_position(-3.0)), 0.0);
    EXPECT_EQ(glare_factor(slider_position(0.55)), 0.0);  // 0.605 - 0.501 = 0.104
}
