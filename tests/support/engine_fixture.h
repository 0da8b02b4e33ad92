// What the engine-interface tests share: a model directory whose stand-in
// models make every operation visible (the bright-square detector, the
// colour recognizer, a swapper, an enhancer that darkens, frame models),
// target pictures of coloured squares, and owners for the images the
// library hands out.
#ifndef BL_TEST_ENGINE_FIXTURE_H
#define BL_TEST_ENGINE_FIXTURE_H

#include <stdint.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "brightloom.h"
#include "image/image_io.h"
#include "support/test_images.h"
#include "support/testutil.h"

namespace bl_test {

// Every model the engine opens, chosen so that each operation changes pixels.
inline void add_engine_models(ModelDir* dir) {
    dir->add_all_slots()
        .remove("face_occluder.onnx")
        .remove("face_parser.onnx")
        .add("detect/scrfd_2.5g.onnx")
        .add("detect/2dfan4.onnx")
        .add("detect/arcface_w600k_r50.onnx")
        .add("swap/uniface.onnx", "uniface_256.onnx")
        .add("frame/enhance_darken.onnx", "gfpgan_1.4.onnx")
        .add("frame/upscale_nearest_x2.onnx", "real_esrgan_x2.onnx")
        .add("frame/colorize_const.onnx", "ddcolor.onnx");
}

struct square {
    int cx, cy;
    uint8_t r, g, b;
};

// 640 x 640 dark grey with 64 x 64 squares (the stand-in detector's faces).
inline image_ptr squares_image(const std::vector<square>& squares) {
    return make_image(640, 640, [&](int x, int y, uint8_t rgb[3]) {
        rgb[0] = rgb[1] = rgb[2] = 30;
        for (const square& s : squares)
            if (x >= s.cx - 32 && x < s.cx + 32 && y >= s.cy - 32 && y < s.cy + 32) {
                rgb[0] = s.r;
                rgb[1] = s.g;
                rgb[2] = s.b;
            }
    });
}

// The library's own image as the caller's (packed rows, read only).
inline brightloom_image as_public(const bl_image* image) {
    return brightloom_image{image->width, image->height, image->width * 3, image->data};
}

// Owns an image the library returned. A call clears its result on failure,
// so out() releases what the last call gave before handing the record on.
struct owned_image {
    brightloom_image image = {0, 0, 0, nullptr};
    owned_image() = default;
    owned_image(const owned_image&) = delete;
    owned_image& operator=(const owned_image&) = delete;
    ~owned_image() { brightloom_image_release(&image); }
    brightloom_image* out() {
        brightloom_image_release(&image);
        return &image;
    }
    std::vector<uint8_t> bytes() const {
        const uint8_t* p = image.pixels;
        return p ? std::vector<uint8_t>(p, p + static_cast<size_t>(image.stride) * image.height)
                 : std::vector<uint8_t>();
    }
};

// Closes an engine when it goes out of scope.
struct engine_closer {
    void operator()(brightloom_engine* engine) const { brightloom_engine_close(engine); }
};
using engine_ptr = std::unique_ptr<brightloom_engine, engine_closer>;

}  // namespace bl_test

#endif
