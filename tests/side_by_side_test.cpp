// The original and a result in one image (toolkit/side_by_side.hpp).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "toolkit/side_by_side.hpp"

using namespace ocu;

TEST(SideBySide, OriginalLeftAsShownValuesResultRightGrayRepeatedInColour) {
    // A gray 16-bit original 2 x 1 beside a colour double result 2 x 1.
    const ArrayU16 original(2, 1, 1, std::vector<std::uint16_t>{65535, 13107});
    const ArrayD result(2, 1, 3, std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5, 0.6});
    const ArrayD out = side_by_side(AnyImage(original), AnyImage(result));
    ASSERT_EQ(out.rows(), 2u);
    ASSERT_EQ(out.cols(), 2u);
    ASSERT_EQ(out.planes(), 3u);
    for (std::size_t p = 0; p < 3; ++p) {
        EXPECT_DOUBLE_EQ(out(0, 0, p), 1.0);
        EXPECT_DOUBLE_EQ(out(1, 0, p), 0.2);  // 13107 / 65535
        EXPECT_DOUBLE_EQ(out(0, 1, p), result(0, 0, p));
        EXPECT_DOUBLE_EQ(out(1, 1, p), result(1, 0, p));
    }
    // Gray beside gray stays gray; 8-bit samples over 255.
    const ArrayD g = side_by_side(AnyImage(ArrayU8(1, 2, 1, std::vector<std::uint8_t>{51, 255})),
                                  AnyImage(ArrayD(1, 2, 1, std::vector<double>{0.5, 0.25})));
    EXPECT_EQ(g, ArrayD(1, 4, 1, std::vector<double>{0.2, 1.0, 0.5, 0.25}));
}

TEST(SideBySide, RefusesDifferentSizesAndPlaneCounts) {
    EXPECT_THROW(side_by_side(AnyImage(ArrayU8(2, 3)), AnyImage(ArrayD(3, 2))), Error);
    EXPECT_THROW(side_by_side(AnyImage(ArrayU8(2, 3, 2)), AnyImage(ArrayD(2, 3))), Error);
}
