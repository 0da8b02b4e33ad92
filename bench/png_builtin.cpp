#include "png_builtin.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

unsigned char* bench_png_builtin_encode(const bl_image* image, int* length) {
    return stbi_write_png_to_mem(image->data, image->width * image->channels, image->width,
                                 image->height, image->channels, length);
}
