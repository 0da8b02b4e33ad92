// PNG, JPEG and BMP through the image writer (compiled in image_codecs),
// WebP through libwebp, each into one malloc'd block.
#include "image/image_encode.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <stb_image_write.h>

// Exported by the writer (image_codecs) but declared only in its
// implementation part: PNG encoding into memory.
extern "C" unsigned char* stbi_write_png_to_mem(const unsigned char* pixels, int stride_bytes,
                                                int x, int y, int n, int* out_len);

static const int32_t JPEG_MAX_SIDE = 65535;
static const int32_t WEBP_MAX_SIDE = 16383;

bl_image_format bl_image_format_for_path(const char* path) {
    const char* dot = strrchr(path, '.');
    if (!dot) return bl_image_format::png;
    if (strcasecmp(dot, ".jpg") == 0 || strcasecmp(dot, ".jpeg") == 0) return bl_image_format::jpeg;
    if (strcasecmp(dot, ".bmp") == 0) return bl_image_format::bmp;
    if (strcasecmp(dot, ".webp") == 0) return bl_image_format::webp;
    return bl_image_format::png;
}

int32_t bl_image_format_max_side(bl_image_format format) {
    switch (format) {
        case bl_image_format::jpeg: return JPEG_MAX_SIDE;
        case bl_image_format::webp: return WEBP_MAX_SIDE;
        case bl_image_format::png:
        case bl_image_format::bmp: break;
    }
    return INT32_MAX;
}

namespace {

// A block the writer's output is appended to, growing by doubling; it
// remembers running out of memory, since the writer cannot be told.
struct growing_bytes {
    uint8_t* data = nullptr;
    size_t size = 0, capacity = 0;
    bool failed = false;
};

void append(void* context, void* data, int size) {
    growing_bytes* out = static_cast<growing_bytes*>(context);
    if (out->failed || size <= 0) return;
    const size_t n = static_cast<size_t>(size);
    if (out->capacity - out->size < n) {
        size_t capacity = out->capacity ? out->capacity : 4096;
        while (capacity - out->size < n && capacity <= SIZE_MAX / 2) capacity *= 2;
        uint8_t* grown = capacity - out->size < n ? nullptr : static_cast<uint8_t*>(realloc(out->data, capacity));
        if (!grown) {
            out->failed = true;
            return;
        }
        out->data = grown;
        out->capacity = capacity;
    }
    memcpy(out->data + out->size, data, n);
    out->size += n;
}

// Hands over what a streaming writer produced; false (and freed) when the
// writer failed or memory ran out.
bool take(growing_bytes* out, bool written, uint8_t** bytes, size_t* size) {
    if (!written || out->failed) {
        free(out->data);
        return false;
    }
    // An empty result is still a block, so that success never looks like failure.
    if (!out->data) {
        out->data = static_cast<uint8_t*>(malloc(1));
        if (!out->data) return false;
    }
    *bytes = out->data;
    *size = out->size;
    return true;
}

bool encode_png(const bl_image* image, uint8_t** bytes, size_t* size) {
    // A PNG must have at least one pixel; the writer would write one without.
    if (image->width <= 0 || image->height <= 0) return false;
    int length = 0;
    unsigned char* png = stbi_write_png_to_mem(image->data, image->width * image->channels,
                                               image->width, image->height, image->channels,
                                               &length);
    if (!png) return false;
    *bytes = png;  // the writer allocates with malloc
    *size = static_cast<size_t>(length);
    return true;
}

bool encode_jpeg(const bl_image* image, int quality, uint8_t** bytes, size_t* size) {
    if (!image->data || image->width <= 0 || image->height <= 0 || image->width > JPEG_MAX_SIDE ||
        image->height > JPEG_MAX_SIDE)
        return false;
    growing_bytes out;
    const bool written = stbi_write_jpg_to_func(append, &out, image->width, image->height,
                                                image->channels, image->data, quality) != 0;
    return take(&out, written, bytes, size);
}

bool encode_bmp(const bl_image* image, uint8_t** bytes, size_t* size) {
    growing_bytes out;
    const bool written = stbi_write_bmp_to_func(append, &out, image->width, image->height,
                                                image->channels, image->data) != 0;
    return take(&out, written, bytes, size);
}

// libwebp's block is released with its own function; the caller's with free().
bool encode_webp_block(const bl_image* image, int quality, uint8_t** bytes, size_t* size) {
    uint8_t* webp = nullptr;
    size_t length = 0;
    if (!encode_webp(image, quality, &webp, &length)) return false;
    *bytes = static_cast<uint8_t*>(malloc(length));
    if (*bytes) memcpy(*bytes, webp, length);
    free_webp(webp);
    *size = length;
    return *bytes != nullptr;
}

}  // namespace

bool bl_image_encode(const bl_image* image, bl_image_format format, int quality, uint8_t** bytes,
                     size_t* size) {
    if (!image || image->channels < 1 || image->channels > 4 || image->width < 0 || image->height < 0)
        return false;
    if (!image->data && image->width > 0 && image->height > 0) return false;
    switch (format) {
        case bl_image_format::png: return encode_png(image, bytes, size);
        case bl_image_format::jpeg: return encode_jpeg(image, quality, bytes, size);
        case bl_image_format::bmp: return encode_bmp(image, bytes, size);
        case bl_image_format::webp: return encode_webp_block(image, quality, bytes, size);
    }
    return false;
}
