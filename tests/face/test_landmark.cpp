// 68-point landmarker: the crop, the dark-crop contrast step, the mapping of
// the model's points back to the image, and its failures.
#include <math.h>
#include <string.h>

#include <random>

#include "face/face_detect.h"
#include "face/face_landmark.h"
#include "face/landmark_contrast.h"
#include "image/image_warp.h"
#include "test_detect_support.h"

using bl_test::FaceSlots;
using bl_test::ImagePtr;
using bl_test::solid_image;

namespace {

bl_face face_with_box(float x1, float y1, float x2, float y2) {
    bl_face face;
    memset(&face, 0, sizeof(face));
    const float box[4] = {x1, y1, x2, y2};
    memcpy(face.box, box, sizeof(box));
    for (int i = 0; i < 10; ++i) face.landmark5[i] = face.landmark5_align[i] = 100.0f + i;
    return face;
}

// Random samples in lo ... hi.
ImagePtr noise_image(int width, int height, int lo, int hi, unsigned seed) {
    ImagePtr image(bl_image_create(width, height, 3));
    std::mt19937 rng(seed);
    for (int i = 0; i < width * height * 3; ++i)
        image->data[i] = static_cast<uint8_t>(lo + static_cast<int>(rng() % (hi - lo + 1)));
    return image;
}

double mean_of(const bl_image* image) {
    double sum = 0;
    const int n = image->width * image->height * image->channels;
    for (int i = 0; i < n; ++i) sum += image->data[i];
    return sum / n;
}

}  // namespace

// ------------------------------------------------------------------- the crop

TEST(LandmarkCrop, BoxCentreLandsOnCropCentreWithLongerSideOver195Pixels) {
    float m[6];
    const float square[4] = {0, 0, 390, 390};
    bl_landmark68_crop_matrix(square, m);
    const float expected[6] = {0.5f, 0, 30.5f, 0, 0.5f, 30.5f};
    for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(m[i], expected[i]);

    const float tall[4] = {100, 100, 200, 300};
    bl_landmark68_crop_matrix(tall, m);
    EXPECT_FLOAT_EQ(m[0], 195.0f / 200.0f);
    EXPECT_FLOAT_EQ(m[0] * 150 + m[2], 128.0f);
    EXPECT_FLOAT_EQ(m[4] * 200 + m[5], 128.0f);
}

TEST(LandmarkCrop, BrightCropReachesTheModelByteForByte) {
    ImagePtr image = noise_image(300, 240, 60, 255, 1);
    const float box[4] = {40, 30, 200, 210};
    float m[6];
    bl_landmark68_crop_matrix(box, m);
    ImagePtr crop(bl_landmark68_crop(image.get(), m));
    ImagePtr warped(bl_warp_affine(image.get(), m, 256, 256));
    ASSERT_TRUE(crop && warped);
    EXPECT_EQ(memcmp(crop->data, warped->data, 256 * 256 * 3), 0);
}

TEST(LandmarkCrop, DarkCropIsEqualisedAndBrightened) {
    ImagePtr image = noise_image(300, 240, 0, 25, 2);
    const float box[4] = {40, 30, 200, 210};
    float m[6];
    bl_landmark68_crop_matrix(box, m);
    ImagePtr crop(bl_landmark68_crop(image.get(), m));
    ImagePtr warped(bl_warp_affine(image.get(), m, 256, 256));
    ASSERT_TRUE(crop && warped);
    EXPECT_GT(mean_of(crop.get()), mean_of(warped.get()) + 10);
}

TEST(LandmarkCrop, MeanLightnessOf30IsLeftAloneAndBelowItEqualised) {
    // Find the grey levels whose lightness byte is 29 and 30.
    int level29 = -1, level30 = -1;
    for (int v = 0; v < 256; ++v) {
        const uint8_t rgb[3] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v),
                                static_cast<uint8_t>(v)};
        uint8_t lab[3];
        bl_rgb_to_lab8(rgb, lab);
        if (lab[0] == 29 && level29 < 0) level29 = v;
        if (lab[0] == 30 && level30 < 0) level30 = v;
    }
    ASSERT_GE(level29, 0);
    ASSERT_GE(level30, 0);
    ImagePtr at = solid_image(256, 256, level30, level30, level30);
    EXPECT_EQ(bl_dark_crop_contrast(at.get()), 0);
    EXPECT_EQ(at->data[0], level30);
    ImagePtr below = solid_image(256, 256, level29, level29, level29);
    EXPECT_EQ(bl_dark_crop_contrast(below.get()), 1);
}

