// The public face_enhance operation end to end, with the bright-square
// detector: which image each step reads, its messages and its progress line.
#include <string>

#include "brightloom.h"
#include "support/test_images.h"
#include "image/image_io.h"
#include "support/testutil.h"

using bl_test::file_exists;
using bl_test::image_ptr;
using bl_test::ModelDir;
using bl_test::pixel_at;
using bl_test::StderrCapture;
using bl_test::TempDir;

namespace {

class FaceEnhanceOp : public ::testing::Test {
protected:
    void SetUp() override { brightloom_set_enhancer_blend(1.0f); }
    void TearDown() override {
        brightloom_shutdown();
        brightloom_set_enhancer_blend(0.8f);
    }

    // Bright-square detector and landmarker; `enhancer` (none: no enhancer
    // model at all) as the default enhancer file.
    void init(const char* enhancer) {
        dir.add_all_slots();
        dir.add("detect/scrfd_2.5g.onnx");
        dir.add("detect/2dfan4.onnx");
        if (enhancer)
            dir.add(enhancer, "gfpgan_1.4.onnx");
        else
            dir.remove("gfpgan_1.4.onnx");
        StderrCapture quiet;
        ASSERT_EQ(brightloom_init(dir.path().c_str()), 0) << brightloom_get_error();
    }

    std::string error() const { return brightloom_get_error(); }

    ModelDir dir;
    TempDir files;
};

// Dark noise with two bright plain 64 x 64 squares centred at (160, 320) and
// (480, 320): two faces far enough apart that their crops never meet.
void write_two_faces(const std::string& path) {
    bl_test::write_image(path, 640, 640, [](int x, int y, uint8_t rgb[3]) {
        bool square = y >= 288 && y < 352 && ((x >= 128 && x < 192) || (x >= 448 && x < 512));
        for (int c = 0; c < 3; ++c)
            rgb[c] = square ? static_cast<uint8_t>(200 - 15 * c)
                            : static_cast<uint8_t>(bl_test::noise(x, y, c, 100));
    });
}

image_ptr load(const std::string& path) { return image_ptr(bl_image_load(path.c_str())); }

}  // namespace

TEST_F(FaceEnhanceOp, EveryFaceIsRestoredOnTopOfThePrevious) {
    init("frame/enhance_darken.onnx");  // halves every byte
    std::string in = files.file("in.png"), out = files.file("out.png");
    write_two_faces(in);
    StderrCapture err;
    ASSERT_EQ(face_enhance(in.c_str(), out.c_str()), 0) << error();
    EXPECT_NE(err.text().find("[brightloom] face_enhance: " + in + " → " + out + " (2 faces)\n"),
              std::string::npos);
    image_ptr frame = load(in), result = load(out);
    ASSERT_TRUE(frame && result);
    // Both faces are restored in the one output, not only the last one.
    for (int cx : {160, 480})
        for (int dy : {-10, 0, 10})
            for (int c = 0; c < 3; ++c) {
                int o = pixel_at(frame.get(), cx, 320 + dy)[c];
                EXPECT_NEAR(pixel_at(result.get(), cx, 320 + dy)[c], o / 2, 1) << cx;
            }
    // Far from both faces nothing changes.
    EXPECT_EQ(memcmp(pixel_at(result.get(), 320, 40), pixel_at(frame.get(), 320, 40), 3), 0);
}

TEST_F(FaceEnhanceOp, WithoutEnhancerModelTheOutputIsACopy) {
    init(nullptr);
    std::string in = files.file("in.png"), out = files.file("out.png");
    write_two_faces(in);
    StderrCapture err;
    ASSERT_EQ(face_enhance(in.c_str(), out.c_str()), 0) << error();
    EXPECT_NE(err.text().find(" (2 faces)\n"), std::string::npos);
    image_ptr frame = load(in), result = load(out);
    ASSERT_TRUE(frame && result);
    EXPECT_EQ(memcmp(frame->data, result->data, static_cast<size_t>(640) * 640 * 3), 0);
}

TEST_F(FaceEnhanceOp, FailuresNameTheirStep) {
    init("frame/enhance_darken.onnx");
    std::string in = files.file("in.png"), out = files.file("out.png");

    EXPECT_EQ(face_enhance(files.file("missing.png").c_str(), out.c_str()), -1);
    EXPECT_EQ(error(), "Failed to load image: " + files.file("missing.png"));

    bl_test::write_solid_image(in, 200, 100, 30, 30, 30);
    EXPECT_EQ(face_enhance(in.c_str(), out.c_str()), -1);
    EXPECT_EQ(error(), "No face detected in image");
    EXPECT_FALSE(file_exists(out));

    write_two_faces(in);
    std::string bad_out = files.file("no/such/dir/out.png");
    StderrCapture err;
    EXPECT_EQ(face_enhance(in.c_str(), bad_out.c_str()), -1);
    EXPECT_EQ(error(), "Failed to save output: " + bad_out);
    EXPECT_NE(
        err.text().find("[brightloom] face_enhance: " + in + " → " + bad_out + " (2 faces)\n"),
        std::string::npos);
}
