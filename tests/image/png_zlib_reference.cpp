#include <stdlib.h>
#include <zlib.h>

#include "image/png_reference.h"

// A private copy of the writer compressing through zlib at level 4, as the
// library did before its PNG compression moved to libdeflate.
static unsigned char* zlib_level4(unsigned char* data, int length, int* out_length, int) {
    uLongf bound = compressBound(static_cast<uLong>(length));
    unsigned char* out = static_cast<unsigned char*>(malloc(bound));
    if (out && compress2(out, &bound, data, static_cast<uLong>(length), 4) == Z_OK) {
        *out_length = static_cast<int>(bound);
        return out;
    }
    free(out);
    return nullptr;
}
#define STBIW_ZLIB_COMPRESS zlib_level4
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace bl_test {

size_t png_zlib_level4_size(const bl_image* image) {
    return png_size(image, stbi_write_png_to_mem);
}

}  // namespace bl_test
