// The engine interface's images in memory: decoding and loading, encoding
// and saving, and releasing what the library handed out.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "brightloom.h"
#include "engine/bl_public_image.h"
#include "engine/bl_status.h"
#include "image/image_decode.h"
#include "image/image_encode.h"
#include "image/image_io.h"
#include "image/image_limits.h"

// The public header publishes the decoder's cap to callers.
static_assert(BRIGHTLOOM_MAX_IMAGE_PIXELS == BL_MAX_IMAGE_PIXELS,
              "the published pixel cap differs from the one the decoder applies");

namespace {

brightloom_status status_of(load_failure failure) {
    switch (failure) {
        case load_failure::unsupported: return BRIGHTLOOM_UNSUPPORTED_FORMAT;
        case load_failure::too_large: return BRIGHTLOOM_TOO_LARGE;
        case load_failure::out_of_memory: return BRIGHTLOOM_OUT_OF_MEMORY;
        case load_failure::unreadable:
        case load_failure::corrupt: return BRIGHTLOOM_UNREADABLE_INPUT;
        case load_failure::none: break;
    }
    return BRIGHTLOOM_INTERNAL;
}

const char* format_name(bl_image_format format) {
    switch (format) {
        case bl_image_format::png: return "PNG";
        case bl_image_format::jpeg: return "JPEG";
        case bl_image_format::bmp: return "BMP";
        case bl_image_format::webp: return "WebP";
    }
    return "?";
}

bool known_format(brightloom_format format, bl_image_format* out) {
    switch (format) {
        case BRIGHTLOOM_FORMAT_PNG: *out = bl_image_format::png; return true;
        case BRIGHTLOOM_FORMAT_JPEG: *out = bl_image_format::jpeg; return true;
        case BRIGHTLOOM_FORMAT_BMP: *out = bl_image_format::bmp; return true;
        case BRIGHTLOOM_FORMAT_WEBP: *out = bl_image_format::webp; return true;
        case BRIGHTLOOM_FORMAT_GIF:
        case BRIGHTLOOM_FORMAT_TGA:
        case BRIGHTLOOM_FORMAT_PNM:
        case BRIGHTLOOM_FORMAT_RANGE_: break;
    }
    return false;
}

// The quality a lossy format is written with: 0 asks for the default.
brightloom_status choose_quality(bl_image_format format, int32_t asked, int* quality) {
    *quality = asked == 0 ? BL_DEFAULT_QUALITY : asked;
    const bool lossy = format == bl_image_format::jpeg || format == bl_image_format::webp;
    if (lossy && (asked < 0 || asked > 100))
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Quality %d is outside 1 ... 100", asked);
    return BRIGHTLOOM_OK;
}

// The image as the encoders read it: checked, within the format's sides,
// packed (copied into *holder when the caller's rows are padded).
brightloom_status encodable_view(const brightloom_image* image, bl_image_format format,
                                 bl_image* view, bl_image_ptr* holder) {
    const brightloom_status checked = bl_public_image_check(image, "image");
    if (checked != BRIGHTLOOM_OK) return checked;
    const int32_t max_side = bl_image_format_max_side(format);
    if (image->width > max_side || image->height > max_side)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "A %d x %d image is past %s's %d pixels a side",
                       image->width, image->height, format_name(format), max_side);
    if (!bl_public_image_view(image, view, holder))
        return bl_fail(BRIGHTLOOM_OUT_OF_MEMORY, "Out of memory");
    return BRIGHTLOOM_OK;
}

brightloom_format public_format(image_kind kind) {
    switch (kind) {
        case image_kind::png: return BRIGHTLOOM_FORMAT_PNG;
        case image_kind::jpeg: return BRIGHTLOOM_FORMAT_JPEG;
        case image_kind::gif: return BRIGHTLOOM_FORMAT_GIF;
        case image_kind::webp: return BRIGHTLOOM_FORMAT_WEBP;
        case image_kind::bmp: return BRIGHTLOOM_FORMAT_BMP;
        case image_kind::pnm: return BRIGHTLOOM_FORMAT_PNM;
        case image_kind::tga: return BRIGHTLOOM_FORMAT_TGA;
    }
    return BRIGHTLOOM_FORMAT_RANGE_;
}

// The header's size, or the failure as a status; the caller's info is
// written only on success, as far as its size reaches.
brightloom_status hand_out_header(bool probed, const bl_image_header& header,
                                  load_failure failure, brightloom_image_info* info) {
    if (!probed) return bl_fail(status_of(failure), "%s", load_failure_text(failure));
    // Every format's sides fit 31 bits; a larger one is no picture we read.
    if (header.width > INT32_MAX || header.height > INT32_MAX)
        return bl_fail(BRIGHTLOOM_UNREADABLE_INPUT, "%s", load_failure_text(load_failure::corrupt));
    brightloom_image_info filled = {sizeof filled, static_cast<int32_t>(header.width),
                                    static_cast<int32_t>(header.height),
                                    public_format(header.kind)};
    const uint32_t size = info->size;
    memcpy(static_cast<void*>(info), &filled, size < sizeof filled ? size : sizeof filled);
    info->size = size;
    return BRIGHTLOOM_OK;
}

