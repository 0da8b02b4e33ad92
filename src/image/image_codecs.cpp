// The file writers and the resampler, compiled here once, configured for
// speed. image_io uses them through their headers; files are read by the
// decoders (image_decode*.cpp).
#include <stdlib.h>

#include <zlib.h>

// PNG compression goes through zlib: the writer's own deflate takes about a
// third of a second per 1080p frame, and frame-directory runs save every frame.
static unsigned char* bl_png_deflate(unsigned char* data, int data_len, int* out_len, int quality);
#define STBIW_ZLIB_COMPRESS bl_png_deflate

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>

// zlib level 4 is the first with lazy matching: on photographs and smooth
// gradients its files are smaller than the writer's own level-8 deflate, at
// a fraction of the time.
static const int PNG_ZLIB_LEVEL = 4;

static unsigned char* bl_png_deflate(unsigned char* data, int data_len, int* out_len,
                                     int /*quality*/) {
    if (data_len < 0) return nullptr;
    uLongf length = compressBound(static_cast<uLong>(data_len));
    unsigned char* out = static_cast<unsigned char*>(STBIW_MALLOC(length));
    if (!out) return nullptr;
    if (compress2(out, &length, data, static_cast<uLong>(data_len), PNG_ZLIB_LEVEL) != Z_OK ||
        length > static_cast<uLongf>(INT32_MAX)) {
        STBIW_FREE(out);
        return nullptr;
    }
    *out_len = static_cast<int>(length);
    return out;
}
