// Alignment fits, inversion, the bilinear warp and the paste-back.
#include <math.h>
#include <string.h>

#include <vector>

#include <gtest/gtest.h>

#include "image/image_io.h"
#include "image/image_warp.h"
#include "support/reference_math.h"
#include "support/test_images.h"

using bl_test::at;
using bl_test::image_ptr;
using bl_test::patterned;
using bl_test::same_pixels;
using bl_test::solid;

namespace {

const float IDENTITY[6] = {1, 0, 0, 0, 1, 0};

void scaled_template(const float* tmpl, float width, float height, float out[10]) {
    for (int k = 0; k < 5; ++k) {
        out[2 * k] = tmpl[2 * k] * width;
        out[2 * k + 1] = tmpl[2 * k + 1] * height;
    }
}

}  // namespace

// ------------------------------------------------------------------ fitting

TEST(EstimateAffine, TemplateOntoItselfIsIdentity) {
    float points[10];
    scaled_template(WARP_TEMPLATE_FFHQ_512, 512, 512, points);
    float m[6];
    bl_estimate_affine(points, points, 5, m);
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(m[i], IDENTITY[i], 1e-4) << i;
}

TEST(EstimateAffine, TranslationComesOutExact) {
    float dst[10], src[10];
    scaled_template(WARP_TEMPLATE_ARCFACE_112_V2, 112, 112, dst);
    for (int k = 0; k < 5; ++k) {
        src[2 * k] = dst[2 * k] + 10;
        src[2 * k + 1] = dst[2 * k + 1] + 20;
    }
    float m[6];
    bl_estimate_affine(src, dst, 5, m);
    const float expected[6] = {1, 0, -10, 0, 1, -20};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(m[i], expected[i], 1e-4) << i;
}

TEST(EstimateAffine, RecoversRotationAndScale) {
    // dst = s * R(theta) * src + t with s = 2, theta = 30 degrees.
    const float c = 2.0f * cosf(0.5235988f), s = 2.0f * sinf(0.5235988f);
    const float src[8] = {0, 0, 10, 0, 0, 10, 7, 3};
    float dst[8];
    for (int k = 0; k < 4; ++k) {
        dst[2 * k] = c * src[2 * k] - s * src[2 * k + 1] + 5;
        dst[2 * k + 1] = s * src[2 * k] + c * src[2 * k + 1] - 4;
    }
    float m[6];
    bl_estimate_affine(src, dst, 4, m);
    const float expected[6] = {c, -s, 5, s, c, -4};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(m[i], expected[i], 1e-4) << i;
}

TEST(EstimateAffine, DegeneratePointsGiveIdentity) {
    const float same[10] = {40, 50, 40, 50, 40, 50, 40, 50, 40, 50};
    float dst[10];
    scaled_template(WARP_TEMPLATE_FFHQ_512, 256, 256, dst);
    float m[6] = {9, 9, 9, 9, 9, 9};
    bl_estimate_affine(same, dst, 5, m);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(m[i], IDENTITY[i]) << i;

    // One pair has no spread either.
    const float one_src[2] = {3, 4}, one_dst[2] = {100, 200};
    bl_estimate_affine(one_src, one_dst, 1, m);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(m[i], IDENTITY[i]) << i;
}

TEST(WarpFaceByLandmarks, CoincidentLandmarksGiveIdentityCrop) {
    image_ptr image = patterned(64, 48, 3);
    const float same[10] = {20, 20, 20, 20, 20, 20, 20, 20, 20, 20};
    float m[6] = {9, 9, 9, 9, 9, 9};
    image_ptr crop(bl_warp_face_by_landmarks(image.get(), same, WARP_TEMPLATE_ARCFACE_112_V2, 32,
                                             32, m));
    ASSERT_TRUE(crop);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(m[i], IDENTITY[i]) << i;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            for (int c = 0; c < 3; ++c) ASSERT_EQ(at(crop.get(), x, y, c), at(image.get(), x, y, c));
}

