// The file codecs and the resampler, compiled here once, configured for
// untrusted input and for speed. image_io uses them through their headers.
#include <stdlib.h>

#ifdef BL_HAVE_LIBDEFLATE
#include <libdeflate.h>
#else
#include <zlib.h>
#endif

// PNG compression goes through libdeflate (zlib where a build has no
// libdeflate): the writer's own deflate takes about a third of a second per
// 1080p frame, zlib still a tenth, and frame-directory runs save every frame.
static unsigned char* bl_png_deflate(unsigned char* data, int data_len, int* out_len, int quality);
#define STBIW_ZLIB_COMPRESS bl_png_deflate

// Decoder buffers start zeroed: a decoder that stops short on a damaged file
// must never hand back whatever the heap held before.
#define STBI_MALLOC(size) calloc(1, size)
#define STBI_REALLOC(block, size) realloc(block, size)
#define STBI_FREE(block) free(block)
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_THREAD_LOCALS
#include <stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>

#ifdef BL_HAVE_LIBDEFLATE
// libdeflate level 2 makes photographs smaller than zlib's level 4 (which
// the library used before) at about a third of its time; level 1 is faster
// still but its files come out larger on most photographs.
static const int PNG_DEFLATE_LEVEL = 2;

static unsigned char* bl_png_deflate(unsigned char* data, int data_len, int* out_len,
                                     int /*quality*/) {
    if (data_len < 0) return nullptr;
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(PNG_DEFLATE_LEVEL);
    if (!compressor) return nullptr;
    size_t bound = libdeflate_zlib_compress_bound(compressor, static_cast<size_t>(data_len));
    unsigned char* out = bound > static_cast<size_t>(INT32_MAX)
                             ? nullptr
                             : static_cast<unsigned char*>(STBIW_MALLOC(bound));
    size_t length =
        out ? libdeflate_zlib_compress(compressor, data, static_cast<size_t>(data_len), out, bound)
            : 0;
    libdeflate_free_compressor(compressor);
    if (length == 0) {
        STBIW_FREE(out);
        return nullptr;
    }
    *out_len = static_cast<int>(length);
    return out;
}
#else
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
#endif
