// Helpers shared by the swapper and mask tests: the swap-area slots opened
// from generated models and hand-placed faces.
#ifndef BL_TEST_SWAP_SUPPORT_H
#define BL_TEST_SWAP_SUPPORT_H

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "face/face_masks.h"
#include "face/face_swap.h"
#include "image/image_io.h"
#include "image/image_warp.h"
#include "platform/platform.h"
#include "support/test_images.h"
#include "support/testutil.h"

namespace swap_test {

inline const OrtApi* api() {
    const OrtApiBase* base = bl_runtime_api_base();
    return base ? base->GetApi(BL_ORT_API_VERSION) : nullptr;
}

inline std::string model(const std::string& name) { return bl_test::model_path("swap/" + name); }

using bl_test::image_ptr;
using bl_test::make_image;
using bl_test::max_difference;
using bl_test::same_pixels;

// A face whose alignment points are the 112 template scaled to `size`
// pixels with its top-left corner at (left, top).
inline bl_face face_at(float left, float top, float size) {
    bl_face face;
    memset(&face, 0, sizeof face);
    for (int i = 0; i < 5; ++i) {
        face.landmark5_align[2 * i] = left + WARP_TEMPLATE_ARCFACE_112_V2[2 * i] * size;
        face.landmark5_align[2 * i + 1] = top + WARP_TEMPLATE_ARCFACE_112_V2[2 * i + 1] * size;
    }
    face.box[0] = left;
    face.box[1] = top;
    face.box[2] = left + size;
    face.box[3] = top + size;
    face.score = 0.9f;
    return face;
}

// Each test opens the slots it needs; all three close after it.
class SwapSlots : public ::testing::Test {
protected:
    void TearDown() override {
        bl_swap_shutdown();
        bl_occluder_shutdown();
        bl_parser_shutdown();
    }
    void open_swapper(const std::string& name, const char* type) {
        bl_test::StderrCapture quiet;
        ASSERT_EQ(bl_swap_init(model(name).c_str(), type, api()), 0) << quiet.text();
    }
    void open_occluder(const std::string& name) {
        bl_test::StderrCapture quiet;
        ASSERT_EQ(bl_occluder_init(model(name).c_str(), api()), 0) << quiet.text();
    }
    void open_parser(const std::string& name) {
        bl_test::StderrCapture quiet;
        ASSERT_EQ(bl_parser_init(model(name).c_str(), api()), 0) << quiet.text();
    }
};

}  // namespace swap_test

#endif