TEST(LandmarkCrop, LabRoundTripKeepsColours) {
    const uint8_t black[3] = {0, 0, 0}, white[3] = {255, 255, 255};
    uint8_t lab[3], rgb[3];
    bl_rgb_to_lab8(black, lab);
    EXPECT_EQ(lab[0], 0);
    EXPECT_EQ(lab[1], 128);
    EXPECT_EQ(lab[2], 128);
    bl_lab8_to_rgb(lab, rgb);
    EXPECT_EQ(memcmp(rgb, black, 3), 0);
    bl_rgb_to_lab8(white, lab);
    EXPECT_EQ(lab[0], 255);
    bl_lab8_to_rgb(lab, rgb);
    EXPECT_EQ(memcmp(rgb, white, 3), 0);
    // Eight-bit Lab is coarse: greys come back within one level, colours
    // away from the gamut's dark edge within a few, and on average under one.
    int worst_grey = 0, worst_muted = 0;
    double total = 0;
    int samples = 0;
    for (int r = 0; r < 256; r += 5)
        for (int g = 0; g < 256; g += 5)
            for (int b = 0; b < 256; b += 5) {
                const uint8_t in[3] = {static_cast<uint8_t>(r), static_cast<uint8_t>(g),
                                       static_cast<uint8_t>(b)};
                bl_rgb_to_lab8(in, lab);
                bl_lab8_to_rgb(lab, rgb);
                for (int c = 0; c < 3; ++c) {
                    const int error = abs(rgb[c] - in[c]);
                    total += error;
                    ++samples;
                    if (r == g && g == b) worst_grey = std::max(worst_grey, error);
                    if (r >= 60 && g >= 60 && b >= 60) worst_muted = std::max(worst_muted, error);
                }
            }
    EXPECT_LE(worst_grey, 1);
    EXPECT_LE(worst_muted, 6);
    EXPECT_LT(total / samples, 1.0);
}

TEST(LandmarkCrop, EqualisationOfAUniformPlaneFollowsTheClippedHistogram) {
    // Every 32 x 32 tile: one bin of 1024 clipped to 8, the excess 1016 spread
    // as 3 per bin plus 1 for bins 0 ... 247; level 10 maps to
    // trunc((10 * 4 + 12) * 255 / 1024 + 0.5) = 13.
    std::vector<uint8_t> plane(256 * 256, 10);
    ASSERT_EQ(bl_clahe8(plane.data(), 256, 256), 0);
    for (uint8_t v : plane) ASSERT_EQ(v, 13);
    std::vector<uint8_t> high(256 * 256, 250);  // bins 248+ get no extra 1
    ASSERT_EQ(bl_clahe8(high.data(), 256, 256), 0);
    EXPECT_EQ(high[0], static_cast<uint8_t>((248 * 4 + 2 * 3 + 11) * (255.0f / 1024) + 0.5f));
}

TEST(LandmarkReduce, SixtyEightPointsGiveEyeCentresNoseAndMouthCorners) {
    float points[136];
    for (int k = 0; k < 68; ++k) {
        points[2 * k] = static_cast<float>(k);
        points[2 * k + 1] = static_cast<float>(2 * k);
    }
    float out[10];
    bl_landmark68_to_5(points, out);
    const float expected[10] = {38.5f, 77, 44.5f, 89, 30, 60, 48, 96, 54, 108};
    for (int i = 0; i < 10; ++i) EXPECT_FLOAT_EQ(out[i], expected[i]);
}

// ------------------------------------------------------------ with the model

TEST(Landmark68, PointsMapBackThroughTheInverseCropMatrix) {
    FaceSlots slots("slots/scrfd_2.5g.onnx", "scrfd_2.5g.onnx");
    ASSERT_TRUE(slots.landmarker("detect/2dfan4_grid.onnx"));
    ImagePtr image = noise_image(400, 400, 80, 255, 3);
    bl_face face = face_with_box(100, 100, 200, 300);
    // Confidences NaN, 0.2, 0.7, 0.1: the NaN never wins.
    EXPECT_FLOAT_EQ(bl_detect_landmark68(slots.landmarker(), image.get(), &face), 0.7f);

    float m[6], inv[6];
    bl_landmark68_crop_matrix(face.box, m);
    bl_invert_affine(m, inv);
    for (int i = 0; i < 68; ++i) {
        const float px = ((10 + i / 2.0f) * 0.015625f) * 256;
        const float py = ((20 + i / 4.0f) * 0.015625f) * 256;
        ASSERT_FLOAT_EQ(face.landmark68[2 * i], inv[0] * px + inv[1] * py + inv[2]) << i;
        ASSERT_FLOAT_EQ(face.landmark68[2 * i + 1], inv[3] * px + inv[4] * py + inv[5]) << i;
    }
    float five[10];
    bl_landmark68_to_5(face.landmark68, five);
    EXPECT_EQ(memcmp(face.landmark5_align, five, sizeof(five)), 0);

    // A second run starts again from the box and gives the same points.
    bl_face again = face;
    bl_detect_landmark68(slots.landmarker(), image.get(), &again);
    EXPECT_EQ(memcmp(&again, &face, sizeof(face)), 0);
}

