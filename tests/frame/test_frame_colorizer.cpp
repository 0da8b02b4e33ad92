#include <math.h>

#include <string>

#include "frame/frame_colorizer.h"
#include "support/test_images.h"
#include "support/testutil.h"

using bl_test::image_ptr;
using bl_test::make_image;
using bl_test::noise;
using bl_test::pixel_at;
using bl_test::StderrCapture;

namespace {

struct lab {
    float L, a, b;
};

lab lab_of(float r, float g, float b) {
    lab v;
    rgb_to_lab(r, g, b, &v.L, &v.a, &v.b);
    return v;
}

lab lab_of_pixel(const uint8_t* p) { return lab_of(p[0] / 255.0f, p[1] / 255.0f, p[2] / 255.0f); }

// Bytes of the colour (L, a, b), as the colorizer quantises them.
void bytes_of(float L, float a, float b, uint8_t out[3]) {
    float rgb[3];
    bl_lab_to_rgb(L, a, b, &rgb[0], &rgb[1], &rgb[2]);
    for (int c = 0; c < 3; ++c) {
        float v = rgb[c] * 255.0f + 0.5f;
        out[c] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
}

// Red channel of the grey rendering the model is shown for one pixel.
float grey_rendering_red(const uint8_t* p) {
    float y = p[0] / 255.0f * 0.299f + p[1] / 255.0f * 0.587f + p[2] / 255.0f * 0.114f;
    lab grey = lab_of(y, y, y);
    float rgb[3];
    bl_lab_to_rgb(grey.L, 0, 0, &rgb[0], &rgb[1], &rgb[2]);
    return rgb[0];
}

int max_difference(const uint8_t* got, const uint8_t* want) {
    int worst = 0;
    for (int c = 0; c < 3; ++c) worst = std::max(worst, abs(got[c] - want[c]));
    return worst;
}

class Colorizer : public ::testing::Test {
protected:
    void TearDown() override { bl_model_close(&colorizer); }

    void open(const std::string& generated) {
        StderrCapture quiet;
        ASSERT_EQ(bl_colorizer_open(bl_test::test_runtime(), bl_test::model_path(generated).c_str(),
                                    &colorizer),
                  0);
    }

    bl_model colorizer;
};

image_ptr noise_image(int w, int h) {
    return make_image(w, h, [&](int x, int y, uint8_t rgb[3]) {
        for (int c = 0; c < 3; ++c) rgb[c] = noise(x, y, c);
    });
}

}  // namespace

TEST(ColourConversion, MatchesHandComputedValues) {
    lab black = lab_of(0, 0, 0);
    EXPECT_NEAR(black.L, 0.0f, 1e-4f);
    EXPECT_NEAR(black.a, 0.0f, 1e-4f);
    EXPECT_NEAR(black.b, 0.0f, 1e-4f);
    lab white = lab_of(1, 1, 1);
    EXPECT_NEAR(white.L, 100.0f, 1e-3f);
    EXPECT_NEAR(white.a, 0.0f, 1e-3f);
    EXPECT_NEAR(white.b, 0.0f, 1e-3f);
    // Pure red: X = 0.4124564 / 0.95047, Y = 0.2126729, Z = 0.0193339 / 1.08883.
    lab red = lab_of(1, 0, 0);
    EXPECT_NEAR(red.L, 53.2408f, 1e-3f);
    EXPECT_NEAR(red.a, 80.0924f, 1e-3f);
    EXPECT_NEAR(red.b, 67.2032f, 1e-3f);
    // A dark grey takes the linear branch of both curves:
    // L = 116 (7.787 x 0.02 / 12.92 + 0.13793103) - 16.
    lab dark = lab_of(0.02f, 0.02f, 0.02f);
    EXPECT_NEAR(dark.L, 1.3983f, 1e-3f);

    float r, g, b;
    bl_lab_to_rgb(53.2408f, 80.0924f, 67.2032f, &r, &g, &b);
    EXPECT_NEAR(r, 1.0f, 1e-4f);
    EXPECT_NEAR(g, 0.0f, 1e-4f);
    EXPECT_NEAR(b, 0.0f, 1e-4f);
    bl_lab_to_rgb(100, 0, 0, &r, &g, &b);
    EXPECT_NEAR(r, 1.0f, 1e-4f);
    EXPECT_NEAR(g, 1.0f, 1e-4f);
    EXPECT_NEAR(b, 1.0f, 1e-4f);
    // Far outside the gamut every channel is clamped before gamma encoding.
    bl_lab_to_rgb(50, 150, -150, &r, &g, &b);
    EXPECT_FLOAT_EQ(g, 0.0f);
    EXPECT_LE(r, 1.0f);
    EXPECT_LE(b, 1.0f);
    bl_lab_to_rgb(50, -150, 150, &r, &g, &b);
    EXPECT_FLOAT_EQ(r, 0.0f);
    EXPECT_FLOAT_EQ(b, 0.0f);
}

TEST_F(Colorizer, KeepsTheFramesOwnLightness) {
    open("frame/colorize_const.onnx");  // a* = 20, b* = -10 everywhere
    // Saturated blue has L* 32 while the luma grey the model sees has about 12.
    image_ptr frame = make_image(40, 30, [](int x, int y, uint8_t rgb[3]) {
        bool blue = x < 20;
        rgb[0] = blue ? 0 : static_cast<uint8_t>(100 + y);
        rgb[1] = blue ? 0 : static_cast<uint8_t>(90 + x);
        rgb[2] = blue ? 255 : 110;
    });
    image_ptr result(bl_colorize_frame(&colorizer, frame.get(), 100));
    ASSERT_TRUE(result);
    int worst = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            lab own = lab_of_pixel(pixel_at(frame.get(), x, y));
            uint8_t want[3];
            bytes_of(own.L, 20, -10, want);
            worst = std::max(worst, max_difference(pixel_at(result.get(), x, y), want));
            EXPECT_NEAR(lab_of_pixel(pixel_at(result.get(), x, y)).L, own.L, 0.5f);
        }
    EXPECT_EQ(worst, 0);
}

