// The occlusion and region masks and the bilinear resize that brings their
// model maps to the crop's size.
#include <math.h>

#include <string>
#include <vector>

#include "face/test_swap_support.h"

using swap_test::image_ptr;
using swap_test::make_image;

namespace {

const float UNTOUCHED = -7.0f;

std::vector<float> pattern(int width, int height) {
    std::vector<float> map(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<float>((i * 37) % 101) / 100.0f;
    return map;
}

// A crop whose red channel is `left` in the left half and `right` in the
// right half; the other channels are mid grey.
image_ptr halves(int size, uint8_t left, uint8_t right) {
    return make_image(size, size, [&](int x, int, uint8_t rgb[3]) {
        rgb[0] = x < size / 2 ? left : right;
        rgb[1] = 128;
        rgb[2] = 128;
    });
}

image_ptr grey_crop(int size) {
    return make_image(size, size, [](int x, int y, uint8_t rgb[3]) {
        rgb[0] = static_cast<uint8_t>(x);
        rgb[1] = static_cast<uint8_t>(y);
        rgb[2] = 90;
    });
}

bool all_equal(const std::vector<float>& map, float value) {
    for (float v : map)
        if (v != value) return false;
    return true;
}

bool all_near(const std::vector<float>& map, float value) {
    for (float v : map)
        if (fabsf(v - value) > 1e-5f) return false;
    return true;
}

// Column profile of a mask that should vary only along x.
void expect_dark_left_light_right(const std::vector<float>& mask, int size) {
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size / 2; ++x)
            ASSERT_EQ(mask[y * size + x], 0.0f) << "x " << x << " y " << y;
        for (int x = size / 2 + 16; x < size; ++x)
            ASSERT_NEAR(mask[y * size + x], 1.0f, 1e-3f) << "x " << x << " y " << y;
        for (int x = size / 2; x < size - 1; ++x)
            ASSERT_LE(mask[y * size + x], mask[y * size + x + 1] + 1e-6f) << "x " << x;
    }
}

}  // namespace

// ------------------------------------------------------------ bilinear resize

TEST(MaskResize, SameSizeReproducesTheMap) {
    std::vector<float> src = pattern(7, 5), dst(src.size(), UNTOUCHED);
    bl_mask_resize_bilinear(src.data(), 7, 5, dst.data(), 7, 5);
    EXPECT_EQ(dst, src);
}

TEST(MaskResize, HalvingAveragesTwoByTwoBlocks) {
    std::vector<float> src = pattern(512, 512), dst(256 * 256, UNTOUCHED);
    bl_mask_resize_bilinear(src.data(), 512, 512, dst.data(), 256, 256);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const float* s = &src[(2 * y) * 512 + 2 * x];
            float mean = (s[0] + s[1] + s[512] + s[513]) / 4.0f;
            ASSERT_NEAR(dst[y * 256 + x], mean, 1e-6f) << x << "," << y;
        }
}

TEST(MaskResize, EnlargingRepeatsTheEdgesAndInterpolatesBetween) {
    std::vector<float> src = pattern(4, 3), dst(8 * 6, UNTOUCHED);
    bl_mask_resize_bilinear(src.data(), 4, 3, dst.data(), 8, 6);
    EXPECT_EQ(dst[0], src[0]);
    EXPECT_EQ(dst[7], src[3]);
    EXPECT_EQ(dst[5 * 8 + 0], src[2 * 4 + 0]);
    EXPECT_EQ(dst[5 * 8 + 7], src[2 * 4 + 3]);
    // Column 3 samples x = 1.25, row 0 samples y = 0 (clamped from -0.25).
    EXPECT_NEAR(dst[3], src[1] * 0.75f + src[2] * 0.25f, 1e-6f);
}

// ------------------------------------------------------------ occlusion mask

class OcclusionMask : public swap_test::SwapSlots {};

TEST_F(OcclusionMask, WithoutTheModelFailsAndLeavesTheMask) {
    image_ptr crop = grey_crop(128);
    std::vector<float> mask(128 * 128, UNTOUCHED);
    EXPECT_EQ(bl_create_occlusion_mask(&occluder, crop.get(), mask.data()), -1);
    EXPECT_TRUE(all_equal(mask, UNTOUCHED));
}

