// Helpers shared by the restore-area tests: images built in memory, their
// owner, and deterministic noise.
#ifndef BL_FRAME_TEST_UTIL_H
#define BL_FRAME_TEST_UTIL_H

#include <stdint.h>

#include <functional>
#include <memory>

#include "image/image_io.h"

namespace bl_test {

struct image_deleter {
    void operator()(bl_image* image) const { bl_image_free(image); }
};
using image_ptr = std::unique_ptr<bl_image, image_deleter>;

inline image_ptr make_image(int width, int height,
                            const std::function<void(int x, int y, uint8_t rgb[3])>& pixel) {
    image_ptr image(bl_image_create(width, height, 3));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixel(x, y, image->data + (static_cast<size_t>(y) * width + x) * 3);
    return image;
}

// Deterministic noise, so every pixel differs from its neighbours.
inline uint8_t noise(int x, int y, int c, int limit = 256) {
    uint32_t v = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^
                 static_cast<uint32_t>(c + 1) * 83492791u;
    v ^= v >> 13;
    v *= 0x5bd1e995u;
    v ^= v >> 15;
    return static_cast<uint8_t>(v % static_cast<uint32_t>(limit));
}

inline const uint8_t* pixel_at(const bl_image* image, int x, int y) {
    return image->data + (static_cast<size_t>(y) * image->width + x) * image->channels;
}

}  // namespace bl_test

#endif