TEST(Landmark68, ZeroConfidenceStillReplacesThePoints) {
    FaceSlots slots("slots/scrfd_2.5g.onnx", "scrfd_2.5g.onnx");
    ASSERT_TRUE(slots.landmarker("detect/2dfan4_flat.onnx"));
    ImagePtr image = noise_image(400, 400, 80, 255, 4);
    bl_face face = face_with_box(100, 100, 200, 300);
    EXPECT_EQ(bl_detect_landmark68(slots.landmarker(), image.get(), &face), 0.0f);
    EXPECT_NE(face.landmark68[0], 0.0f);
    EXPECT_NE(face.landmark5_align[0], face.landmark5[0]);
}

TEST(Landmark68, FailuresLeaveTheFaceAsItWas) {
    ImagePtr image = noise_image(400, 400, 80, 255, 5);
    const bl_face before = face_with_box(100, 100, 200, 300);
    bl_face face = before;
    const bl_model closed;
    EXPECT_EQ(bl_detect_landmark68(&closed, image.get(), &face), 0.0f);
    EXPECT_EQ(bl_detect_landmark68(nullptr, image.get(), &face), 0.0f);
    EXPECT_EQ(memcmp(&face, &before, sizeof(face)), 0);

    // A box without extent gives no crop to refine.
    {
        FaceSlots slots("slots/scrfd_2.5g.onnx", "scrfd_2.5g.onnx");
        ASSERT_TRUE(slots.landmarker("detect/2dfan4_grid.onnx"));
        bl_face point = face_with_box(120, 130, 120, 130);
        const bl_face point_before = point;
        EXPECT_EQ(bl_detect_landmark68(slots.landmarker(), image.get(), &point), 0.0f);
        EXPECT_EQ(memcmp(&point, &point_before, sizeof(point)), 0);
    }

    // A point output shorter than 68 x 3 values, a model without the second
    // output, and a model that takes another input size.
    for (const char* model : {"detect/2dfan4_short.onnx", "detect/2dfan4_one_output.onnx",
                              "slots/inswapper_128.onnx"}) {
        SCOPED_TRACE(model);
        FaceSlots slots("slots/scrfd_2.5g.onnx", "scrfd_2.5g.onnx");
        ASSERT_TRUE(slots.landmarker(model));
        bl_test::StderrCapture err;
        EXPECT_EQ(bl_detect_landmark68(slots.landmarker(), image.get(), &face), 0.0f);
        EXPECT_EQ(memcmp(&face, &before, sizeof(face)), 0);
        EXPECT_EQ(bl_detect_landmark68(slots.landmarker(), nullptr, &face), 0.0f);
        EXPECT_EQ(bl_detect_landmark68(slots.landmarker(), image.get(), nullptr), 0.0f);
        EXPECT_EQ(err.text(), "");
    }
}

TEST(Landmark68, ModelSeesTheEqualisedDarkCropAndTheUnchangedBrightOne) {
    // The layout landmarker answers with the mean of the crop it received.
    FaceSlots slots("slots/scrfd_2.5g.onnx", "scrfd_2.5g.onnx");
    ASSERT_TRUE(slots.landmarker("detect/2dfan4.onnx"));
    for (int dark = 0; dark < 2; ++dark) {
        SCOPED_TRACE(dark ? "dark" : "bright");
        ImagePtr image = dark ? noise_image(300, 300, 0, 20, 6) : noise_image(300, 300, 90, 250, 6);
        bl_face face = face_with_box(50, 60, 250, 240);
        float m[6];
        bl_landmark68_crop_matrix(face.box, m);
        ImagePtr seen(bl_landmark68_crop(image.get(), m));
        ImagePtr warped(bl_warp_affine(image.get(), m, 256, 256));
        const float confidence = bl_detect_landmark68(slots.landmarker(), image.get(), &face);
        EXPECT_NEAR(confidence, mean_of(seen.get()) / 255.0, 1e-4);
        if (dark)
            EXPECT_GT(confidence, mean_of(warped.get()) / 255.0 + 0.04);
        else
            EXPECT_NEAR(confidence, mean_of(warped.get()) / 255.0, 1e-4);
    }
}

TEST(Landmark68, LayoutModelKeepsTheBlobDetectorsFivePoints) {
    // The synthetic landmarker agrees with the blob detectors on square faces,
    // so refined faces align where detected ones do.
    FaceSlots slots("detect/scrfd_2.5g.onnx", "scrfd_2.5g.onnx");
    ASSERT_TRUE(slots.landmarker("detect/2dfan4.onnx"));
    ImagePtr image = solid_image(640, 640, 0, 0, 0);
    bl_test::fill_rect(image.get(), 288, 288, 64, 64, 220, 180, 160);
    static bl_face_list list;
    ASSERT_EQ(bl_detect_faces(slots.detector(), image.get(), 0.3f, 640, &list), 1);
    bl_face& face = list.faces[0];
    EXPECT_GT(bl_detect_landmark68(slots.landmarker(), image.get(), &face), 0.0f);
    for (int i = 0; i < 10; ++i) EXPECT_NEAR(face.landmark5_align[i], face.landmark5[i], 0.25f) << i;
}