TEST_F(OcclusionMask, ConstantOutputsAreClampedBeforeTheFinish) {
    struct { const char* model; float expected; } cases[] = {
        {"occluder_ones.onnx", 1.0f}, {"occluder_zeros.onnx", 0.0f},
        {"occluder_three.onnx", 1.0f}, {"occluder_minus_two.onnx", 0.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        open_occluder(c.model);
        image_ptr crop = grey_crop(256);
        std::vector<float> mask(256 * 256, UNTOUCHED);
        ASSERT_EQ(bl_create_occlusion_mask(&occluder, crop.get(), mask.data()), 0);
        EXPECT_TRUE(all_near(mask, c.expected));
    }
}

TEST_F(OcclusionMask, SharpBoundaryFadesInsideTheVisibleSideOnly) {
    // The 64-pixel model also shows that the crop is brought to the model's
    // own input size and the map back to the crop's.
    for (const char* name : {"occluder_red.onnx", "occluder_red_64.onnx"}) {
        SCOPED_TRACE(name);
        open_occluder(name);
        image_ptr crop = halves(128, 0, 255);
        std::vector<float> mask(128 * 128, UNTOUCHED);
        ASSERT_EQ(bl_create_occlusion_mask(&occluder, crop.get(), mask.data()), 0);
        expect_dark_left_light_right(mask, 128);
    }
}

TEST_F(OcclusionMask, ModelsOutsideTheContractAreRefused) {
    // Height and width not fixed, a three-dimensional input, and an output
    // shorter than the H x W values read.
    for (const char* name :
         {"occluder_dynamic.onnx", "occluder_rank3.onnx", "occluder_short.onnx"}) {
        SCOPED_TRACE(name);
        open_occluder(name);
        image_ptr crop = grey_crop(128);
        std::vector<float> mask(128 * 128, UNTOUCHED);
        bl_test::StderrCapture err;
        EXPECT_EQ(bl_create_occlusion_mask(&occluder, crop.get(), mask.data()), -1);
        EXPECT_TRUE(all_equal(mask, UNTOUCHED));
    }
}

// --------------------------------------------------------------- region mask

class RegionMask : public swap_test::SwapSlots {};

TEST_F(RegionMask, WithoutTheModelFailsAndLeavesTheMask) {
    image_ptr crop = grey_crop(128);
    std::vector<float> mask(128 * 128, UNTOUCHED);
    EXPECT_EQ(bl_create_region_mask(&parser, crop.get(), mask.data()), -1);
    EXPECT_TRUE(all_equal(mask, UNTOUCHED));
}

TEST_F(RegionMask, WinningClassDecidesAndTiesKeepTheLowerClass) {
    struct { const char* model; float expected; } cases[] = {
        {"parser_face.onnx", 1.0f},          // class 1 (skin) everywhere
        {"parser_background.onnx", 0.0f},    // class 0
        {"parser_hair.onnx", 0.0f},          // class 17 is not face
        {"parser_tie_0_1.onnx", 0.0f},       // tie: class 0 wins
        {"parser_tie_1_7.onnx", 1.0f},       // tie: class 1 wins
        {"parser_single_class.onnx", 0.0f},  // C = 1: nothing is face
        {"parser_flat.onnx", 1.0f},          // no class axis: read as 19 planes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        open_parser(c.model);
        image_ptr crop = grey_crop(256);
        std::vector<float> mask(256 * 256, UNTOUCHED);
        ASSERT_EQ(bl_create_region_mask(&parser, crop.get(), mask.data()), 0);
        EXPECT_TRUE(all_near(mask, c.expected));
    }
}

TEST_F(RegionMask, ParserSeesTheCropMirroredAndItsMapIsNotMirroredBack) {
    // The parser calls "face" wherever its input is red: the red half of the
    // crop reaches it on the right, and the mask keeps the right.
    open_parser("parser_mirror.onnx");
    image_ptr crop = halves(128, 255, 0);
    std::vector<float> mask(128 * 128, UNTOUCHED);
    ASSERT_EQ(bl_create_region_mask(&parser, crop.get(), mask.data()), 0);
    expect_dark_left_light_right(mask, 128);
}

TEST_F(RegionMask, OutputShorterThanItsClassesIsRefused) {
    open_parser("parser_short.onnx");
    image_ptr crop = grey_crop(128);
    std::vector<float> mask(128 * 128, UNTOUCHED);
    bl_test::StderrCapture err;
    EXPECT_EQ(bl_create_region_mask(&parser, crop.get(), mask.data()), -1);
    EXPECT_TRUE(all_equal(mask, UNTOUCHED));
    EXPECT_NE(err.text().find("[face_parser] "), std::string::npos);
}