TEST(WarpFaceByLandmarks, MissingArgumentsGiveNone) {
    image_ptr image = patterned(8, 8, 3);
    float lm[10] = {};
    EXPECT_EQ(bl_warp_face_by_landmarks(nullptr, lm, WARP_TEMPLATE_FFHQ_512, 4, 4, nullptr),
              nullptr);
    EXPECT_EQ(bl_warp_face_by_landmarks(image.get(), nullptr, WARP_TEMPLATE_FFHQ_512, 4, 4, nullptr),
              nullptr);
    EXPECT_EQ(bl_warp_face_by_landmarks(image.get(), lm, nullptr, 4, 4, nullptr), nullptr);
}

// ---------------------------------------------------------------- inversion

TEST(InvertAffine, InverseComposesToIdentityAndSingularGivesIdentity) {
    const float m[6] = {0.5f, -0.25f, 12.0f, 0.25f, 0.5f, -7.0f};
    float inv[6];
    EXPECT_EQ(bl_invert_affine(m, inv), inv);
    // m applied after inv: the 2x2 parts multiply to I and translations cancel.
    EXPECT_NEAR(m[0] * inv[0] + m[1] * inv[3], 1.0f, 1e-6);
    EXPECT_NEAR(m[0] * inv[1] + m[1] * inv[4], 0.0f, 1e-6);
    EXPECT_NEAR(m[0] * inv[2] + m[1] * inv[5] + m[2], 0.0f, 1e-5);
    EXPECT_NEAR(m[3] * inv[2] + m[4] * inv[5] + m[5], 0.0f, 1e-5);

    const float zero[6] = {0, 0, 0, 0, 0, 0};
    bl_invert_affine(zero, inv);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(inv[i], IDENTITY[i]);

    // In place.
    float twice[6] = {2, 0, 4, 0, 2, 6};
    bl_invert_affine(twice, twice);
    const float expected[6] = {0.5f, 0, -2, 0, 0.5f, -3};
    for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(twice[i], expected[i]);
}

// --------------------------------------------------------------------- warp

TEST(WarpAffine, IdentityAndZeroMatrixCopyTopLeftRegion) {
    image_ptr image = patterned(40, 30, 4);
    const float zero[6] = {0, 0, 0, 0, 0, 0};
    for (const float* m : {IDENTITY, zero}) {
        image_ptr crop(bl_warp_affine(image.get(), m, 20, 10));
        ASSERT_TRUE(crop);
        EXPECT_EQ(crop->channels, 4);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x)
                for (int c = 0; c < 4; ++c)
                    ASSERT_EQ(at(crop.get(), x, y, c), at(image.get(), x, y, c));
    }
}

TEST(WarpAffine, OutsideTheImageRepeatsTheEdge) {
    image_ptr image = patterned(10, 10, 3);
    // Shift so the crop starts 3 pixels left of and above the image.
    const float shift[6] = {1, 0, 3, 0, 1, 3};
    image_ptr crop(bl_warp_affine(image.get(), shift, 16, 16));
    ASSERT_TRUE(crop);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(at(crop.get(), 0, 0, c), at(image.get(), 0, 0, c));
        EXPECT_EQ(at(crop.get(), 1, 5, c), at(image.get(), 0, 2, c));
        EXPECT_EQ(at(crop.get(), 5, 3, c), at(image.get(), 2, 0, c));
    }
    // Past the right/bottom edge, sampling is held at W - 1.001: 0.999 of the
    // last pixel and 0.001 of the one before.
    const float f = (10.0f - 1.001f) - 8.0f;
    const float v = at(image.get(), 8, 8, 0) * (1.0f - f) * (1.0f - f) +
                    at(image.get(), 9, 8, 0) * f * (1.0f - f) +
                    at(image.get(), 8, 9, 0) * (1.0f - f) * f + at(image.get(), 9, 9, 0) * f * f;
    EXPECT_EQ(at(crop.get(), 15, 15, 0), static_cast<uint8_t>(static_cast<int>(v + 0.5f)));
}

