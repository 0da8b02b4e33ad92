// WebP through libwebp, decoded straight into the picture.
#include <stdint.h>
#include <stdlib.h>

#include <memory>

#include <webp/decode.h>

#include "image/image_decode.h"

// Lossless WebP can spend no bits at all on a plain picture, and lossy WebP
// next to none, so the format sets no bound of its own. One byte per 4096
// pixels (past the first megapixel) is far beyond what photographs and
// screenshots reach, and keeps a few-byte file from costing gigabytes.
static const int64_t WEBP_MAX_PIXELS_PER_BYTE = 4096;

namespace {

struct free_bytes {
    void operator()(uint8_t* p) const { free(p); }
};

// libwebp decodes from memory, and lossless files need all of it at once:
// a file is read whole into *held, memory is used where it is.
const uint8_t* whole_input(decode_input& input, std::unique_ptr<uint8_t, free_bytes>* held,
                           load_failure* failure) {
    if (input.length() <= 0 || static_cast<uint64_t>(input.length()) > SIZE_MAX) {
        *failure = load_failure::corrupt;
        return nullptr;
    }
    if (input.bytes()) return input.bytes();
    held->reset(static_cast<uint8_t*>(malloc(static_cast<size_t>(input.length()))));
    if (!*held) {
        *failure = load_failure::out_of_memory;
    } else if (!input.read_exact(held->get(), static_cast<size_t>(input.length()))) {
        held->reset();
        *failure = load_failure::unreadable;
    }
    return held->get();
}

}  // namespace

bl_image* decode_webp(decode_input& input, load_failure* failure) {
    std::unique_ptr<uint8_t, free_bytes> held;
    const uint8_t* bytes = whole_input(input, &held, failure);
    if (!bytes) return nullptr;
    const size_t length = static_cast<size_t>(input.length());
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config) || WebPGetFeatures(bytes, length, &config.input) != VP8_STATUS_OK) {
        *failure = load_failure::corrupt;
        return nullptr;
    }
    if (config.input.has_animation) {
        *failure = load_failure::unsupported;
        return nullptr;
    }
    row_sink sink;
    const int64_t width = config.input.width, height = config.input.height;
    if (!sink.begin(width, height, input, min_bytes_at_ratio(width * height, WEBP_MAX_PIXELS_PER_BYTE))) {
        *failure = sink.failure;
        return nullptr;
    }
    // Alpha is dropped by asking for RGB alone.
    config.output.colorspace = MODE_RGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = sink.row(0);
    config.output.u.RGBA.stride = static_cast<int>(width * 3);
    config.output.u.RGBA.size = static_cast<size_t>(width * height * 3);
    const VP8StatusCode status = WebPDecode(bytes, length, &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) {
        *failure = status == VP8_STATUS_OUT_OF_MEMORY ? load_failure::out_of_memory : load_failure::corrupt;
        return nullptr;
    }
    return sink.release();
}
