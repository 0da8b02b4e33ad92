// Encoding the library's images into file bytes in memory: what a file is
// saved with, and what a host that keeps its pictures in memory asks for.
#ifndef BL_IMAGE_ENCODE_H
#define BL_IMAGE_ENCODE_H

#include <stddef.h>
#include <stdint.h>

#include "image/image_io.h"

enum class bl_image_format { png, jpeg, bmp, webp };

// The quality JPEG and WebP are written with unless a caller asks for another.
constexpr int BL_DEFAULT_QUALITY = 95;

// The format a file name's extension asks for, ignoring ASCII case: JPEG for
// ".jpg" and ".jpeg", BMP for ".bmp", WebP for ".webp", PNG for any other
// extension or none (also when the last "." lies in a folder's name).
bl_image_format bl_image_format_for_path(const char* path);

// The longest side a format's size fields record (WebP: 16383, JPEG: 65535);
// PNG and BMP record any side an image may have.
int32_t bl_image_format_max_side(bl_image_format format);

// The image (1 ... 4 channels: grey, grey and alpha, RGB, RGBA) in `format`;
// quality (1 ... 100) is read for JPEG and WebP, WebP being lossy. On success
// *bytes is a malloc'd block of *size bytes for the caller to free(). False
// (nothing allocated) for another channel count, an image without pixels
// (except a BMP, whose header alone is written), a side over the format's
// limit, or no memory.
bool bl_image_encode(const bl_image* image, bl_image_format format, int quality, uint8_t** bytes,
                     size_t* size);

// WebP data of the image, as bl_image_encode describes it; release the data
// with free_webp().
bool encode_webp(const bl_image* image, int quality, uint8_t** data, size_t* length);
void free_webp(uint8_t* data);

#endif
