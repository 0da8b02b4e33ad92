#include "image/image_io.h"
#include "image/image_decode.h"
#include "image/image_encode.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>

#include "image/image_limits.h"
#include "platform/log_sink.h"
#include "platform/platform.h"

#include <stb_image_resize.h>

// The most channels the resampler takes.
static const int32_t RESIZE_MAX_CHANNELS = 64;

// Byte count of an image, or -1 when a size is negative or the count does not
// fit the 32-bit sizes the image record and the encoders work with.
static int64_t image_bytes(int32_t width, int32_t height, int32_t channels) {
    if (width < 0 || height < 0 || channels < 0) return -1;
    int64_t bytes = static_cast<int64_t>(width) * height * channels;
    return bytes > INT32_MAX ? -1 : bytes;
}

// Whether the record's samples can be read: a sane size with the samples
// present (an empty image needs none).
static bool readable(const bl_image* image) {
    const int64_t bytes = image_bytes(image->width, image->height, image->channels);
    return bytes >= 0 && (bytes == 0 || image->data);
}

static bl_image* new_image(int32_t width, int32_t height, int32_t channels, bool zeroed) {
    int64_t bytes = image_bytes(width, height, channels);
    if (bytes < 0) return nullptr;
    bl_image* image = static_cast<bl_image*>(malloc(sizeof(bl_image)));
    if (!image) return nullptr;
    size_t alloc = bytes > 0 ? static_cast<size_t>(bytes) : 1;
    image->data = static_cast<uint8_t*>(zeroed ? calloc(alloc, 1) : malloc(alloc));
    if (!image->data) {
        free(image);
        return nullptr;
    }
    image->width = width;
    image->height = height;
    image->channels = channels;
    return image;
}

bool image_size_allowed(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return false;
    if (width * height > BL_MAX_IMAGE_PIXELS) return false;
    return image_bytes(static_cast<int32_t>(width), static_cast<int32_t>(height), 3) >= 0;
}

// Every image file is opened here, and only here.
static FILE* open_image_file(const char* path, const char* mode) { return bl_fopen(path, mode); }

static int64_t file_length(FILE* file) {
    if (fseek(file, 0, SEEK_END) != 0) return -1;
    const long length = ftell(file);
    return fseek(file, 0, SEEK_SET) == 0 ? length : -1;
}

// Loads the file at `path` into *failure's answer; with `report`, a file
// that has bytes but no picture we can give is named on stderr with the
// reason (a missing or empty file goes unmentioned: the callers say so).
static bl_image* load_file(const char* path, bool report, load_failure* failure) {
    *failure = load_failure::unreadable;
    if (!path) return nullptr;
    FILE* file = open_image_file(path, "rb");
    if (!file) return nullptr;
    decode_input input = decode_input::of_file(file, file_length(file));
    bl_image* image = nullptr;
    if (input.length() > 0) image = decode_image(input, failure);
    fclose(file);
    if (image) {
        *failure = load_failure::none;
    } else if (report && input.length() > 0) {
        bl_log(BRIGHTLOOM_LOG_WARNING, "[brightloom] image: cannot load %s: %s\n", path,
               load_failure_text(*failure));
    }
    return image;
}

// Callers that do not ask why a load failed still get the reason in the
// warning line, so there is always somewhere to put it.
static load_failure* or_scratch(load_failure* failure, load_failure* scratch) {
    return failure ? failure : scratch;
}

bl_image* bl_image_load(const char* path, load_failure* failure) {
    load_failure scratch;
    return load_file(path, true, or_scratch(failure, &scratch));
}

bl_image* bl_image_load_quiet(const char* path, load_failure* failure) {
    load_failure scratch;
    return load_file(path, false, or_scratch(failure, &scratch));
}

bl_image* bl_image_decode_memory(const void* bytes, size_t size, load_failure* failure) {
    load_failure scratch;
    failure = or_scratch(failure, &scratch);
    *failure = load_failure::corrupt;
    if (!bytes || size == 0) return nullptr;
    decode_input input = decode_input::of_bytes(static_cast<const uint8_t*>(bytes), size);
    bl_image* image = decode_image(input, failure);
    if (image) *failure = load_failure::none;
    return image;
}

static bool probe_input(decode_input& input, bl_image_header* header, load_failure* failure) {
    image_kind kind;
    decode_probe probe;
    if (!sniff_image_kind(input, &kind, failure) || !probe_image(input, kind, &probe, failure))
        return false;
    *header = {kind, probe.width, probe.height};
    return true;
}

bool bl_image_probe_memory(const void* bytes, size_t size, bl_image_header* header,
                           load_failure* failure) {
    *failure = load_failure::corrupt;
    if (!bytes || size == 0) return false;
    decode_input input = decode_input::of_bytes(static_cast<const uint8_t*>(bytes), size);
    return probe_input(input, header, failure);
}

// A pipe or device is left alone: what is read from it would be gone for
// the decode that follows, and opening a pipe can wait for ever.
bool bl_image_probe_file(const char* path, bl_image_header* header, load_failure* failure) {
    *failure = load_failure::unreadable;
    std::error_code error;
    if (!path || !std::filesystem::is_regular_file(std::filesystem::u8path(path), error))
        return false;
    FILE* file = open_image_file(path, "rb");
    if (!file) return false;
    decode_input input = decode_input::of_file(file, file_length(file));
    bool probed = false;
    if (input.length() > 0) probed = probe_input(input, header, failure);
    else if (input.length() == 0) *failure = load_failure::corrupt;
    fclose(file);
    return probed;
}