TEST(WarpAffine, HalfwayValueRoundsUp) {
    image_ptr image(bl_image_create(2, 2, 1));
    image->data[0] = 10;
    image->data[1] = 11;
    // Output x = 0 samples source x = 0.5: 10.5 becomes 11.
    const float half[6] = {1, 0, -0.5f, 0, 1, 0};
    image_ptr crop(bl_warp_affine(image.get(), half, 1, 1));
    ASSERT_TRUE(crop);
    EXPECT_EQ(crop->data[0], 11);
}

TEST(WarpAffine, RefusesMissingOrEmptyInput) {
    EXPECT_EQ(bl_warp_affine(nullptr, IDENTITY, 4, 4), nullptr);
    image_ptr empty(bl_image_create(0, 5, 3));
    EXPECT_EQ(bl_warp_affine(empty.get(), IDENTITY, 4, 4), nullptr);
    const float nan_matrix[6] = {NAN, 0, 0, 0, 1, 0};
    image_ptr image = patterned(6, 6, 3);
    image_ptr crop(bl_warp_affine(image.get(), nan_matrix, 4, 4));
    ASSERT_TRUE(crop);  // NaN coordinates sample the first pixel instead of wild memory.
}

// --------------------------------------------------------------- paste-back

namespace {

image_ptr paste(const bl_image* frame, const bl_image* crop, const std::vector<float>& mask,
                const float* m) {
    return image_ptr(bl_paste_back(frame, crop, mask.data(), m));
}

}  // namespace

TEST(PasteBack, ZeroMaskKeepsFrameAndOneMaskTakesCrop) {
    image_ptr frame = patterned(50, 40, 3);
    image_ptr crop = patterned(16, 16, 3);
    const float shift[6] = {1, 0, -10, 0, 1, -5};  // frame (10, 5) is crop (0, 0)
    image_ptr kept = paste(frame.get(), crop.get(), std::vector<float>(256, 0.0f), shift);
    ASSERT_TRUE(kept);
    EXPECT_TRUE(same_pixels(kept.get(), frame.get()));

    image_ptr taken = paste(frame.get(), crop.get(), std::vector<float>(256, 1.0f), shift);
    ASSERT_TRUE(taken);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 50; ++x) {
            // Only crop coordinates 0 ... 14 are sampled: the last row and
            // column serve as second taps only.
            const bool inside = x >= 10 && x < 25 && y >= 5 && y < 20;
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(at(taken.get(), x, y, c),
                          inside ? at(crop.get(), x - 10, y - 5, c) : at(frame.get(), x, y, c))
                    << x << "," << y;
        }
}

TEST(PasteBack, BlendsAtHalfAndQuarterAndClampsMask) {
    image_ptr frame = solid(8, 8, 3, 100);
    image_ptr crop = solid(4, 4, 3, 200);
    const struct {
        float mask;
        uint8_t expected;
    } cases[] = {{0.5f, 150}, {0.25f, 125}, {1.7f, 200}, {-3.0f, 100}};
    for (const auto& k : cases) {
        image_ptr out = paste(frame.get(), crop.get(), std::vector<float>(16, k.mask), IDENTITY);
        ASSERT_TRUE(out);
        EXPECT_EQ(at(out.get(), 1, 1, 0), k.expected) << k.mask;
        EXPECT_EQ(at(out.get(), 3, 3, 0), 100) << k.mask;
    }
}

TEST(PasteBack, IdentityLeavesLastCropRowAndColumnUntouched) {
    image_ptr frame = solid(300, 300, 3, 10);
    image_ptr crop = solid(256, 256, 3, 250);
    image_ptr out = paste(frame.get(), crop.get(), std::vector<float>(256 * 256, 1.0f), IDENTITY);
    ASSERT_TRUE(out);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 300; ++x)
            ASSERT_EQ(at(out.get(), x, y, 1), (x < 255 && y < 255) ? 250 : 10) << x << "," << y;
}

