#include "image/png_reference.h"

#include <stdlib.h>

// A private copy of the writer, without the zlib hook the library installs.
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace bl_test {

size_t png_size(const bl_image* image,
                unsigned char* (*encode)(const unsigned char*, int, int, int, int, int*)) {
    int length = 0;
    unsigned char* png = encode(image->data, image->width * image->channels, image->width,
                                image->height, image->channels, &length);
    if (!png) return 0;
    free(png);
    return static_cast<size_t>(length);
}

size_t png_builtin_deflate_size(const bl_image* image) {
    return png_size(image, stbi_write_png_to_mem);
}

}  // namespace bl_test
