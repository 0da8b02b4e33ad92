// Detector decoding for the three model families, suppression, failures, and
// the bright-blob detectors end to end.
#include <math.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <vector>

#include "face/face_detect.h"
#include "image/image_math.h"
#include "support/reference_math.h"
#include "test_detect_support.h"

using bl_test::FaceSlots;
using bl_test::ImagePtr;
using bl_test::StderrCapture;
using bl_test::solid_image;

namespace {

struct Expected {
    float box[4];
    float points[10];
    float score;
};

// scrfd decoding of one anchor, distances and offsets in stride units, scaled
// by (sx, sy).
Expected scrfd_face(float ax, float ay, float s, const float d[4], const float o[10], float score,
                    float sx, float sy) {
    Expected e;
    e.box[0] = (ax - d[0] * s) * sx;
    e.box[1] = (ay - d[1] * s) * sy;
    e.box[2] = (ax + d[2] * s) * sx;
    e.box[3] = (ay + d[3] * s) * sy;
    for (int k = 0; k < 5; ++k) {
        e.points[2 * k] = (ax + o[2 * k] * s) * sx;
        e.points[2 * k + 1] = (ay + o[2 * k + 1] * s) * sy;
    }
    e.score = score;
    return e;
}

void expect_face(const bl_face& face, const Expected& e, const char* what) {
    SCOPED_TRACE(what);
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(face.box[i], e.box[i]) << "box " << i;
    for (int i = 0; i < 10; ++i) EXPECT_FLOAT_EQ(face.landmark5[i], e.points[i]) << "point " << i;
    EXPECT_EQ(face.score, e.score);
    EXPECT_EQ(memcmp(face.landmark5_align, face.landmark5, sizeof(face.landmark5)), 0);
    for (float v : face.landmark68) ASSERT_EQ(v, 0.0f);
    for (int i = 0; i < 512; ++i) {
        ASSERT_EQ(face.embedding[i], 0.0f);
        ASSERT_EQ(face.normed_embedding[i], 0.0f);
    }
}

// Detection on a dark 1280 x 960 image: every box is scaled by (2, 1.5).
int detect_dark(const FaceSlots& slots, float threshold, bl_face_list* list, int input_size = 640) {
    ImagePtr image = solid_image(1280, 960, 10, 10, 10);
    return bl_detect_faces(slots.detector(), image.get(), threshold, input_size, list);
}

}  // namespace

// ------------------------------------------------------------ exact decoding

TEST(DetectDecode, ScrfdGivesBoxesLandmarksScoresScaledToSource) {
    FaceSlots slots("detect/scrfd_fixed.onnx", "scrfd_2.5g.onnx");
    ASSERT_TRUE(slots.ok());
    static bl_face_list list;
    ASSERT_EQ(detect_dark(slots, 0.5f, &list), 4);
    ASSERT_EQ(list.count, 4);

    const float no[10] = {0};
    const float d1[4] = {1, 2, 3, 4}, o1[10] = {0.5f, -0.5f, 1, 1, 1.5f, -1, 2, 0.25f, -0.75f, 3};
    const float d_one[4] = {1, 1, 1, 1}, d_two[4] = {2, 2, 2, 2};
    // The stride-8 face at cell (row 5, column 10): worked by hand once.
    const Expected first = {{144, 36, 208, 108}, {168, 54, 176, 72, 184, 48, 192, 63, 148, 96}, 0.9f};
    expect_face(list.faces[0], first, "best face");
    expect_face(list.faces[0], scrfd_face(80, 40, 8, d1, o1, 0.9f, 2, 1.5f), "stride 8");
    // Equal scores 0.8: the stride-8 face precedes the stride-32 one in scan
    // order; of the two identical-score stride-32 anchors the first one wins.
    expect_face(list.faces[1], scrfd_face(560, 560, 8, d_one, no, 0.8f, 2, 1.5f), "tie, stride 8");
    expect_face(list.faces[2], scrfd_face(160, 320, 32, d_two, no, 0.8f, 2, 1.5f), "tie, stride 32");
    // A score equal to the threshold is kept; the one just under it is not.
    expect_face(list.faces[3], scrfd_face(480, 320, 16, d_one, no, 0.5f, 2, 1.5f), "at threshold");

    ASSERT_EQ(detect_dark(slots, 0.3f, &list), 5);
    expect_face(list.faces[4],
                scrfd_face(32, 32, 16, d_one, no, nextafterf(0.5f, 0.0f), 2, 1.5f),
                "just under 0.5");
}

