// Detection math (anchors, decoders, suppression, vectors) and mask building.
#include <math.h>
#include <stdint.h>

#include <vector>

#include <gtest/gtest.h>

#include "image/image_io.h"
#include "image/image_math.h"
#include "support/reference_math.h"

// ---------------------------------------------------------------- anchors

TEST(Anchors, GridIsRowMajorFromCellCornersWithoutOffset) {
    std::vector<float> out(16, -1.0f);
    EXPECT_EQ(bl_create_anchors(8, 2, 2, 2, out.data()), 8);
    const float expected[16] = {0, 0, 0, 0, 8, 0, 8, 0, 0, 8, 0, 8, 8, 8, 8, 8};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], expected[i]) << i;

    float untouched[2] = {-1, -1};
    EXPECT_EQ(bl_create_anchors(8, 2, 0, 2, untouched), 0);
    EXPECT_EQ(bl_create_anchors(8, 0, 2, 2, untouched), 0);
    EXPECT_EQ(untouched[0], -1);
}

TEST(Decode, BoxesAndLandmarksAreAnchorPlusOffsets) {
    const float anchors[4] = {16, 32, 8, 0};
    const float dist[8] = {1, 2, 3, 4, 0.5f, 0.5f, 0.5f, 0.5f};
    float boxes[8];
    bl_decode_boxes(anchors, dist, 2, 1.0f, boxes);
    const float eb[8] = {15, 30, 19, 36, 7.5f, -0.5f, 8.5f, 0.5f};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(boxes[i], eb[i]) << i;

    float offsets[10];
    for (int i = 0; i < 10; ++i) offsets[i] = static_cast<float>(i) - 5.0f;
    float lm[10];
    bl_decode_landmarks(anchors, offsets, 1, 1.0f, lm);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(lm[2 * k], 16 + offsets[2 * k]);
        EXPECT_EQ(lm[2 * k + 1], 32 + offsets[2 * k + 1]);
    }

    // The detector's maps give distances and offsets in units of the stride.
    float strided[4];
    bl_decode_boxes(anchors, dist, 1, 8.0f, strided);
    const float es[4] = {8, 16, 40, 64};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(strided[i], es[i]) << i;
    bl_decode_landmarks(anchors, offsets, 1, 8.0f, lm);
    EXPECT_EQ(lm[0], -24.0f);
    EXPECT_EQ(lm[1], 0.0f);
}

// ------------------------------------------------------------ suppression

TEST(Nms, EmptyInputKeepsNothingAndWritesNothing) {
    int32_t keep[1] = {42};
    EXPECT_EQ(bl_test::reference_nms(nullptr, nullptr, 0, 0.4f, keep), 0);
    EXPECT_EQ(keep[0], 42);
}

TEST(Nms, TiesKeepTheLowerIndex) {
    const float boxes[8] = {5, 5, 50, 50, 5, 5, 50, 50};
    const float scores[2] = {0.9f, 0.9f};
    int32_t keep[2] = {-1, -1};
    ASSERT_EQ(bl_test::reference_nms(boxes, scores, 2, 0.4f, keep), 1);
    EXPECT_EQ(keep[0], 0);
}

TEST(Nms, InclusivePixelIouAndThresholdEquality) {
    // One shared pixel column: IoU 11 / 231, far below 0.4.
    const float touching[8] = {0, 0, 10, 10, 10, 0, 20, 10};
    const float scores[2] = {0.5f, 0.8f};
    int32_t keep[2];
    ASSERT_EQ(bl_test::reference_nms(touching, scores, 2, 0.4f, keep), 2);
    EXPECT_EQ(keep[0], 1);
    EXPECT_EQ(keep[1], 0);
    // At exactly that IoU the candidate stays; just below it, it goes.
    const float iou = 11.0f / (121.0f + 121.0f - 11.0f);
    EXPECT_EQ(bl_test::reference_nms(touching, scores, 2, iou, keep), 2);
    EXPECT_EQ(bl_test::reference_nms(touching, scores, 2, nextafterf(iou, 0.0f), keep), 1);
    EXPECT_EQ(keep[0], 1);
}

