#include <gtest/gtest.h>

#include "image/image_blend.h"

TEST(Blend, MixesPerByteAndRoundsHalfUp) {
    const uint8_t original[4] = {0, 255, 100, 7};
    uint8_t result[4] = {255, 0, 101, 7};
    bl_blend_bytes(result, original, 4, 0.5f);
    EXPECT_EQ(result[0], 128);  // 127.5 + 0.5
    EXPECT_EQ(result[1], 128);
    EXPECT_EQ(result[2], 101);  // 100.5 + 0.5
    EXPECT_EQ(result[3], 7);
}

TEST(Blend, SharesOutsideZeroToOneStayInsideTheByteRange) {
    // A negative percentage from a host pushes values below 0; they must not
    // wrap round to bright bytes.
    const uint8_t original[2] = {0, 255};
    uint8_t result[2] = {255, 0};
    bl_blend_bytes(result, original, 2, -0.5f);
    EXPECT_EQ(result[0], 0);
    EXPECT_EQ(result[1], 255);
    uint8_t nan_result[2] = {255, 0};
    bl_blend_bytes(nan_result, original, 2, __builtin_nanf(""));
    EXPECT_EQ(nan_result[0], 0);
    EXPECT_EQ(nan_result[1], 0);
}
