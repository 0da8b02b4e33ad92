// The detector against real models of the three families and real photos:
// the counts, boxes, scores and landmarks listed with the shared assets.
#include <math.h>

#include <string>
#include <vector>

#include "face/face_detect.h"
#include "image/image_io.h"
#include "test_detect_support.h"

using bl_test::FaceSlots;
using bl_test::ImagePtr;

namespace {

struct Family {
    const char* file;  // in the assets' models folder
    const char* as;    // the name that selects the family
};
const Family YUNET = {"face_detection_yunet_2023mar.onnx", "yunet_2023mar.onnx"};
const Family SCRFD = {"scrfd_2.5g_bnkps_640.onnx", "scrfd_2.5g.onnx"};
const Family YOLOFACE = {"yolov8_lite_t_face_20x8400.onnx", "yoloface_8n.onnx"};

// Face counts per family (yunet, scrfd, yoloface), each with the range the
// listed tolerances allow: counts near the threshold may move by one with
// another resampler or decoder.
struct CountRange { int lo, hi; };
struct PhotoCounts {
    const char* image;
    CountRange yunet, scrfd, yoloface;
};
const PhotoCounts COUNTS[] = {
    {"dlib_voc_2007_007763.jpg", {7, 8}, {7, 7}, {7, 7}},  // yunet: a near miss
    {"dlib_voc_2008_001009.jpg", {3, 3}, {2, 3}, {2, 2}},  // scrfd: third box at 0.3335
    {"dlib_voc_2008_001322.jpg", {3, 3}, {3, 3}, {3, 3}},
    {"dlib_voc_2008_002470.jpg", {6, 6}, {7, 7}, {6, 6}},
    {"dlib_voc_2008_002506.jpg", {3, 3}, {3, 3}, {3, 3}},
    {"dlib_voc_2008_007676.jpg", {8, 8}, {7, 7}, {7, 7}},
    {"group_solvay_1927_gray_pd.png", {32, 34}, {29, 29}, {29, 29}},  // yunet: near the threshold
    {"hardneg_dogs.jpg", {2, 2}, {3, 4}, {2, 2}},                     // scrfd: a box at 0.3245
    {"lowlight_single_a.jpg", {0, 0}, {1, 1}, {0, 0}},
    {"noface_cat_cc0.png", {1, 1}, {0, 0}, {1, 1}},
    {"noface_coffee_cc0.png", {0, 0}, {0, 0}, {0, 0}},
    {"noface_rocket_pd.jpg", {0, 1}, {0, 0}, {0, 0}},  // yunet: a false box at 0.334
    {"occluded_mask_hand.jpg", {1, 1}, {1, 1}, {1, 1}},
    {"occluded_partial_obama.jpg", {1, 1}, {1, 1}, {1, 1}},
    {"single_astronaut_pd.png", {1, 1}, {1, 1}, {1, 1}},
    {"single_biden_pd.jpg", {1, 1}, {1, 1}, {1, 1}},
    {"single_messi_tinyface.jpg", {1, 1}, {1, 1}, {1, 1}},
    {"single_obama_240p_smallface.jpg", {1, 1}, {1, 1}, {1, 1}},
    {"single_obama_official_pd.jpg", {1, 1}, {1, 1}, {1, 1}},
};

// The best face of single-face photos: box and score.
struct BestFace {
    const char* image;
    const char* family;  // "copy as" name
    float box[4];
    float score;
};
const BestFace BEST[] = {
    {"lowlight_single_a.jpg", "scrfd_2.5g.onnx", {1835.4f, 1103.4f, 2387.8f, 1690.3f}, 0.3942f},
    {"occluded_mask_hand.jpg", "yunet_2023mar.onnx", {218.8f, 55.2f, 325.8f, 145.1f}, 0.8235f},
    {"occluded_mask_hand.jpg", "scrfd_2.5g.onnx", {215.7f, 52.5f, 333.7f, 178.4f}, 0.7187f},
    {"occluded_mask_hand.jpg", "yoloface_8n.onnx", {208.1f, 44.3f, 334.8f, 210.4f}, 0.7281f},
    {"occluded_partial_obama.jpg", "yunet_2023mar.onnx", {2.3f, 41.2f, 181.4f, 442.4f}, 0.9183f},
    {"occluded_partial_obama.jpg", "scrfd_2.5g.onnx", {-22.4f, 45, 182.9f, 476.6f}, 0.5422f},
    {"occluded_partial_obama.jpg", "yoloface_8n.onnx", {-0.4f, 66.2f, 181.6f, 431.4f}, 0.7212f},
    {"single_astronaut_pd.png", "yunet_2023mar.onnx", {178.6f, 62.7f, 270, 174.6f}, 0.9434f},
    {"single_astronaut_pd.png", "scrfd_2.5g.onnx", {180.8f, 55.3f, 270.7f, 178.6f}, 0.8209f},
    {"single_astronaut_pd.png", "yoloface_8n.onnx", {181, 58.1f, 269.5f, 177.2f}, 0.8169f},
    {"single_biden_pd.jpg", "yunet_2023mar.onnx", {449.3f, 93.1f, 705.4f, 640.9f}, 0.9239f},
    {"single_biden_pd.jpg", "scrfd_2.5g.onnx", {453.3f, 74.1f, 699.9f, 602.2f}, 0.4390f},
    {"single_biden_pd.jpg", "yoloface_8n.onnx", {444.1f, 115.5f, 685.8f, 572.9f}, 0.6367f},
    {"single_messi_tinyface.jpg", "yunet_2023mar.onnx", {221.6f, 95.1f, 259.4f, 129.1f}, 0.9038f},
    {"single_messi_tinyface.jpg", "scrfd_2.5g.onnx", {225.4f, 91.3f, 258.7f, 132.7f}, 0.7682f},
    {"single_messi_tinyface.jpg", "yoloface_8n.onnx", {223.2f, 91.1f, 259.5f, 132.1f}, 0.7175f},
    {"single_obama_240p_smallface.jpg", "yunet_2023mar.onnx", {190.6f, 25.9f, 250.4f, 83.3f}, 0.9196f},
    {"single_obama_240p_smallface.jpg", "scrfd_2.5g.onnx", {194.6f, 24.4f, 250.4f, 92.3f}, 0.5868f},
    {"single_obama_240p_smallface.jpg", "yoloface_8n.onnx", {194.1f, 21.3f, 248.5f, 91.5f}, 0.7553f},
    {"single_obama_official_pd.jpg", "yunet_2023mar.onnx", {378.8f, 71.9f, 607.2f, 422.2f}, 0.9450f},
    {"single_obama_official_pd.jpg", "scrfd_2.5g.onnx", {379.1f, 80, 606, 429.3f}, 0.7583f},
    {"single_obama_official_pd.jpg", "yoloface_8n.onnx", {374.9f, 80.6f, 605.9f, 427.6f}, 0.8274f},
};

// Five landmarks of the astronaut, per family.
struct AstronautPoints {
    const char* family;
    float points[10];
};
const AstronautPoints ASTRONAUT[] = {
    {"yunet_2023mar.onnx", {201.0f, 104.9f, 245.1f, 104.6f, 220.4f, 127.2f, 203.7f, 145.4f, 242.5f, 145.0f}},
    {"scrfd_2.5g.onnx", {204.5f, 100.8f, 247.3f, 103.3f, 223.6f, 129.0f, 200.8f, 138.3f, 246.6f, 140.7f}},
    {"yoloface_8n.onnx", {204.0f, 101.1f, 246.5f, 102.8f, 223.2f, 126.2f, 204.7f, 143.5f, 241.2f, 145.1f}},
};

CountRange range_for(const PhotoCounts& c, const Family& f) {
    if (&f == &YUNET) return c.yunet;
    if (&f == &SCRFD) return c.scrfd;
    return c.yoloface;
}

void check_family(const Family& family) {
    const std::string assets = bl_test::assets_dir();
    FaceSlots slots(assets + "/models/" + family.file, family.as, true);
    ASSERT_TRUE(slots.ok());
    static bl_face_list list;
    for (const PhotoCounts& photo : COUNTS) {
        SCOPED_TRACE(photo.image);
        ImagePtr image(bl_image_load((assets + "/images/" + photo.image).c_str()));
        ASSERT_TRUE(image);
        const int found = bl_detect_faces(slots.detector(), image.get(), 0.3f, 640, &list);
        const CountRange want = range_for(photo, family);
        EXPECT_GE(found, want.lo);
        EXPECT_LE(found, want.hi);
        for (int i = 1; i < list.count; ++i) ASSERT_GE(list.faces[i - 1].score, list.faces[i].score);

        // About 2 model-input pixels of room, scaled to the source image.
        const float tx = 2.0f * image->width / 640, ty = 2.0f * image->height / 640;
        for (const BestFace& best : BEST) {
            if (std::string(best.image) != photo.image || std::string(best.family) != family.as)
                continue;
            ASSERT_GE(list.count, 1);
            const bl_face& face = list.faces[0];
            EXPECT_NEAR(face.box[0], best.box[0], tx);
            EXPECT_NEAR(face.box[1], best.box[1], ty);
            EXPECT_NEAR(face.box[2], best.box[2], tx);
            EXPECT_NEAR(face.box[3], best.box[3], ty);
            EXPECT_NEAR(face.score, best.score, 0.01f);
        }
        if (std::string(photo.image) == "single_astronaut_pd.png") {
            for (const AstronautPoints& a : ASTRONAUT) {
                if (std::string(a.family) != family.as) continue;
                for (int i = 0; i < 10; ++i)
                    EXPECT_NEAR(list.faces[0].landmark5[i], a.points[i], i % 2 ? ty : tx) << i;
            }
        }
    }
}

}  // namespace

TEST(DetectRealModels, YunetFindsTheListedFaces) {
    BL_REQUIRE_ASSETS();
    check_family(YUNET);
}

TEST(DetectRealModels, ScrfdFindsTheListedFaces) {
    BL_REQUIRE_ASSETS();
    check_family(SCRFD);
}

TEST(DetectRealModels, YolofaceFindsTheListedFaces) {
    BL_REQUIRE_ASSETS();
    check_family(YOLOFACE);
}
