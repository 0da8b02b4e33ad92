// Recognizer: alignment on the alignment points, the B, G, R input, the
// embedding and its unit-length copy, and its failures.
#include <math.h>
#include <string.h>

#include "face/face_detect.h"
#include "face/face_recognize.h"
#include "image/image_math.h"
#include "image/image_warp.h"
#include "support/reference_math.h"
#include "test_detect_support.h"

using bl_test::FaceSlots;
using bl_test::ImagePtr;
using bl_test::solid_image;

namespace {

// Each channel of pixel (x, y) differs, so a wrong channel or place shows.
ImagePtr pattern_image(int width, int height) {
    ImagePtr image(bl_image_create(width, height, 3));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = image->data + (static_cast<size_t>(y) * width + x) * 3;
            p[0] = static_cast<uint8_t>((x * 3 + y) % 256);
            p[1] = static_cast<uint8_t>((x + y * 5) % 256);
            p[2] = static_cast<uint8_t>((x * 7 + y * 2 + 11) % 256);
        }
    return image;
}

// A face whose alignment points are the recognizer template placed at
// (dx, dy): its crop is the 112 x 112 region starting there. The detector's
// own points are elsewhere, so aligning on them would show.
bl_face template_face(float dx, float dy) {
    bl_face face;
    memset(&face, 0, sizeof(face));
    for (int k = 0; k < 5; ++k) {
        face.landmark5_align[2 * k] = WARP_TEMPLATE_ARCFACE_112_V2[2 * k] * 112 + dx;
        face.landmark5_align[2 * k + 1] = WARP_TEMPLATE_ARCFACE_112_V2[2 * k + 1] * 112 + dy;
        face.landmark5[2 * k] = 3.0f * k;
        face.landmark5[2 * k + 1] = 250.0f - k;
    }
    return face;
}

}  // namespace

TEST(Recognize, AlignsOnTheAlignmentPointsAndFeedsBlueGreenRedPlanes) {
    // The probe recognizer returns the first 512 input values: the top rows
    // of the blue plane, byte / 127.5 - 1.
    FaceSlots slots("slots/scrfd_2.5g.onnx", "scrfd_2.5g.onnx");
    ASSERT_TRUE(slots.recognizer("detect/arcface_probe.onnx"));
    ImagePtr image = pattern_image(300, 260);
    for (int shift = 0; shift < 2; ++shift) {
        const int dx = shift * 10, dy = shift * 20;
        SCOPED_TRACE(dx);
        bl_face face = template_face(static_cast<float>(dx), static_cast<float>(dy));
        ASSERT_EQ(bl_recognize_face(slots.recognizer(), image.get(), &face), 0);
        for (int k = 0; k < 512; ++k) {
            const int x = k % 112 + dx, y = k / 112 + dy;
            const uint8_t blue = image->data[(static_cast<size_t>(y) * 300 + x) * 3 + 2];
            ASSERT_EQ(face.embedding[k], blue / 127.5f - 1.0f) << k;
        }
        // The unit-length copy is the raw vector over its length.
        float length = bl_vec_norm(face.embedding, 512);
        EXPECT_NEAR(bl_vec_norm(face.normed_embedding, 512), 1.0f, 1e-5f);
        for (int k = 0; k < 512; k += 37)
            EXPECT_FLOAT_EQ(face.normed_embedding[k], face.embedding[k] / length);
        // Again on the same face: the same vectors.
        bl_face again = face;
        ASSERT_EQ(bl_recognize_face(slots.recognizer(), image.get(), &again), 0);
        EXPECT_EQ(memcmp(&again, &face, sizeof(face)), 0);
    }
}

