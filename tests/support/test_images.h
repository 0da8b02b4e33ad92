// Images built in memory for the tests, held by the library's own owner, and
// the pixel access and comparisons the areas share.
#ifndef BL_TEST_IMAGES_H
#define BL_TEST_IMAGES_H

#include <stdint.h>
#include <string.h>

#include <functional>

#include "image/image_io.h"

namespace bl_test {

using image_ptr = bl_image_ptr;

// A width x height R, G, B image whose pixel (x, y) comes from `pixel`.
inline image_ptr make_image(int width, int height,
                            const std::function<void(int x, int y, uint8_t rgb[3])>& pixel) {
    image_ptr image(bl_image_create(width, height, 3));
    if (!image) return image;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixel(x, y, image->data + (static_cast<size_t>(y) * width + x) * 3);
    return image;
}

// Samples that vary with position and channel, so that a misplaced tap shows.
inline image_ptr patterned(int width, int height, int channels) {
    image_ptr image(bl_image_create(width, height, channels));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                image->data[(static_cast<size_t>(y) * width + x) * channels + c] =
                    static_cast<uint8_t>((x * 7 + y * 13 + c * 61 + x * y) & 255);
    return image;
}

inline image_ptr solid(int width, int height, int channels, uint8_t value) {
    image_ptr image(bl_image_create(width, height, channels));
    memset(image->data, value, static_cast<size_t>(width) * height * channels);
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

inline uint8_t at(const bl_image* image, int x, int y, int c) { return pixel_at(image, x, y)[c]; }

inline bool same_pixels(const bl_image* a, const bl_image* b) {
    return a->width == b->width && a->height == b->height && a->channels == b->channels &&
           memcmp(a->data, b->data, static_cast<size_t>(a->width) * a->height * a->channels) == 0;
}

// Largest difference of one sample between two images of the same size.
inline int max_difference(const bl_image* a, const bl_image* b) {
    int worst = 0;
    size_t n = static_cast<size_t>(a->width) * a->height * a->channels;
    for (size_t i = 0; i < n; ++i) {
        int d = a->data[i] > b->data[i] ? a->data[i] - b->data[i] : b->data[i] - a->data[i];
        if (d > worst) worst = d;
    }
    return worst;
}

}  // namespace bl_test

#endif
