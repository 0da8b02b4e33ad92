// WebP output (lossy) through libwebp.
#include <stdlib.h>
#include <string.h>

#include <webp/encode.h>

#include "image/image_encode.h"

// Grey (and grey with alpha) become the RGB (RGBA) the encoder takes.
static uint8_t* widen_grey(const bl_image* image) {
    const int out_channels = image->channels == 1 ? 3 : 4;
    const size_t pixels = static_cast<size_t>(image->width) * image->height;
    uint8_t* out = static_cast<uint8_t*>(malloc(pixels * out_channels));
    if (!out) return nullptr;
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* in = image->data + i * image->channels;
        uint8_t* o = out + i * out_channels;
        o[0] = o[1] = o[2] = in[0];
        if (out_channels == 4) o[3] = in[1];
    }
    return out;
}

bool encode_webp(const bl_image* image, int quality, uint8_t** data, size_t* length) {
    const int32_t max_side = bl_image_format_max_side(bl_image_format::webp);
    if (image->width <= 0 || image->height <= 0 || image->width > max_side ||
        image->height > max_side || image->channels < 1 || image->channels > 4)
        return false;
    uint8_t* widened = image->channels <= 2 ? widen_grey(image) : nullptr;
    if (image->channels <= 2 && !widened) return false;
    const uint8_t* pixels = widened ? widened : image->data;
    const bool alpha = image->channels == 2 || image->channels == 4;
    const int stride = image->width * (alpha ? 4 : 3);
    const float q = static_cast<float>(quality);
    *length = alpha ? WebPEncodeRGBA(pixels, image->width, image->height, stride, q, data)
                    : WebPEncodeRGB(pixels, image->width, image->height, stride, q, data);
    free(widened);
    return *length > 0;
}

void free_webp(uint8_t* data) { WebPFree(data); }
