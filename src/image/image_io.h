// The one image type of the library and its files: load, save, copy,
// resample, and conversion into planar float tensors for the models.
#ifndef BL_IMAGE_IO_H
#define BL_IMAGE_IO_H

#include <stdint.h>
#include <stdlib.h>

#include <memory>

#include "image/image_limits.h"

// 8-bit samples, channels interleaved, row-major, no row padding: sample c of
// pixel (x, y) is data[(y * width + x) * channels + c]. Loaded images are R, G, B.
struct bl_image {
    uint8_t* data;
    int32_t width;
    int32_t height;
    int32_t channels;
};

// Decodes a file as 8-bit R, G, B. Refuses files that declare more than
// BL_MAX_IMAGE_PIXELS pixels before decoding them, and uncompressed
// files shorter than their header promises. None on failure.
bl_image* bl_image_load(const char* path);

// Zero-filled image; none when a size is negative, the byte count does not
// fit in 32 bits, or memory runs out.
bl_image* bl_image_create(int32_t width, int32_t height, int32_t channels);

bl_image* bl_image_clone(const bl_image* image);

// Writes JPEG (quality 95) for .jpg/.jpeg, BMP for .bmp and PNG otherwise,
// comparing the extension ignoring ASCII case. 0 on success, -1 on failure:
// also for channel counts other than 1 ... 4, a PNG without pixels, a JPEG
// without pixels or with a side over 65535 (an empty file is left), and a
// failed write.
int bl_image_save(const bl_image* image, const char* path);

void bl_image_free(bl_image* image);

// Owners that release what they hold on every path, an early return or an
// escaping exception included: images, and the float and byte arrays the
// library allocates with malloc.
struct bl_image_deleter {
    void operator()(bl_image* image) const { bl_image_free(image); }
};
using bl_image_ptr = std::unique_ptr<bl_image, bl_image_deleter>;
struct bl_free_deleter {
    void operator()(void* p) const { free(p); }
};
template <typename T>
using bl_malloc_array = std::unique_ptr<T[], bl_free_deleter>;

// A new malloc'd array of `count` elements (room for one when count is 0, so
// that an empty array is not taken for a failure); none when memory runs out
// or the byte count does not fit.
template <typename T>
bl_malloc_array<T> bl_alloc_array(size_t count) {
    if (count > SIZE_MAX / sizeof(T)) return nullptr;
    return bl_malloc_array<T>(static_cast<T*>(malloc((count ? count : 1) * sizeof(T))));
}

// Resamples the whole image onto width x height (aspect ratio not kept):
// Mitchell on a shrinking axis, Catmull-Rom otherwise, so an unchanged size
// copies. An empty source gives the zero-filled result.
bl_image* bl_image_resize(const bl_image* image, int32_t width, int32_t height);

// Planar float tensor (all of channel 0 first, each plane row-major):
// value = (v' - mean[c]) / std[c] with v' = v / 255 when scale_to_unit is set.
// mean and std may be none (0 and 1). Release with free().
float* bl_image_to_chw(const bl_image* image, int scale_to_unit, const float* mean,
                       const float* std);

// Exchanges samples 0 and 2 of every pixel (RGB <-> BGR); images of 2
// channels or fewer are left alone.
void bl_image_swap_rb(bl_image* image);

#endif