TEST(DetectDecode, EveryCandidateReachesSuppressionAndTheResultIsCappedAt64) {
    // 12800 stride-8 candidates at 0.6 precede in scan order one large
    // stride-32 face at 0.9: stopping the collection at 64 candidates would lose it.
    FaceSlots slots("detect/scrfd_crowd.onnx", "scrfd_2.5g.onnx");
    ASSERT_TRUE(slots.ok());
    static bl_face_list list;
    ImagePtr image = solid_image(640, 640, 0, 0, 0);
    ASSERT_EQ(bl_detect_faces(slots.detector(), image.get(), 0.3f, 640, &list), BL_MAX_FACES);
    ASSERT_EQ(list.count, BL_MAX_FACES);
    const float big[4] = {3, 3, 3, 3}, half[4] = {0.5f, 0.5f, 0.5f, 0.5f}, no[10] = {0};
    expect_face(list.faces[0], scrfd_face(320, 320, 32, big, no, 0.9f, 1, 1), "large face");
    // Then the stride-8 cells in scan order; each cell's second anchor repeats
    // its first and is suppressed.
    for (int i = 1; i < BL_MAX_FACES; ++i)
        expect_face(list.faces[i], scrfd_face(8.0f * (i - 1), 0, 8, half, no, 0.6f, 1, 1),
                    "small face");
}

TEST(DetectDecode, ZeroThresholdLetsEveryAnchorThroughInScanOrder) {
    FaceSlots slots("slots/scrfd_2.5g.onnx", "scrfd_2.5g.onnx");
    ASSERT_TRUE(slots.ok());
    static bl_face_list list;
    ImagePtr image = solid_image(640, 640, 0, 0, 0);
    ASSERT_EQ(bl_detect_faces(slots.detector(), image.get(), 0.0f, 640, &list), BL_MAX_FACES);
    // All 16800 anchors score 0 with empty boxes: the first 64 distinct points
    // of the stride-8 grid come back, the coinciding anchors suppressed.
    const float no[10] = {0};
    for (int i = 0; i < BL_MAX_FACES; ++i)
        expect_face(list.faces[i], scrfd_face(8.0f * i, 0, 8, no, no, 0.0f, 1, 1), "anchor");
}

TEST(DetectDecode, YolofaceGivesChannelMajorBoxesScaledToSource) {
    FaceSlots slots("detect/yoloface_fixed.onnx", "yoloface_8n.onnx");
    ASSERT_TRUE(slots.ok());
    static bl_face_list list;
    ASSERT_EQ(detect_dark(slots, 0.5f, &list), 3);
    struct Column { float cx, cy, w, h, score; };
    const Column order[3] = {{100, 150, 40, 60, 0.8f}, {400, 100, 30, 30, 0.8f},
                             {300, 300, 50, 50, 0.5f}};
    for (int f = 0; f < 3; ++f) {
        const Column& c = order[f];
        Expected e;
        e.box[0] = (c.cx - 0.5f * c.w) * 2;
        e.box[1] = (c.cy - 0.5f * c.h) * 1.5f;
        e.box[2] = (c.cx + 0.5f * c.w) * 2;
        e.box[3] = (c.cy + 0.5f * c.h) * 1.5f;
        for (int k = 0; k < 5; ++k) {
            e.points[2 * k] = (c.cx - 10 + 5 * k) * 2;
            e.points[2 * k + 1] = (c.cy - 8 + 4 * k) * 1.5f;
        }
        e.score = c.score;
        expect_face(list.faces[f], e, "yoloface face");
    }
    EXPECT_FLOAT_EQ(list.faces[0].box[0], 160.0f);
    EXPECT_FLOAT_EQ(list.faces[0].box[3], 270.0f);
}

TEST(DetectDecode, YunetGivesClampedGeometricMeanScoresAndCellBoxes) {
    FaceSlots slots("detect/yunet_fixed.onnx", "yunet_2023mar.onnx");
    ASSERT_TRUE(slots.ok());
    static bl_face_list list;
    ASSERT_EQ(detect_dark(slots, 0.5f, &list), 2);

    // Stride 8, column 10, row 5.
    Expected e;
    const float b[4] = {0.5f, -0.25f, logf(2.0f), 0.0f};
    const float cx = (b[0] + 10) * 8, cy = (b[1] + 5) * 8;
    const float w = expf(b[2]) * 8, h = expf(b[3]) * 8;
    e.box[0] = (cx - 0.5f * w) * 2;
    e.box[1] = (cy - 0.5f * h) * 1.5f;
    e.box[2] = (cx + 0.5f * w) * 2;
    e.box[3] = (cy + 0.5f * h) * 1.5f;
    for (int k = 0; k < 5; ++k) {
        e.points[2 * k] = (0.1f * (2 * k + 1) + 10) * 8 * 2;
        e.points[2 * k + 1] = (0.1f * (2 * k + 2) + 5) * 8 * 1.5f;
    }
    e.score = sqrtf(0.81f * 1.0f);
    expect_face(list.faces[0], e, "stride 8");
    EXPECT_NEAR(list.faces[0].box[2] - list.faces[0].box[0], 32.0f, 1e-4f);

    // Stride 16, column 20, row 2: class 1.5 counts as 1, objectness 0.25,
    // score exactly the threshold.
    const Expected second = {{624, 36, 656, 60}, {640, 48, 640, 48, 640, 48, 640, 48, 640, 48}, 0.5f};
    expect_face(list.faces[1], second, "stride 16");
}

