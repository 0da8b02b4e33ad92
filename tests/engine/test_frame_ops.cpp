// The public colorize and upscale operations and the server placeholders:
// every message, every progress line, and which model file each call opens.
#include <filesystem>
#include <string>

#include "brightloom.h"
#include "support/test_images.h"
#include "image/image_io.h"
#include "support/testutil.h"

using bl_test::count_of;
using bl_test::file_exists;
using bl_test::image_ptr;
using bl_test::ModelDir;
using bl_test::StderrCapture;
using bl_test::TempDir;

namespace {

using bl_test::NOT_INITIALIZED;

class FrameOps : public ::testing::Test {
protected:
    void TearDown() override { brightloom_shutdown(); }

    // A full set of models with the nearest-neighbour upscalers in place of
    // the constant ones.
    void init(ModelDir& dir) {
        dir.add_all_slots();
        dir.add("frame/upscale_nearest_x2.onnx", "real_esrgan_x2.onnx");
        dir.add("frame/upscale_nearest_x4.onnx", "real_esrgan_x4.onnx");
        dir.add("frame/colorize_const.onnx", "ddcolor.onnx");
        StderrCapture quiet;
        ASSERT_EQ(brightloom_init(dir.path().c_str()), 0) << brightloom_get_error();
    }

    std::string error() const { return brightloom_get_error(); }
    TempDir files;
};

void write_noise(const std::string& path, int w, int h) {
    bl_test::write_image(path, w, h, [](int x, int y, uint8_t rgb[3]) {
        for (int c = 0; c < 3; ++c) rgb[c] = bl_test::noise(x, y, c);
    });
}

image_ptr load(const std::string& path) { return image_ptr(bl_image_load(path.c_str())); }

}  // namespace

TEST_F(FrameOps, EveryOperationRefusesBeforeInitialization) {
    std::string in = files.file("in.png"), out = files.file("out.png");
    write_noise(in, 8, 8);
    EXPECT_EQ(face_enhance(in.c_str(), out.c_str()), -1);
    EXPECT_EQ(error(), NOT_INITIALIZED);
    brightloom_set_mask_blur(0.3f);  // any call in between leaves the message
    EXPECT_EQ(frame_colorize(in.c_str(), out.c_str(), 100), -1);
    EXPECT_EQ(error(), NOT_INITIALIZED);
    // Even an unsupported factor is reported as the missing initialization.
    EXPECT_EQ(frame_upscale(in.c_str(), out.c_str(), 3, 100), -1);
    EXPECT_EQ(error(), NOT_INITIALIZED);
    EXPECT_FALSE(file_exists(out));
}

TEST_F(FrameOps, ServerPlaceholders) {
    EXPECT_EQ(face_start_server(8080), -1);
    EXPECT_EQ(error(), "HTTP server not yet implemented");
    face_stop_server();
    EXPECT_EQ(error(), "HTTP server not yet implemented");
}

TEST_F(FrameOps, UpscaleOpensTheModelOfItsFactorOnEveryCall) {
    ModelDir dir;
    init(dir);
    std::string in = files.file("in.png");
    write_noise(in, 30, 20);
    StderrCapture err;
    ASSERT_EQ(frame_upscale(in.c_str(), files.file("x4.png").c_str(), 4, 100), 0) << error();
    ASSERT_EQ(frame_upscale(in.c_str(), files.file("x2.png").c_str(), 2, 100), 0) << error();
    ASSERT_EQ(frame_upscale(in.c_str(), files.file("x2b.bmp").c_str(), 2, 100), 0) << error();
    std::string text = err.text();
    EXPECT_EQ(count_of(text, "[frame_enhancer] Loaded: " + dir.path() +
                                 "/real_esrgan_x4.onnx (scale=4)\n"),
              1)
        << text;
    EXPECT_EQ(count_of(text, "[frame_enhancer] Loaded: " + dir.path() +
                                 "/real_esrgan_x2.onnx (scale=2)\n"),
              2)
        << text;
    EXPECT_EQ(count_of(text, "[brightloom] frame_upscale: " + in + " → " + files.file("x4.png") +
                                 " (4x, blend=100%)\n"),
              1)
        << text;

    image_ptr frame = load(in), x4 = load(files.file("x4.png")), x2 = load(files.file("x2b.bmp"));
    ASSERT_TRUE(frame && x4 && x2);
    EXPECT_EQ(x4->width, 120);
    EXPECT_EQ(x4->height, 80);
    EXPECT_EQ(x2->width, 60);
    EXPECT_EQ(x2->height, 40);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 120; ++x)
            ASSERT_EQ(memcmp(bl_test::pixel_at(x4.get(), x, y),
                             bl_test::pixel_at(frame.get(), x / 4, y / 4), 3),
                      0);
}

TEST_F(FrameOps, UpscaleRefusesOtherFactorsFirst) {
    ModelDir dir;
    init(dir);
    dir.remove("real_esrgan_x2.onnx");
    std::string out = files.file("out.png");
    for (int scale : {3, 1, 0, -2, 8}) {
        StderrCapture err;
        EXPECT_EQ(frame_upscale(files.file("missing.png").c_str(), out.c_str(), scale, 100), -1);
        EXPECT_EQ(error(),
                  "Unsupported upscale factor: " + std::to_string(scale) + " (use 2 or 4)");
        EXPECT_EQ(err.text(), "");
    }
    EXPECT_FALSE(file_exists(out));
}