TEST_F(Colorizer, BlendZeroReturnsTheFrameAndHundredThePureResult) {
    open("frame/colorize_const.onnx");
    image_ptr frame = noise_image(33, 17);
    image_ptr pure(bl_colorize_frame(&colorizer, frame.get(), 100));
    image_ptr none(bl_colorize_frame(&colorizer, frame.get(), 0));
    image_ptr half(bl_colorize_frame(&colorizer, frame.get(), 50));
    ASSERT_TRUE(pure && none && half);
    const size_t bytes = static_cast<size_t>(33) * 17 * 3;
    EXPECT_EQ(memcmp(none->data, frame->data, bytes), 0);
    for (size_t i = 0; i < bytes; ++i)
        ASSERT_EQ(half->data[i],
                  static_cast<int>(frame->data[i] * 0.5f + pure->data[i] * 0.5f + 0.5f));
    int worst = 0;
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 33; ++x) {
            uint8_t want[3];
            bytes_of(lab_of_pixel(pixel_at(frame.get(), x, y)).L, 20, -10, want);
            worst = std::max(worst, max_difference(pixel_at(pure.get(), x, y), want));
        }
    EXPECT_EQ(worst, 0);
}

// The probe model answers a* = 30 R - 15 + 0.04 x and b* = 0.04 y - 10 at
// model pixel (x, y), R being the grey rendering it is shown.
TEST_F(Colorizer, SquareFrameOf512IsSampledOneToOne) {
    open("frame/colorize_probe.onnx");
    image_ptr frame = noise_image(512, 512);
    image_ptr result(bl_colorize_frame(&colorizer, frame.get(), 100));
    ASSERT_TRUE(result);
    int worst = 0;
    for (int y = 0; y < 512; y += 3)
        for (int x = 0; x < 512; x += 5) {
            const uint8_t* p = pixel_at(frame.get(), x, y);
            float a = 30.0f * grey_rendering_red(p) - 15.0f + 0.04f * x;
            float b = 0.04f * y - 10.0f;
            uint8_t want[3];
            bytes_of(lab_of_pixel(p).L, a, b, want);
            worst = std::max(worst, max_difference(pixel_at(result.get(), x, y), want));
        }
    EXPECT_LE(worst, 1);
}

TEST_F(Colorizer, SinglePixelFrameIsSampledAtItsOnlyPixelAndModelOrigin) {
    open("frame/colorize_probe.onnx");
    const uint8_t colour[3] = {200, 60, 30};
    image_ptr frame = make_image(1, 1, [&](int, int, uint8_t rgb[3]) { memcpy(rgb, colour, 3); });
    image_ptr result(bl_colorize_frame(&colorizer, frame.get(), 100));
    ASSERT_TRUE(result);
    uint8_t want[3];
    bytes_of(lab_of_pixel(colour).L, 30.0f * grey_rendering_red(colour) - 15.0f, -10.0f, want);
    EXPECT_LE(max_difference(result->data, want), 1);
}

TEST_F(Colorizer, ShortOutputOrClosedSessionFails) {
    image_ptr frame = noise_image(8, 8);
    EXPECT_FALSE(bl_colorize_frame(&colorizer, frame.get(), 100));
    open("frame/colorize_short.onnx");  // one chroma plane instead of two
    StderrCapture err;
    EXPECT_FALSE(bl_colorize_frame(&colorizer, frame.get(), 100));
    EXPECT_EQ(err.text(), "");
}
