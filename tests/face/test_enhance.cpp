// The face enhancer on one face: conversion of the model's values to bytes,
// the blend, and the failures that leave the frame to the caller.
#include <string.h>

#include <string>

#include "face/face_enhancer.h"
#include "support/test_images.h"
#include "image/image_warp.h"
#include "support/testutil.h"

using bl_test::image_ptr;
using bl_test::make_image;
using bl_test::noise;
using bl_test::pixel_at;
using bl_test::StderrCapture;

namespace {

const int32_t NO_PADDING[4] = {0, 0, 0, 0};
const int OFFSET = 44;  // the 512 crop sits at (44, 44) of a 600 x 600 frame

// A face whose alignment is a pure shift: crop pixel (x, y) is frame pixel
// (x + 44, y + 44).
bl_face shifted_face() {
    bl_face face = {};
    for (int i = 0; i < 10; ++i)
        face.landmark5_align[i] = WARP_TEMPLATE_FFHQ_512[i] * 512.0f + OFFSET;
    return face;
}

class Enhancer : public ::testing::Test {
protected:
    void TearDown() override { bl_model_close(&enhancer); }

    void open(const std::string& generated) {
        StderrCapture quiet;
        ASSERT_EQ(bl_face_enhancer_open(bl_test::test_runtime(),
                                        bl_test::model_path(generated).c_str(), &enhancer),
                  0);
    }

    image_ptr enhance(float blend) {
        bl_face face = shifted_face();
        return image_ptr(
            bl_face_enhancer_apply(&enhancer, &face, frame.get(), blend, 0.3f, NO_PADDING));
    }

    bl_model enhancer;

    image_ptr frame = make_image(600, 600, [](int x, int y, uint8_t rgb[3]) {
        for (int c = 0; c < 3; ++c) rgb[c] = noise(x, y, c);
    });
};

bool same_pixel(const uint8_t* a, const uint8_t* b) { return memcmp(a, b, 3) == 0; }

}  // namespace

TEST_F(Enhancer, ModelValuesBecomeBytes) {
    struct {
        const char* model;
        uint8_t want[3];
    } cases[] = {
        {"frame/enhance_minus1_0_3.onnx", {0, 128, 255}},     // -1, 0, above 1
        {"frame/enhance_minus2_half_1.onnx", {0, 191, 255}},  // below -1, 0.5, exactly 1
    };
    for (const auto& c : cases) {
        open(c.model);
        image_ptr result = enhance(1.0f);
        ASSERT_TRUE(result) << c.model;
        // The centre of the crop is fully pasted; far corners are untouched.
        EXPECT_TRUE(same_pixel(pixel_at(result.get(), 300, 300), c.want)) << c.model;
        EXPECT_TRUE(same_pixel(pixel_at(result.get(), 5, 5), pixel_at(frame.get(), 5, 5)));
        EXPECT_TRUE(same_pixel(pixel_at(result.get(), 599, 599), pixel_at(frame.get(), 599, 599)));
    }
}

TEST_F(Enhancer, BlendMixesTheUnrestoredCropBackIn) {
    open("frame/enhance_minus1_0_3.onnx");
    image_ptr untouched = enhance(0.0f);
    ASSERT_TRUE(untouched);
    int worst = 0;
    for (size_t i = 0; i < static_cast<size_t>(600) * 600 * 3; ++i)
        worst = std::max(worst, abs(untouched->data[i] - frame->data[i]));
    EXPECT_LE(worst, 1);

    image_ptr quarter = enhance(0.25f);
    ASSERT_TRUE(quarter);
    const uint8_t restored[3] = {0, 128, 255};
    for (int c = 0; c < 3; ++c) {
        float o = pixel_at(frame.get(), 300, 300)[c];
        EXPECT_EQ(pixel_at(quarter.get(), 300, 300)[c],
                  static_cast<int>(o * (1.0f - 0.25f) + restored[c] * 0.25f + 0.5f));
    }
}

TEST_F(Enhancer, FrameIsNeverModified) {
    open("frame/enhance_darken.onnx");
    image_ptr before(bl_image_clone(frame.get()));
    image_ptr result = enhance(0.8f);
    ASSERT_TRUE(result);
    EXPECT_EQ(memcmp(before->data, frame->data, static_cast<size_t>(600) * 600 * 3), 0);
}

TEST_F(Enhancer, FailuresGiveNone) {
    bl_face face = shifted_face();
    // No model loaded.
    EXPECT_FALSE(bl_face_enhancer_apply(&enhancer, &face, frame.get(), 1.0f, 0.3f, NO_PADDING));
    // A model whose output is a quarter of what is read.
    open("frame/enhance_short.onnx");
    StderrCapture err;
    EXPECT_FALSE(bl_face_enhancer_apply(&enhancer, &face, frame.get(), 1.0f, 0.3f, NO_PADDING));
    EXPECT_FALSE(bl_face_enhancer_apply(&enhancer, nullptr, frame.get(), 1.0f, 0.3f, NO_PADDING));
    EXPECT_FALSE(bl_face_enhancer_apply(&enhancer, &face, nullptr, 1.0f, 0.3f, NO_PADDING));
    EXPECT_EQ(err.text(), "");
    // A model that does not take the crop's shape fails its run, with a line.
    open("slots/real_esrgan_x2.onnx");
    StderrCapture run_err;
    EXPECT_FALSE(bl_face_enhancer_apply(&enhancer, &face, frame.get(), 1.0f, 0.3f, NO_PADDING));
    EXPECT_EQ(run_err.text().rfind("[face_enhance] Run failed: ", 0), 0u);
}