TEST(Recognize, AllZeroOutputStaysZero) {
    FaceSlots slots("slots/scrfd_2.5g.onnx", "scrfd_2.5g.onnx");
    ASSERT_TRUE(slots.recognizer("slots/arcface_w600k_r50.onnx"));
    ImagePtr image = pattern_image(300, 260);
    bl_face face = template_face(0, 0);
    for (int k = 0; k < 512; ++k) face.embedding[k] = face.normed_embedding[k] = 1.0f;
    ASSERT_EQ(bl_recognize_face(slots.recognizer(), image.get(), &face), 0);
    for (int k = 0; k < 512; ++k) {
        ASSERT_EQ(face.embedding[k], 0.0f);
        ASSERT_EQ(face.normed_embedding[k], 0.0f);
    }
}

TEST(Recognize, FailuresLeaveTheFaceAsItWas) {
    ImagePtr image = pattern_image(300, 260);
    const bl_face before = template_face(0, 0);
    bl_face face = before;
    const bl_model closed;
    EXPECT_EQ(bl_recognize_face(&closed, image.get(), &face), -1);
    EXPECT_EQ(bl_recognize_face(nullptr, image.get(), &face), -1);
    EXPECT_EQ(memcmp(&face, &before, sizeof(face)), 0);

    {
        // Points that are not numbers cannot be aligned.
        FaceSlots slots("slots/scrfd_2.5g.onnx", "scrfd_2.5g.onnx");
        ASSERT_TRUE(slots.recognizer("detect/arcface_probe.onnx"));
        bl_face lost = before;
        lost.landmark5_align[3] = NAN;
        const bl_face lost_before = lost;
        EXPECT_EQ(bl_recognize_face(slots.recognizer(), image.get(), &lost), -1);
        EXPECT_EQ(memcmp(&lost, &lost_before, sizeof(lost)), 0);
    }

    struct Case { const char* model; bool message; };
    // An output shorter than 512 values is a failed run; so is a model that
    // takes another input size.
    for (const Case& c : {Case{"detect/arcface_short.onnx", true},
                          Case{"slots/inswapper_128.onnx", true}}) {
        SCOPED_TRACE(c.model);
        FaceSlots slots("slots/scrfd_2.5g.onnx", "scrfd_2.5g.onnx");
        ASSERT_TRUE(slots.recognizer(c.model));
        bl_test::StderrCapture err;
        EXPECT_EQ(bl_recognize_face(slots.recognizer(), image.get(), &face), -1);
        EXPECT_EQ(memcmp(&face, &before, sizeof(face)), 0);
        EXPECT_EQ(bl_recognize_face(slots.recognizer(), nullptr, &face), -1);
        EXPECT_EQ(bl_recognize_face(slots.recognizer(), image.get(), nullptr), -1);
        std::string text = err.text();
        EXPECT_EQ(text.rfind("[recognize] Run failed: ", 0), 0u) << text;
    }
}

TEST(Recognize, ColourRecognizerGivesOneIdentityPerColour) {
    // Blob detector and colour recognizer together: squares of one colour
    // share an identity, squares of different colours do not.
    FaceSlots slots("detect/scrfd_2.5g.onnx", "scrfd_2.5g.onnx");
    ASSERT_TRUE(slots.recognizer("detect/arcface_w600k_r50.onnx"));
    ImagePtr image = solid_image(640, 640, 0, 0, 0);
    bl_test::fill_rect(image.get(), 96, 96, 64, 64, 255, 0, 0);
    bl_test::fill_rect(image.get(), 416, 96, 64, 64, 255, 0, 0);
    bl_test::fill_rect(image.get(), 256, 400, 64, 64, 0, 255, 0);
    static bl_face_list list;
    ASSERT_EQ(bl_detect_faces(slots.detector(), image.get(), 0.3f, 640, &list), 3);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(bl_recognize_face(slots.recognizer(), image.get(), &list.faces[i]), 0);
    // Equal scores: scan order, so the two red squares come first.
    const float* red1 = list.faces[0].normed_embedding;
    const float* red2 = list.faces[1].normed_embedding;
    const float* green = list.faces[2].normed_embedding;
    EXPECT_NEAR(bl_test::vec_dot(red1, red2, 512), 1.0f, 1e-5f);
    EXPECT_LT(bl_test::vec_dot(red1, green, 512), 0.3f);
}