// ------------------------------------------------- outputs we cannot decode

TEST(DetectDecode, OutputsTooSmallToReadCountAsAFailedRun) {
    struct Case { const char* model; const char* as; bool message; };
    const Case cases[] = {
        {"detect/scrfd_8outputs.onnx", "scrfd_2.5g.onnx", true},
        {"detect/scrfd_short.onnx", "scrfd_2.5g.onnx", true},
        {"detect/yoloface_rank2.onnx", "yoloface_8n.onnx", true},
        {"detect/yoloface_thin.onnx", "yoloface_8n.onnx", true},
        {"detect/yunet_short.onnx", "yunet_2023mar.onnx", true},
        // Fewer than twelve yunet outputs: no candidates, silently.
        {"detect/yunet_11outputs.onnx", "yunet_2023mar.onnx", false},
        // No candidates at all is a plain empty result.
        {"detect/yoloface_empty.onnx", "yoloface_8n.onnx", false},
    };
    static bl_face_list list;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        FaceSlots slots(c.model, c.as);
        ASSERT_TRUE(slots.ok());
        list.count = 7;
        StderrCapture err;
        EXPECT_EQ(detect_dark(slots, 0.0f, &list), 0);
        EXPECT_EQ(list.count, 0);
        std::string text = err.text();
        if (c.message)
            EXPECT_EQ(text.rfind("[face_detect] Run failed: ", 0), 0u) << text;
        else
            EXPECT_EQ(text, "");
    }
}

TEST(DetectDecode, RunFailureReturnsZeroAndBadArgumentsMinusOne) {
    static bl_face_list list;
    ImagePtr image = solid_image(64, 48, 0, 0, 0);
    list.count = 5;
    const bl_detector closed;
    EXPECT_EQ(bl_detect_faces(&closed, image.get(), 0.3f, 640, &list), -1);
    EXPECT_EQ(list.count, 5);

    FaceSlots slots("detect/scrfd_fixed.onnx", "scrfd_2.5g.onnx");
    ASSERT_TRUE(slots.ok());
    EXPECT_EQ(bl_detect_faces(slots.detector(), nullptr, 0.3f, 640, &list), -1);
    EXPECT_EQ(bl_detect_faces(slots.detector(), image.get(), 0.3f, 640, nullptr), -1);
    EXPECT_EQ(list.count, 5);
    {
        // The model takes 640 x 640 only.
        StderrCapture err;
        EXPECT_EQ(bl_detect_faces(slots.detector(), image.get(), 0.3f, 320, &list), 0);
        EXPECT_EQ(list.count, 0);
        std::string text = err.text();
        EXPECT_EQ(text.rfind("[face_detect] Run failed: ", 0), 0u) << text;
    }
}

// ------------------------------------------------------------- suppression

TEST(DetectSuppress, MatchesTheReferenceGreedySuppression) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> pos(0.0f, 300.0f), size(5.0f, 80.0f);
    for (int trial = 0; trial < 20; ++trial) {
        const int n = 50 + trial * 40;
        std::vector<float> boxes(4 * n), scores(n);
        for (int i = 0; i < n; ++i) {
            float x = pos(rng), y = pos(rng), w = size(rng), h = size(rng);
            boxes[4 * i] = x;
            boxes[4 * i + 1] = y;
            boxes[4 * i + 2] = x + w;
            boxes[4 * i + 3] = y + h;
            scores[i] = static_cast<float>(rng() % 8) / 8.0f;  // many ties
        }
        std::vector<int32_t> reference(n), ours(n);
        int expected =
            bl_test::reference_nms(boxes.data(), scores.data(), n, 0.4f, reference.data());
        ASSERT_GT(expected, 0);
        ASSERT_EQ(bl_detect_suppress(boxes.data(), scores.data(), n, n, ours.data()), expected);
        for (int i = 0; i < expected; ++i) ASSERT_EQ(ours[i], reference[i]) << "trial " << trial;
        int capped = bl_detect_suppress(boxes.data(), scores.data(), n, 64, ours.data());
        ASSERT_EQ(capped, std::min(expected, 64));
        for (int i = 0; i < capped; ++i) ASSERT_EQ(ours[i], reference[i]);
    }
}

