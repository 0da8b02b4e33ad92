// PNG encoding with the image writer's built-in deflate, as the library did
// before its PNG compression went through zlib.
#ifndef BL_BENCH_PNG_BUILTIN_H
#define BL_BENCH_PNG_BUILTIN_H

#include "image/image_io.h"

// Encoded PNG (release with free) and its length, or none.
unsigned char* bench_png_builtin_encode(const bl_image* image, int* length);

#endif
