// Small helpers shared by the image tests: owned images and pixel access.
#ifndef BL_TEST_IMAGE_FIXTURES_H
#define BL_TEST_IMAGE_FIXTURES_H

#include <string.h>

#include <memory>

#include "image/image_io.h"

namespace bl_test {

struct image_deleter {
    void operator()(bl_image* image) const { bl_image_free(image); }
};
using image_ptr = std::unique_ptr<bl_image, image_deleter>;

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

inline uint8_t at(const bl_image* image, int x, int y, int c) {
    return image->data[(static_cast<size_t>(y) * image->width + x) * image->channels + c];
}

inline bool same_pixels(const bl_image* a, const bl_image* b) {
    return a->width == b->width && a->height == b->height && a->channels == b->channels &&
           memcmp(a->data, b->data, static_cast<size_t>(a->width) * a->height * a->channels) == 0;
}

}  // namespace bl_test

#endif
