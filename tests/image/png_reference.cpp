#include "image/png_reference.h"

#include <stdlib.h>

// A private copy of the writer, without the zlib hook the library installs.
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace bl_test {

size_t png_builtin_deflate_size(const bl_image* image) {
    int length = 0;
    unsigned char* png = stbi_write_png_to_mem(image->data, image->width * image->channels,
                                               image->width, image->height, image->channels,
                                               &length);
    if (!png) return 0;
    free(png);
    return static_cast<size_t>(length);
}

}  // namespace bl_test
