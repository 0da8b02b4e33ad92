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
#include "inference/runtime_loader.h"
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

// Each test opens the models it needs; all three close after it.
class SwapSlots : public ::testing::Test {
protected:
    void TearDown() override {
        bl_model_close(&swapper.model);
        bl_model_close(&occluder);
        bl_model_close(&parser);
    }
    void open_swapper(const std::string& name, const char* type) {
        bl_test::StderrCapture quiet;
        ASSERT_EQ(bl_swapper_open(bl_test::test_runtime(), model(name).c_str(), type, &swapper), 0)
            << quiet.text();
    }
    void open_occluder(const std::string& name) {
        bl_test::StderrCapture quiet;
        ASSERT_EQ(bl_occluder_open(bl_test::test_runtime(), model(name).c_str(), &occluder), 0)
            << quiet.text();
    }
    void open_parser(const std::string& name) {
        bl_test::StderrCapture quiet;
        ASSERT_EQ(bl_parser_open(bl_test::test_runtime(), model(name).c_str(), &parser), 0)
            << quiet.text();
    }
    bl_paste_masks masks() const { return {&occluder, &parser}; }

    bl_swapper swapper;
    bl_model occluder;
    bl_model parser;
};

}  // namespace swap_test

#endif