bl_image* bl_image_create(int32_t width, int32_t height, int32_t channels) {
    return new_image(width, height, channels, true);
}

bl_image* bl_image_clone(const bl_image* image) {
    if (!image || !readable(image)) return nullptr;
    bl_image* copy = new_image(image->width, image->height, image->channels, false);
    if (!copy) return nullptr;
    const int64_t bytes = image_bytes(image->width, image->height, image->channels);
    if (bytes > 0) memcpy(copy->data, image->data, static_cast<size_t>(bytes));
    return copy;
}

void bl_image_free(bl_image* image) {
    if (!image) return;
    free(image->data);
    free(image);
}

bool bl_image_write_file(const char* path, const uint8_t* bytes, size_t size) {
    FILE* file = open_image_file(path, "wb");
    if (!file) return false;
    // A full disk is reported, not passed off as a saved file.
    bool written = size == 0 || fwrite(bytes, 1, size, file) == size;
    if (fclose(file) != 0) written = false;
    return written;
}

int bl_image_save(const bl_image* image, const char* path) {
    if (!image || !path || !readable(image)) return -1;
    // The encoders know only gray, gray and alpha, RGB and RGBA.
    if (image->channels < 1 || image->channels > 4) return -1;
    const bl_image_format format = bl_image_format_for_path(path);
    uint8_t* bytes = nullptr;
    size_t size = 0;
    if (!bl_image_encode(image, format, BL_DEFAULT_QUALITY, &bytes, &size)) {
        // The JPEG writer has always opened its file first, so a JPEG it
        // refuses leaves the empty file behind.
        if (format == bl_image_format::jpeg) bl_image_write_file(path, nullptr, 0);
        return -1;
    }
    const bool written = bl_image_write_file(path, bytes, size);
    free(bytes);
    return written ? 0 : -1;
}

static stbir_filter axis_filter(int source_size, int result_size) {
    return result_size >= source_size ? STBIR_FILTER_CATMULLROM : STBIR_FILTER_MITCHELL;
}

bl_image* bl_image_resize(const bl_image* image, int32_t width, int32_t height) {
    if (!image) return nullptr;
    bl_image* result = new_image(width, height, image->channels, true);
    if (!result) return nullptr;
    // Nothing to sample from or nothing to fill: the zero-filled result stands,
    // as it does when the resampler refuses a job.
    if (!readable(image) || image->width <= 0 || image->height <= 0 || width <= 0 ||
        height <= 0 || image->channels < 1 || image->channels > RESIZE_MAX_CHANNELS)
        return result;
    // Mitchell where an axis shrinks, Catmull-Rom where it grows or keeps its
    // size (an interpolating filter, so an unchanged axis is copied rather
    // than softened); edges clamped, no colour-space conversion. Four
    // channels are R, G, B and a straight alpha, which weights the colours.
    const int alpha_channel = image->channels == 4 ? 3 : STBIR_ALPHA_CHANNEL_NONE;
    stbir_resize_region(image->data, image->width, image->height, image->width * image->channels,
                        result->data, width, height, width * image->channels, STBIR_TYPE_UINT8,
                        image->channels, alpha_channel, 0, STBIR_EDGE_CLAMP, STBIR_EDGE_CLAMP,
                        axis_filter(image->width, width), axis_filter(image->height, height),
                        STBIR_COLORSPACE_LINEAR, nullptr, 0.0f, 0.0f, 1.0f, 1.0f);
    return result;
}

// One plane of the tensor: every `channels`-th byte from src, normalised.
static void normalise_plane(const uint8_t* src, int channels, int count, int scale_to_unit,
                            float mean, float std, float* dst) {
    if (scale_to_unit) {
        for (int i = 0; i < count; ++i) {
            const float v = static_cast<float>(src[static_cast<size_t>(i) * channels]) / 255.0f;
            dst[i] = (v - mean) / std;
        }
    } else {
        for (int i = 0; i < count; ++i) {
            const float v = static_cast<float>(src[static_cast<size_t>(i) * channels]);
            dst[i] = (v - mean) / std;
        }
    }
}

float* bl_image_to_chw(const bl_image* image, int scale_to_unit, const float* mean,
                       const float* std) {
    if (!image || !readable(image)) return nullptr;
    const int64_t count = image_bytes(image->width, image->height, image->channels);
    float* out = static_cast<float*>(malloc(static_cast<size_t>(count > 0 ? count : 1) * sizeof(float)));
    if (!out) return nullptr;
    const int plane = image->width * image->height;
    const int channels = image->channels;
    for (int c = 0; c < channels; ++c)
        normalise_plane(image->data + c, channels, plane, scale_to_unit, mean ? mean[c] : 0.0f,
                        std ? std[c] : 1.0f, out + static_cast<size_t>(c) * plane);
    return out;
}

void bl_image_swap_rb(bl_image* image) {
    if (!image || !image->data || image->channels <= 2 || image->width <= 0 || image->height <= 0)
        return;
    const size_t pixels = static_cast<size_t>(image->width) * image->height;
    uint8_t* p = image->data;
    for (size_t i = 0; i < pixels; ++i, p += image->channels) {
        uint8_t t = p[0];
        p[0] = p[2];
        p[2] = t;
    }
}