TEST(PasteBack, FourthChannelBlendedFifthKept) {
    image_ptr frame = solid(6, 6, 5, 100);
    image_ptr crop = solid(4, 4, 5, 200);
    image_ptr out = paste(frame.get(), crop.get(), std::vector<float>(16, 0.5f), IDENTITY);
    ASSERT_TRUE(out);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(at(out.get(), 0, 0, c), 150) << c;
    EXPECT_EQ(at(out.get(), 0, 0, 4), 100);
}

TEST(PasteBack, MissingArgumentsOrTooFewCropChannelsGiveNone) {
    image_ptr frame = solid(6, 6, 3, 1);
    image_ptr crop = solid(4, 4, 3, 2);
    image_ptr gray = solid(4, 4, 1, 2);
    std::vector<float> mask(16, 1.0f);
    EXPECT_EQ(bl_paste_back(nullptr, crop.get(), mask.data(), IDENTITY), nullptr);
    EXPECT_EQ(bl_paste_back(frame.get(), nullptr, mask.data(), IDENTITY), nullptr);
    EXPECT_EQ(bl_paste_back(frame.get(), crop.get(), nullptr, IDENTITY), nullptr);
    EXPECT_EQ(bl_paste_back(frame.get(), gray.get(), mask.data(), IDENTITY), nullptr);
}

TEST(PasteBack, FootprintScanEqualsFullScan) {
    image_ptr frame = patterned(320, 200, 3);
    image_ptr crop = patterned(64, 48, 3);
    std::vector<float> mask(64 * 48);
    for (size_t i = 0; i < mask.size(); ++i) mask[i] = static_cast<float>(i % 97) / 80.0f - 0.1f;

    struct placement {
        float angle, scale, x, y;
    } cases[] = {
        {0.0f, 1.0f, 100.0f, 60.0f},     // axis-aligned, inside
        {0.7f, 1.0f, 150.0f, 90.0f},     // rotated
        {-2.3f, 0.37f, 40.0f, 50.0f},    // rotated, enlarged in the frame
        {1.2f, 2.5f, 160.0f, 100.0f},    // rotated, shrunk in the frame
        {0.3f, 0.5f, -30.0f, -20.0f},    // crossing the top-left edge
        {-0.9f, 0.6f, 300.0f, 190.0f},   // crossing the bottom-right edge
        {3.14159265f, 1.0f, 2.0f, 2.0f}, // mostly outside
        {1.5707964f, 0.25f, 160.0f, 100.0f},  // quarter turn, larger than the frame
    };
    for (const placement& p : cases) {
        // Frame to crop: scale and rotate about the frame point (x, y).
        const float c = p.scale * cosf(p.angle), s = p.scale * sinf(p.angle);
        const float m[6] = {c, -s, -(c * p.x - s * p.y), s, c, -(s * p.x + c * p.y)};
        image_ptr fast(bl_paste_back(frame.get(), crop.get(), mask.data(), m));
        image_ptr full(bl_test::paste_back_full_scan(frame.get(), crop.get(), mask.data(), m));
        ASSERT_TRUE(fast && full);
        EXPECT_TRUE(same_pixels(fast.get(), full.get())) << p.angle << " " << p.scale;
        EXPECT_FALSE(same_pixels(fast.get(), frame.get())) << p.angle << " " << p.scale;
    }
    // Degenerate matrices: every pixel maps to one crop point, or to none.
    const float collapse[6] = {0, 0, 10.5f, 0, 0, 7.25f};
    const float nan_matrix[6] = {1, 0, NAN, 0, 1, 0};
    const float shear_line[6] = {1, 1, -100, 2, 2, -200};
    for (const float* m : {collapse, nan_matrix, shear_line}) {
        image_ptr fast(bl_paste_back(frame.get(), crop.get(), mask.data(), m));
        image_ptr full(bl_test::paste_back_full_scan(frame.get(), crop.get(), mask.data(), m));
        ASSERT_TRUE(fast && full);
        EXPECT_TRUE(same_pixels(fast.get(), full.get()));
    }
}