TEST(Nms, DisjointBoxesAllKeptInDescendingScoreOrderAndOverlapsDropped) {
    const float boxes[16] = {0,   0,   10,  10,   // 0
                             100, 100, 120, 120,  // 1
                             1,   1,   11,  11,   // 2 overlaps 0
                             200, 0,   230, 30};  // 3
    const float scores[4] = {0.6f, 0.9f, 0.7f, 0.3f};
    int32_t keep[4];
    ASSERT_EQ(bl_test::reference_nms(boxes, scores, 4, 0.4f, keep), 3);
    EXPECT_EQ(keep[0], 1);
    EXPECT_EQ(keep[1], 2);
    EXPECT_EQ(keep[2], 3);
}

TEST(Nms, NanScoresDoNotCrashAndAreKept) {
    const float boxes[12] = {0, 0, 10, 10, 100, 0, 110, 10, 0, 100, 10, 110};
    const float scores[3] = {0.2f, NAN, 0.9f};
    int32_t keep[3];
    // 0.9 cannot pass the NaN barrier, so input order stays.
    ASSERT_EQ(bl_test::reference_nms(boxes, scores, 3, 0.4f, keep), 3);
    EXPECT_EQ(keep[0], 0);
    EXPECT_EQ(keep[1], 1);
    EXPECT_EQ(keep[2], 2);
}

// ---------------------------------------------------------------- vectors

TEST(Vectors, NormNormalizeDotAndMatVec) {
    float v[2] = {3, 4};
    EXPECT_EQ(bl_vec_norm(v, 2), 5.0f);
    EXPECT_EQ(bl_vec_norm(v, 0), 0.0f);
    bl_vec_normalize(v, 2);
    EXPECT_FLOAT_EQ(v[0], 0.6f);
    EXPECT_FLOAT_EQ(v[1], 0.8f);

    float zero[3] = {0, 0, 0};
    bl_vec_normalize(zero, 3);
    for (float z : zero) EXPECT_EQ(z, 0.0f);

    const float a[3] = {1, 2, 3}, b[3] = {4, -5, 6};
    EXPECT_EQ(bl_test::vec_dot(a, b, 3), 12.0f);
    EXPECT_EQ(bl_test::vec_dot(a, b, 0), 0.0f);

    const float m[6] = {1, 0, 2, 0, 1, 1};
    float out[2] = {-1, -1};
    bl_test::mat_vec_mul(m, a, out, 2, 3);
    EXPECT_EQ(out[0], 7.0f);
    EXPECT_EQ(out[1], 5.0f);
    bl_test::mat_vec_mul(m, a, out, 2, 0);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.0f);
}

// ------------------------------------------------------------------ masks

namespace {

std::vector<float> box_mask(int width, int height, float blur, int top, int right, int bottom,
                            int left) {
    const int32_t padding[4] = {top, right, bottom, left};
    std::vector<float> mask(static_cast<size_t>(width) * height, -7.0f);
    bl_create_box_mask(width, height, blur, padding, mask.data());
    return mask;
}

// Rows from the top that are all zero.
int zero_rows_at_top(const std::vector<float>& mask, int width) {
    int rows = 0;
    while (static_cast<size_t>((rows + 1) * width) <= mask.size()) {
        for (int x = 0; x < width; ++x)
            if (mask[static_cast<size_t>(rows) * width + x] != 0.0f) return rows;
        ++rows;
    }
    return rows;
}

}  // namespace

TEST(BoxMask, NoBlurGivesOnePixelHardBorder) {
    for (float blur : {0.0f, -0.4f}) {
        std::vector<float> m = box_mask(8, 6, blur, 0, 0, 0, 0);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x) {
                const bool inside = x >= 1 && x < 7 && y >= 1 && y < 5;
                ASSERT_EQ(m[y * 8 + x], inside ? 1.0f : 0.0f) << x << "," << y;
            }
    }
}

