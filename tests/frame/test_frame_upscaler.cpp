#include <string>

#include "frame/frame_upscaler.h"
#include "support/test_images.h"
#include "support/testutil.h"

using bl_test::image_ptr;
using bl_test::make_image;
using bl_test::noise;
using bl_test::pixel_at;
using bl_test::StderrCapture;

namespace {

class Upscaler : public ::testing::Test {
protected:
    void TearDown() override { bl_model_close(&upscaler.model); }

    void open(const std::string& generated, int scale) {
        StderrCapture quiet;
        ASSERT_EQ(bl_upscaler_open(bl_test::test_runtime(), bl_test::model_path(generated).c_str(),
                                   scale, &upscaler),
                  0);
    }

    // Runs the upscaler with stderr captured into `log`.
    image_ptr upscale(const bl_image* frame, float blend, std::string* log = nullptr) {
        StderrCapture err;
        image_ptr result(bl_upscale_frame(&upscaler, frame, blend));
        std::string text = err.text();
        if (log) *log = text;
        return result;
    }

    bl_upscaler upscaler;
};

image_ptr noise_image(int w, int h, int limit = 256) {
    return make_image(w, h, [&](int x, int y, uint8_t rgb[3]) {
        for (int c = 0; c < 3; ++c) rgb[c] = noise(x, y, c, limit);
    });
}

// Every result pixel must be the frame pixel a plain nearest-neighbour
// enlargement puts there: (x / s, y / s). Returns the count of mismatches.
int nearest_mismatches(const bl_image* frame, const bl_image* result, int s) {
    int mismatches = 0;
    for (int y = 0; y < result->height; ++y)
        for (int x = 0; x < result->width; ++x)
            for (int c = 0; c < 3; ++c)
                if (pixel_at(result, x, y)[c] != pixel_at(frame, x / s, y / s)[c]) ++mismatches;
    return mismatches;
}

}  // namespace

TEST_F(Upscaler, TileGridFollowsFrameSize) {
    open("frame/upscale_nearest_x2.onnx", 2);
    struct {
        int w, h;
        const char* line;
    } cases[] = {
        {100, 100, "[frame_enhancer] Processing 1 tiles (1x1 grid)...\n"},
        {108, 108, "[frame_enhancer] Processing 1 tiles (1x1 grid)...\n"},
        {109, 100, "[frame_enhancer] Processing 2 tiles (2x1 grid)...\n"},
        {1920, 1080, "[frame_enhancer] Processing 144 tiles (16x9 grid)...\n"},
    };
    for (const auto& c : cases) {
        image_ptr frame = noise_image(c.w, c.h);
        std::string log;
        image_ptr result = upscale(frame.get(), 100, &log);
        ASSERT_TRUE(result) << c.w << "x" << c.h;
        EXPECT_EQ(result->width, c.w * 2);
        EXPECT_EQ(result->height, c.h * 2);
        EXPECT_NE(log.find(c.line), std::string::npos) << log;
        EXPECT_EQ(bl_test::count_of(log, "Tile "), 0) << log;
    }
}

TEST_F(Upscaler, NearestModelStitchesToPlainNearestUpscale) {
    for (int s : {2, 4}) {
        open(s == 2 ? "frame/upscale_nearest_x2.onnx" : "frame/upscale_nearest_x4.onnx", s);
        // Two tile rows and three tile columns, odd sizes.
        image_ptr frame = noise_image(251, 131);
        std::string log;
        image_ptr result = upscale(frame.get(), 100, &log);
        ASSERT_TRUE(result);
        ASSERT_EQ(result->width, 251 * s);
        ASSERT_EQ(result->height, 131 * s);
        EXPECT_EQ(nearest_mismatches(frame.get(), result.get(), s), 0) << "scale " << s;
        std::string done = "[frame_enhancer] Done: 251x131 → " + std::to_string(251 * s) + "x" +
                           std::to_string(131 * s) + " (" + std::to_string(s) + "x)\n";
        EXPECT_NE(log.find(done), std::string::npos) << log;
    }
}