brightloom_status check_info(const brightloom_image_info* info) {
    if (!info) return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The image info is NULL");
    if (info->size == 0)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT,
                       "The image info's size is 0: set it to its sizeof");
    return BRIGHTLOOM_OK;
}

brightloom_status decode_failed(load_failure failure) {
    return bl_fail(status_of(failure), "%s", load_failure_text(failure));
}

}  // namespace

brightloom_status brightloom_image_decode(const void* bytes, size_t size, brightloom_image* image) {
    return bl_status_guarded([&] {
        bl_clear_thread_error();
        if (!image) return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "No image to decode into");
        *image = {};
        if (!bytes || size == 0) return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "No image bytes to decode");
        load_failure failure = load_failure::none;
        bl_image* decoded = bl_image_decode_memory(bytes, size, &failure);
        if (!decoded) return decode_failed(failure);
        bl_public_image_take(decoded, image);
        return BRIGHTLOOM_OK;
    });
}

brightloom_status brightloom_image_load(const char* path, brightloom_image* image) {
    return bl_status_guarded([&] {
        bl_clear_thread_error();
        if (!image) return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "No image to load into");
        *image = {};
        if (!path || !*path) return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "No image path");
        load_failure failure = load_failure::none;
        bl_image* loaded = bl_image_load_quiet(path, &failure);
        if (!loaded) {
            return bl_fail(status_of(failure), "Failed to load image: %s: %s", path,
                           load_failure_text(failure));
        }
        bl_public_image_take(loaded, image);
        return BRIGHTLOOM_OK;
    });
}

brightloom_status brightloom_image_encode(const brightloom_image* image, brightloom_format format,
                                          int32_t quality, uint8_t** bytes, size_t* size) {
    return bl_status_guarded([&] {
        bl_clear_thread_error();
        if (!bytes || !size) return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "No place for the encoded bytes");
        *bytes = nullptr;
        *size = 0;
        bl_image_format chosen = bl_image_format::png;
        if (!known_format(format, &chosen))
            return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Unknown image format %d", static_cast<int>(format));
        int chosen_quality = 0;
        brightloom_status status = choose_quality(chosen, quality, &chosen_quality);
        bl_image view = {};
        bl_image_ptr holder;
        if (status == BRIGHTLOOM_OK) status = encodable_view(image, chosen, &view, &holder);
        if (status != BRIGHTLOOM_OK) return status;
        // The image was checked, so only memory can fail the encoder.
        if (!bl_image_encode(&view, chosen, chosen_quality, bytes, size))
            return bl_fail(BRIGHTLOOM_OUT_OF_MEMORY, "Out of memory");
        return BRIGHTLOOM_OK;
    });
}

brightloom_status brightloom_image_save(const brightloom_image* image, const char* path) {
    return bl_status_guarded([&] {
        bl_clear_thread_error();
        if (!path || !*path) return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "No output path");
        const bl_image_format format = bl_image_format_for_path(path);
        bl_image view = {};
        bl_image_ptr holder;
        const brightloom_status status = encodable_view(image, format, &view, &holder);
        if (status != BRIGHTLOOM_OK) return status;
        uint8_t* encoded = nullptr;
        size_t size = 0;
        if (!bl_image_encode(&view, format, BL_DEFAULT_QUALITY, &encoded, &size))
            return bl_fail(BRIGHTLOOM_OUT_OF_MEMORY, "Out of memory");
        const bool written = bl_image_write_file(path, encoded, size);
        free(encoded);
        if (!written) return bl_fail(BRIGHTLOOM_CANNOT_WRITE, "Failed to save output: %s", path);
        return BRIGHTLOOM_OK;
    });
}

void brightloom_image_release(brightloom_image* image) {
    if (!image) return;
    free(image->pixels);
    *image = {};
}

void brightloom_bytes_release(uint8_t* bytes) { free(bytes); }

brightloom_status brightloom_image_probe(const void* bytes, size_t size,
                                         brightloom_image_info* info) {
    return bl_status_guarded([&] {
        bl_clear_thread_error();
        if (brightloom_status status = check_info(info)) return status;
        if (!bytes && size > 0) return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The bytes are NULL");
        bl_image_header header{};
        load_failure failure = load_failure::none;
        const bool probed = bl_image_probe_memory(bytes, size, &header, &failure);
        return hand_out_header(probed, header, failure, info);
    });
}

brightloom_status brightloom_image_probe_file(const char* path, brightloom_image_info* info) {
    return bl_status_guarded([&] {
        bl_clear_thread_error();
        if (brightloom_status status = check_info(info)) return status;
        if (!path || !path[0]) return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The path is NULL or empty");
        bl_image_header header{};
        load_failure failure = load_failure::none;
        if (bl_image_probe_file(path, &header, &failure))
            return hand_out_header(true, header, failure, info);
        return bl_fail(status_of(failure), "Failed to probe image: %s: %s", path,
                       load_failure_text(failure));
    });
}