TEST(BoxMask, PaddingBandsAreTruncatedPercentagesRaisedToTheBorder) {
    // Unblurred values are what the bands decide; with blur 0 the border b is 1.
    std::vector<float> m = box_mask(256, 256, 0.0f, 10, 0, 0, 0);
    EXPECT_EQ(zero_rows_at_top(m, 256), 25);
    m = box_mask(256, 256, 0.0f, -20, 0, 0, 0);
    EXPECT_EQ(zero_rows_at_top(m, 256), 1);
}

TEST(BoxMask, BandsThatMeetGiveZeros) {
    for (const auto& m : {box_mask(64, 64, 0.3f, 50, 0, 50, 0), box_mask(64, 64, 0.0f, 0, 50, 0, 50)})
        for (float v : m) ASSERT_EQ(v, 0.0f);
}

TEST(BoxMask, DefaultBlurIsFeatheredSymmetricAndInRange) {
    std::vector<float> m = box_mask(256, 256, 0.3f, 0, 0, 0, 0);
    for (float v : m) {
        ASSERT_GE(v, 0.0f);
        ASSERT_LE(v, 1.0f + 1e-6f);
    }
    EXPECT_NEAR(m[128 * 256 + 128], 1.0f, 1e-5);
    EXPECT_LT(m[0], 1e-3f);
    // Mirror symmetry up to the one-pixel asymmetry of the half-open bands.
    EXPECT_GT(m[128 * 256 + 19], 0.3f);
    EXPECT_LT(m[128 * 256 + 19], 0.7f);
}

// ------------------------------------------------------------------- blur

TEST(GaussianBlur, ConstantMapStaysConstantAtEdges) {
    std::vector<float> map(37 * 23, 0.75f);
    bl_gaussian_blur_f32(map.data(), 37, 23, 5.0f);
    for (float v : map) ASSERT_NEAR(v, 0.75f, 1e-6f);

    float one = 0.5f;
    bl_gaussian_blur_f32(&one, 1, 1, 3.0f);
    EXPECT_NEAR(one, 0.5f, 1e-6f);
}

TEST(GaussianBlur, NonPositiveSigmaLeavesMapAndImpulseSpreadsSymmetrically) {
    std::vector<float> map(11 * 11, 0.0f);
    map[5 * 11 + 5] = 1.0f;
    std::vector<float> before = map;
    bl_gaussian_blur_f32(map.data(), 11, 11, 0.0f);
    EXPECT_EQ(map, before);
    bl_gaussian_blur_f32(map.data(), 11, 11, 1.0f);
    EXPECT_FLOAT_EQ(map[5 * 11 + 4], map[5 * 11 + 6]);
    EXPECT_FLOAT_EQ(map[4 * 11 + 5], map[5 * 11 + 4]);
    float sum = 0;
    for (float v : map) sum += v;
    EXPECT_NEAR(sum, 1.0f, 1e-5);
    // Kernel size 7 for sigma 1: nothing beyond radius 3.
    EXPECT_EQ(map[5 * 11 + 9], 0.0f);
    EXPECT_GT(map[5 * 11 + 8], 0.0f);
}

// ------------------------------------------------------------------ arrays

TEST(AllocArray, RefusesByteCountsThatDoNotFitAndGivesRoomForAnEmptyOne) {
    EXPECT_EQ(bl_alloc_array<float>(SIZE_MAX / 2), nullptr);
    EXPECT_EQ(bl_alloc_array<uint64_t>(SIZE_MAX / 8 + 1), nullptr);
    bl_malloc_array<float> empty = bl_alloc_array<float>(0);
    ASSERT_NE(empty, nullptr);
    empty[0] = 1.0f;  // room for one element, so a zero count is no failure
    EXPECT_EQ(empty[0], 1.0f);
}
