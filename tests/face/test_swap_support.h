// Helpers shared by the swapper and mask tests: the swap-area slots opened
// from generated models, owned images and hand-placed faces.
#ifndef BL_TEST_SWAP_SUPPORT_H
#define BL_TEST_SWAP_SUPPORT_H

#include <stdint.h>
#include <string.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "face/face_swap.h"
#include "image/image_io.h"
#include "image/image_warp.h"
#include "inference/runtime_loader.h"
#include "support/testutil.h"

namespace swap_test {

inline const OrtApi* api() {
    const OrtApiBase* base = bl_runtime_api_base();
    return base ? base->GetApi(BL_ORT_API_VERSION) : nullptr;
}

inline std::string model(const std::string& name) { return bl_test::model_path("swap/" + name); }

struct image_release {
    void operator()(bl_image* image) const { bl_image_free(image); }
};
using image_ptr = std::unique_ptr<bl_image, image_release>;

inline image_ptr make_image(int width, int height,
                            const std::function<void(int x, int y, uint8_t rgb[3])>& pixel) {
    image_ptr image(bl_image_create(width, height, 3));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixel(x, y, image->data + (y * width + x) * 3);
    return image;
}

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

inline bool same_pixels(const bl_image* a, const bl_image* b) {
    return a->width == b->width && a->height == b->height && a->channels == b->channels &&
           memcmp(a->data, b->data, static_cast<size_t>(a->width) * a->height * a->channels) == 0;
}

inline int max_difference(const bl_image* a, const bl_image* b) {
    int worst = 0;
    size_t n = static_cast<size_t>(a->width) * a->height * a->channels;
    for (size_t i = 0; i < n; ++i) {
        int d = a->data[i] > b->data[i] ? a->data[i] - b->data[i] : b->data[i] - a->data[i];
        if (d > worst) worst = d;
    }
    return worst;
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