TEST(DetectSuppress, EqualScoresKeepTheEarlierAndAnOverlapAtTheThresholdSurvives) {
    // Identical boxes with equal scores: the lower index wins.
    const float same[8] = {0, 0, 9, 9, 0, 0, 9, 9};
    const float tied[2] = {0.5f, 0.5f};
    int32_t keep[2] = {-1, -1};
    ASSERT_EQ(bl_detect_suppress(same, tied, 2, 64, keep), 1);
    EXPECT_EQ(keep[0], 0);
    // A 4 x 10 box inside a 10 x 10 one: IoU 40 / 100, exactly 0.4, kept.
    const float nested[8] = {0, 0, 9, 9, 0, 0, 3, 9};
    const float scores[2] = {0.4f, 0.9f};
    ASSERT_EQ(bl_detect_suppress(nested, scores, 2, 64, keep), 2);
    EXPECT_EQ(keep[0], 1);
    EXPECT_EQ(keep[1], 0);
    EXPECT_EQ(bl_detect_suppress(nested, scores, 0, 64, keep), 0);
}

// ------------------------------------------------------- blob detectors, e2e

class BlobDetector : public ::testing::TestWithParam<const char*> {};

TEST_P(BlobDetector, FindsEveryBrightSquareWithItsOutlineAndTemplateLandmarks) {
    std::string name = GetParam();
    FaceSlots slots("detect/" + name, name);
    ASSERT_TRUE(slots.ok());
    // Squares of 64 model pixels centred on multiples of 8, in a 1280 x 960
    // source: 128 x 96 source pixels each.
    ImagePtr image = solid_image(1280, 960, 20, 20, 20);
    struct Square { int mx, my; uint8_t r, g, b; };
    const Square squares[3] = {{400, 320, 230, 40, 40}, {160, 160, 255, 255, 255},
                               {480, 520, 40, 40, 200}};
    for (const Square& s : squares)
        bl_test::fill_rect(image.get(), (s.mx - 32) * 2, (s.my - 32) * 3 / 2, 128, 96, s.r, s.g,
                           s.b);
    static bl_face_list list;
    ASSERT_EQ(bl_detect_faces(slots.detector(), image.get(), 0.3f, 640, &list), 3);
    const int order[3] = {1, 0, 2};  // brightest first
    const float arcface[10] = {0.34191608f, 0.4615741f, 0.65653396f, 0.45983392f, 0.500225f,
                               0.6405054f,  0.37097588f, 0.82469195f, 0.63151693f, 0.8232509f};
    for (int f = 0; f < 3; ++f) {
        const Square& s = squares[order[f]];
        const bl_face& face = list.faces[f];
        SCOPED_TRACE(f);
        const float box[4] = {(s.mx - 32) * 2.0f, (s.my - 32) * 1.5f, (s.mx + 32) * 2.0f,
                              (s.my + 32) * 1.5f};
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(face.box[i], box[i], 1e-3f);
        for (int k = 0; k < 5; ++k) {
            EXPECT_NEAR(face.landmark5[2 * k], box[0] + arcface[2 * k] * 128, 1e-3f);
            EXPECT_NEAR(face.landmark5[2 * k + 1], box[1] + arcface[2 * k + 1] * 96, 1e-3f);
        }
        const uint8_t peak = std::max(s.r, std::max(s.g, s.b));
        EXPECT_NEAR(face.score, (peak + 0.5f) / 256.0f, 0.02f);
    }
}

TEST_P(BlobDetector, ReportsOneFacePerSquareOfAGrid) {
    std::string name = GetParam();
    FaceSlots slots("detect/" + name, name);
    ASSERT_TRUE(slots.ok());
    ImagePtr image = solid_image(640, 640, 0, 0, 0);
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 5; ++col)
            bl_test::fill_rect(image.get(), 40 + col * 120, 40 + row * 150, 64, 64, 200, 200, 200);
    static bl_face_list list;
    EXPECT_EQ(bl_detect_faces(slots.detector(), image.get(), 0.3f, 640, &list), 20);
    ImagePtr empty = solid_image(640, 640, 0, 0, 0);
    EXPECT_EQ(bl_detect_faces(slots.detector(), empty.get(), 0.3f, 640, &list), 0);
}

INSTANTIATE_TEST_SUITE_P(Families, BlobDetector,
                         ::testing::Values("scrfd_2.5g.onnx", "yunet_2023mar.onnx",
                                           "yoloface_8n.onnx"));