TEST_F(Upscaler, FailedTileComesOutBlackAndTheRestSurvives) {
    open("frame/upscale_fail_on_white_x2.onnx", 2);
    // 240 x 100 gives three tile columns; canvas column 190 (frame column
    // 180) lies in the second tile only, so a white pixel there fails it.
    image_ptr frame = noise_image(240, 100, 200);
    uint8_t* white = frame->data + (static_cast<size_t>(50) * 240 + 180) * 3;
    white[0] = white[1] = white[2] = 255;
    std::string log;
    image_ptr result = upscale(frame.get(), 100, &log);
    ASSERT_TRUE(result);
    EXPECT_NE(log.find("[frame_enhancer] Run failed: "), std::string::npos) << log;
    EXPECT_NE(log.find("[frame_enhancer] Tile 2/3 failed\n"), std::string::npos) << log;
    EXPECT_EQ(bl_test::count_of(log, "failed\n"), 1) << log;
    // The second tile's kept centre covers output-canvas columns 252 ... 499,
    // that is result columns 232 ... 479.
    int wrong = 0;
    for (int y = 0; y < result->height; ++y)
        for (int x = 0; x < result->width; ++x) {
            const uint8_t* got = pixel_at(result.get(), x, y);
            const uint8_t* want = pixel_at(frame.get(), x / 2, y / 2);
            for (int c = 0; c < 3; ++c)
                if (got[c] != (x >= 232 ? 0 : want[c])) ++wrong;
        }
    EXPECT_EQ(wrong, 0);
}

TEST_F(Upscaler, ShortModelOutputFailsEveryTileInsteadOfOverreading) {
    // A model that keeps the tile's size while x2 was recorded.
    open("frame/upscale_short_x2.onnx", 2);
    image_ptr frame = noise_image(60, 40);
    std::string log;
    image_ptr result = upscale(frame.get(), 100, &log);
    ASSERT_TRUE(result);
    EXPECT_NE(log.find("[frame_enhancer] Tile 1/1 failed\n"), std::string::npos) << log;
    for (size_t i = 0; i < static_cast<size_t>(120) * 80 * 3; ++i) ASSERT_EQ(result->data[i], 0);
}

TEST_F(Upscaler, BlendMixesWithPlainResize) {
    open("frame/upscale_nearest_x2.onnx", 2);
    image_ptr frame = noise_image(50, 30);
    image_ptr resized(bl_image_resize(frame.get(), 100, 60));
    image_ptr none = upscale(frame.get(), 0);
    image_ptr half = upscale(frame.get(), 50);
    ASSERT_TRUE(none && half && resized);
    const size_t bytes = static_cast<size_t>(100) * 60 * 3;
    EXPECT_EQ(memcmp(none->data, resized->data, bytes), 0);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 100; ++x)
            for (int c = 0; c < 3; ++c) {
                float o = pixel_at(resized.get(), x, y)[c];
                float r = pixel_at(frame.get(), x / 2, y / 2)[c];
                ASSERT_EQ(pixel_at(half.get(), x, y)[c],
                          static_cast<int>(o * (1.0f - 0.5f) + r * 0.5f + 0.5f));
            }
}

TEST_F(Upscaler, RefusesFramesWhoseCanvasWouldPassTwoGigabytes) {
    open("frame/upscale_nearest_x4.onnx", 4);
    // Only the sizes are looked at before the refusal; the pixels are never read.
    uint8_t pixel[3] = {1, 2, 3};
    bl_image huge = {pixel, 20000, 20000, 3};
    std::string log;
    EXPECT_FALSE(upscale(&huge, 100, &log));
    EXPECT_EQ(log, "");
    // A single row just past the limit at x4: 16 x W2 x 128 x 3 >= 2^31.
    bl_image wide = {pixel, 349600, 1, 3};
    EXPECT_FALSE(upscale(&wide, 100, &log));
}

TEST_F(Upscaler, ClosedSessionGivesNone) {
    image_ptr frame = noise_image(8, 8);
    EXPECT_FALSE(bl_upscale_frame(&upscaler, frame.get(), 100));
}

TEST_F(Upscaler, RealFourTimesModel) {
    BL_REQUIRE_ASSETS();
    bl_test::ModelDir dir;
    std::string model = bl_test::assets_dir() + "/models/realesr-animevideov3_x4.onnx";
    {
        StderrCapture quiet;
        ASSERT_EQ(bl_upscaler_open(bl_test::test_runtime(), model.c_str(), 4, &upscaler), 0);
    }
    // Bright flat areas drive this network slightly above 1: the bytes must
    // saturate at 255 instead of wrapping round to dark values.
    image_ptr frame = make_image(140, 90, [](int x, int y, uint8_t rgb[3]) {
        bool bright = x < 70;
        rgb[0] = bright ? 255 : static_cast<uint8_t>(x + y);
        rgb[1] = bright ? 250 : static_cast<uint8_t>(2 * y);
        rgb[2] = bright ? 252 : 40;
    });
    std::string log;
    image_ptr result = upscale(frame.get(), 100, &log);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->width, 560);
    EXPECT_EQ(result->height, 360);
    EXPECT_EQ(bl_test::count_of(log, "failed"), 0) << log;
    int dark_in_bright = 0;
    for (int y = 20; y < 340; ++y)
        for (int x = 20; x < 260; ++x)
            if (pixel_at(result.get(), x, y)[0] < 200) ++dark_in_bright;
    EXPECT_EQ(dark_in_bright, 0);
}
