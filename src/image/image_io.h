// The one image type of the library and its files: load, save, copy,
// resample, and conversion into planar float tensors for the models.
#ifndef BL_IMAGE_IO_H
#define BL_IMAGE_IO_H

#include <stddef.h>
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

// Why a load or decode failed: unsupported (also PSD, PIC, HDR and every
// other format bl_image_load does not list), too large, corrupt (damaged or
// truncated, an empty input included), out of memory, or for a file
// unreadable (it cannot be opened or read); none after a success.
enum class load_failure { none, unreadable, unsupported, too_large, corrupt, out_of_memory };

// The failure's text: "Unsupported image format", "Image too large",
// "Corrupt or truncated image data", "Out of memory", "Cannot read the
// file"; "" for none.
const char* load_failure_text(load_failure failure);

// Decodes a file as 8-bit R, G, B: PNG, JPEG (turned as its EXIF orientation
// says), GIF (first frame), WebP, BMP, TGA and binary PNM, told apart by their
// first bytes. Refuses, before allocating, files that declare more than
// BL_MAX_IMAGE_PIXELS pixels or more than their length can hold; a
// file that ends early or is damaged fails rather than loading in part.
// None on failure, with a line on stderr naming the file and the reason.
// Every load and decode answers why in *failure when asked.
bl_image* bl_image_load(const char* path, load_failure* failure = nullptr);

// bl_image_load without the line on stderr, for callers that report the
// failure themselves.
bl_image* bl_image_load_quiet(const char* path, load_failure* failure = nullptr);

// bl_image_load of a file's bytes held in memory (read where they are, never
// copied); silent. None on failure.
bl_image* bl_image_decode_memory(const void* bytes, size_t size,
                                 load_failure* failure = nullptr);

// What a file's header declares, read by its decoder's own header reader
// and stopped before any pixel (image_decode.h has the kinds).
enum class image_kind;
struct bl_image_header {
    image_kind kind;
    int64_t width, height;  // as the decode would give the picture, turned upright
};
// True with *header filled, else false with *failure: unsupported, corrupt
// (also a side that is not positive), out of memory, and for a file
// unreadable (it cannot be opened or read, or is no regular file).
bool bl_image_probe_memory(const void* bytes, size_t size, bl_image_header* header,
                           load_failure* failure);
bool bl_image_probe_file(const char* path, bl_image_header* header, load_failure* failure);

// Zero-filled image; none when a size is negative, the byte count does not
// fit in 32 bits, or memory runs out.
bl_image* bl_image_create(int32_t width, int32_t height, int32_t channels);

bl_image* bl_image_clone(const bl_image* image);

// Writes JPEG (quality 95) for .jpg/.jpeg, BMP for .bmp, WebP (lossy,
// quality 95, sides up to 16383) for .webp and PNG otherwise, comparing the
// extension ignoring ASCII case: the bytes bl_image_encode gives. 0 on
// success, -1 on failure: also for channel counts other than 1 ... 4, a PNG
// or WebP without pixels, a JPEG without pixels or with a side over 65535
// (an empty file is left), and a failed write.
int bl_image_save(const bl_image* image, const char* path);

// Writes `size` bytes as the whole of the file at `path`; false when it
// cannot be opened or a write (or the close) fails.
bool bl_image_write_file(const char* path, const uint8_t* bytes, size_t size);

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