TEST_F(FrameOps, UpscaleFailuresNameTheirStep) {
    ModelDir dir;
    init(dir);
    std::string in = files.file("in.png"), out = files.file("out.png");
    write_noise(in, 10, 10);

    {
        StderrCapture quiet;
        dir.remove("real_esrgan_x4.onnx");
        // The model is opened before the input is read: a missing input is not reported.
        EXPECT_EQ(frame_upscale(files.file("missing.png").c_str(), out.c_str(), 4, 100), -1);
        EXPECT_EQ(error(), "Failed to load frame enhancer: " + dir.path() + "/real_esrgan_x4.onnx");

        EXPECT_EQ(frame_upscale(files.file("missing.png").c_str(), out.c_str(), 2, 100), -1);
        EXPECT_EQ(error(), "Failed to load image: " + files.file("missing.png"));

        // One row so wide that the x4 canvases would pass 2 GiB.
        std::string wide = files.file("wide.png");
        bl_test::write_solid_image(wide, 349600, 1, 10, 20, 30);
        dir.add("frame/upscale_nearest_x4.onnx", "real_esrgan_x4.onnx");
        EXPECT_EQ(frame_upscale(wide.c_str(), out.c_str(), 4, 100), -1);
        EXPECT_EQ(error(), "Frame enhancement failed");
    }

    StderrCapture err;
    std::string bad_out = files.file("no/such/dir/out.png");
    EXPECT_EQ(frame_upscale(in.c_str(), bad_out.c_str(), 2, 50), -1);
    EXPECT_EQ(error(), "Failed to save output: " + bad_out);
    EXPECT_NE(err.text().find("[brightloom] frame_upscale: " + in + " → " + bad_out +
                              " (2x, blend=50%)\n"),
              std::string::npos);
    EXPECT_FALSE(file_exists(out));
}

TEST_F(FrameOps, ColorizeWritesTheBlendedResult) {
    ModelDir dir;
    init(dir);
    std::string in = files.file("in.png"), out = files.file("out.png");
    write_noise(in, 21, 13);
    StderrCapture err;
    ASSERT_EQ(frame_colorize(in.c_str(), out.c_str(), 0), 0) << error();
    image_ptr frame = load(in), result = load(out);
    ASSERT_TRUE(frame && result);
    EXPECT_EQ(memcmp(frame->data, result->data, 21 * 13 * 3), 0);
    ASSERT_EQ(frame_colorize(in.c_str(), out.c_str(), 37.4f), 0) << error();
    std::string text = err.text();
    EXPECT_NE(text.find("[brightloom] frame_colorize: " + in + " → " + out + " (blend=0%)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[brightloom] frame_colorize: " + in + " → " + out + " (blend=37%)\n"),
              std::string::npos)
        << text;
}

TEST_F(FrameOps, ColorizeFailuresNameTheirStep) {
    ModelDir dir;
    init(dir);
    std::string in = files.file("in.png"), out = files.file("out.png");
    write_noise(in, 10, 10);

    EXPECT_EQ(frame_colorize(files.file("missing.png").c_str(), out.c_str(), 100), -1);
    EXPECT_EQ(error(), "Failed to load image: " + files.file("missing.png"));

    StderrCapture err;
    std::string bad_out = files.file("no/such/dir/out.png");
    EXPECT_EQ(frame_colorize(in.c_str(), bad_out.c_str(), 100), -1);
    EXPECT_EQ(error(), "Failed to save output: " + bad_out);
    EXPECT_NE(
        err.text().find("[brightloom] frame_colorize: " + in + " → " + bad_out + " (blend=100%)\n"),
        std::string::npos);

    // Without the colorizer model (optional at initialization).
    brightloom_shutdown();
    dir.remove("ddcolor.onnx");
    {
        StderrCapture quiet;
        ASSERT_EQ(brightloom_init(dir.path().c_str()), 0);
    }
    EXPECT_EQ(frame_colorize(in.c_str(), out.c_str(), 100), -1);
    EXPECT_EQ(error(), "Colorization failed");
    EXPECT_FALSE(file_exists(out));
}

TEST_F(FrameOps, RealUpscalerOnAPhoto) {
    BL_REQUIRE_ASSETS();
    ModelDir dir;
    init(dir);
    std::error_code ec;
    std::filesystem::copy_file(bl_test::assets_dir() + "/models/realesr-animevideov3_x4.onnx",
                               dir.file("real_esrgan_x4.onnx"),
                               std::filesystem::copy_options::overwrite_existing, ec);
    ASSERT_FALSE(ec) << ec.message();
    std::string in = bl_test::assets_dir() + "/images/single_obama_240p_smallface.jpg";
    std::string out = files.file("out.png");
    StderrCapture err;
    ASSERT_EQ(frame_upscale(in.c_str(), out.c_str(), 4, 80), 0) << error();
    std::string text = err.text();
    EXPECT_EQ(count_of(text, "failed"), 0) << text;
    EXPECT_NE(text.find("[frame_enhancer] Done: 427x240 → 1708x960 (4x)\n"), std::string::npos)
        << text;
    image_ptr result = load(out);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->width, 1708);
    EXPECT_EQ(result->height, 960);
}
