// The image writer's own PNG deflate and zlib's, kept apart from the
// library's, to compare file sizes against.
#ifndef BL_TEST_PNG_REFERENCE_H
#define BL_TEST_PNG_REFERENCE_H

#include <stddef.h>

#include "image/image_io.h"

namespace bl_test {

// Size in bytes of the PNG that `encode` (a copy of the writer's
// stbi_write_png_to_mem) makes of image, or 0 when it fails.
size_t png_size(const bl_image* image,
                unsigned char* (*encode)(const unsigned char*, int, int, int, int, int*));

// Size in bytes of the PNG that the writer's built-in deflate makes of
// image, or 0 when it fails.
size_t png_builtin_deflate_size(const bl_image* image);

// The same with zlib at level 4 (what the library's PNG files used to be).
size_t png_zlib_level4_size(const bl_image* image);

}  // namespace bl_test

#endif
