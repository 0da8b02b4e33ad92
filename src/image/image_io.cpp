#include "image/image_io.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "image/image_limits.h"

#include <stb_image.h>
#include <stb_image_resize.h>
#include <stb_image_write.h>

// Exported by the writer (image_codecs) but declared only in its
// implementation part: PNG encoding into memory.
extern "C" unsigned char* stbi_write_png_to_mem(const unsigned char* pixels, int stride_bytes,
                                                int x, int y, int n, int* out_len);

// The sample limit of the JPEG format's size fields.
static const int32_t JPEG_MAX_SIDE = 65535;

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

// Whether a decoded size may be decoded at all: image files come from users,
// and a small file may declare a picture of any size.
static bool acceptable_size(int width, int height) {
    if (width <= 0 || height <= 0) return false;
    if (static_cast<int64_t>(width) * height > BL_MAX_IMAGE_PIXELS) return false;
    return image_bytes(width, height, 3) >= 0;
}

// ----------------------------------------------------- checks before decoding
//
// Image files come from users. Before the decoder sees a file, its declared
// size is checked, and so are the faults the decoder itself does not catch.

// The whole file in memory; none when it cannot be read or is longer than
// the decoder's 32-bit lengths.
static uint8_t* read_whole_file(const char* path, int* length) {
    FILE* file = fopen(path, "rb");
    if (!file) return nullptr;
    uint8_t* bytes = nullptr;
    long size = -1;
    if (fseek(file, 0, SEEK_END) == 0) size = ftell(file);
    if (size > 0 && size <= INT32_MAX && fseek(file, 0, SEEK_SET) == 0) {
        bytes = static_cast<uint8_t*>(malloc(static_cast<size_t>(size)));
        if (bytes && fread(bytes, 1, static_cast<size_t>(size), file) != static_cast<size_t>(size)) {
            free(bytes);
            bytes = nullptr;
        }
    }
    fclose(file);
    if (bytes) *length = static_cast<int>(size);
    return bytes;
}

static uint32_t read_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The decoders of the uncompressed formats read a short file as if it ended
// in zeros and report success. For those formats the byte count the header
// promises is known, so a truncated file is refused.

// Bytes a binary PNM (P5 gray, P6 RGB) needs: its text header, then the
// samples of 1 or 2 bytes each. -1 when the header is not one.
static int64_t pnm_needed_bytes(const uint8_t* h, size_t n) {
    if (n < 2 || h[0] != 'P' || (h[1] != '5' && h[1] != '6')) return -1;
    const int64_t channels = h[1] == '6' ? 3 : 1;
    size_t i = 2;
    int64_t values[3] = {0, 0, 0};
    for (int64_t& value : values) {
        // Whitespace and comment lines before each number.
        for (;;) {
            while (i < n && (h[i] == ' ' || (h[i] >= '\t' && h[i] <= '\r'))) ++i;
            if (i < n && h[i] == '#') {
                while (i < n && h[i] != '\n' && h[i] != '\r') ++i;
                continue;
            }
            break;
        }
        if (i >= n || h[i] < '0' || h[i] > '9') return -1;
        while (i < n && h[i] >= '0' && h[i] <= '9' && value < (int64_t(1) << 40))
            value = value * 10 + (h[i++] - '0');
    }
    const int64_t sample_bytes = values[2] > 255 ? 2 : 1;
    // One whitespace byte separates the header from the samples.
    return static_cast<int64_t>(i) + 1 + values[0] * values[1] * channels * sample_bytes;
}

// Bytes an uncompressed BMP needs: its pixel offset, every row padded to four
// bytes but the last (some writers leave that padding out). -1 for other
// files and compressed bitmaps.
static int64_t bmp_needed_bytes(const uint8_t* h, size_t n) {
    if (n < 34 || h[0] != 'B' || h[1] != 'M') return -1;
    const uint32_t info_size = read_le32(h + 14);
    if (info_size < 40) return -1;  // the old core header: left to the decoder
    const uint32_t compression = read_le32(h + 30);
    if (compression != 0 && compression != 3) return -1;
    const int64_t width = static_cast<int32_t>(read_le32(h + 18));
    int64_t height = static_cast<int32_t>(read_le32(h + 22));
    const int64_t bits = static_cast<int64_t>(h[28]) | static_cast<int64_t>(h[29]) << 8;
    if (height < 0) height = -height;
    if (width <= 0 || height == 0) return -1;
    const int64_t row = (bits * width + 31) / 32 * 4;
    return static_cast<int64_t>(read_le32(h + 10)) + row * (height - 1) + (bits * width + 7) / 8;
}

static bool shorter_than_declared(const uint8_t* bytes, int length) {
    const size_t n = static_cast<size_t>(length);
    int64_t needed = pnm_needed_bytes(bytes, n);
    if (needed < 0) needed = bmp_needed_bytes(bytes, n);
    return needed > 0 && length < needed;
}

// The JPEG decoder stores each Huffman table's symbols in a 256-entry array
// without checking that the sixteen code counts stay within it, so a crafted
// table writes past it. The segments are walked here as the decoder walks
// them, and a file with such a table is refused.
static bool jpeg_tables_sound(const uint8_t* b, int length) {
    if (length < 2 || b[0] != 0xFF || b[1] != 0xD8) return true;  // not a JPEG
    int i = 2;
    while (i + 1 < length) {
        if (b[i] != 0xFF) {
            ++i;  // the decoder skips stray bytes between segments too
            continue;
        }
        const uint8_t marker = b[i + 1];
        if (marker == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        i += 2;
        if (marker == 0xD9) return true;  // end of image
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (i + 1 >= length) return true;
        const int segment = b[i] << 8 | b[i + 1];
        if (marker == 0xC4) {
            // As the decoder reads it: tables until the segment's count runs
            // out, each a class byte, sixteen counts and its symbols.
            int left = segment - 2, p = i + 2;
            while (left > 0) {
                int symbols = 0;
                for (int k = 0; k < 16; ++k) symbols += p + 1 + k < length ? b[p + 1 + k] : 0;
                if (symbols > 256) return false;
                p += 17 + symbols;
                left -= 17 + symbols;
            }
        }
        i += segment;
        if (marker == 0xDA) {
            // Entropy-coded data runs to the next marker that is not a
            // stuffed zero or a restart.
            while (i + 1 < length &&
                   !(b[i] == 0xFF && b[i + 1] != 0x00 && !(b[i + 1] >= 0xD0 && b[i + 1] <= 0xD7)))
                ++i;
        }
    }
    return true;
}

// The radiance (HDR) decoder loops forever on a run-length scanline that holds
// a zero-length literal run, and a scanline cut short reads as zeros, which
// is the same thing. Its scanlines are walked here as the decoder walks them,
// and a file it could not finish is refused.
static bool hdr_runs_sound(const uint8_t* b, int length, int width, int height) {
    if (length < 2 || b[0] != '#' || b[1] != '?') return true;  // not a radiance file
    if (width < 8 || width >= 32768) return true;  // flat pixels: the decoder always ends
    // The header ends with an empty line; the resolution line follows it.
    int i = 0;
    while (i + 1 < length && !(b[i] == '\n' && b[i + 1] == '\n')) ++i;
    i += 2;
    while (i < length && b[i] != '\n') ++i;
    ++i;
    for (int row = 0; row < height; ++row) {
        if (i + 4 > length) return false;
        if (b[i] != 2 || b[i + 1] != 2 || (b[i + 2] & 0x80)) return true;  // flat from here on
        if ((b[i + 2] << 8 | b[i + 3]) != width) return true;  // the decoder refuses it itself
        i += 4;
        for (int channel = 0; channel < 4; ++channel) {
            int filled = 0;
            while (filled < width) {
                if (i >= length) return false;
                int count = b[i++];
                if (count > 128) {
                    count -= 128;
                    ++i;  // the repeated value
                } else {
                    if (count == 0) return false;
                    i += count;
                }
                if (count > width - filled) return true;  // refused by the decoder
                filled += count;
            }
        }
    }
    return true;
}

bl_image* bl_image_load(const char* path) {
    if (!path) return nullptr;
    int length = 0;
    uint8_t* bytes = read_whole_file(path, &length);
    if (!bytes) return nullptr;

    // The declared size is read first, so that a small hostile file cannot
    // make the decoder allocate gigabytes.
    int width = 0, height = 0, components = 0;
    stbi_uc* pixels = nullptr;
    if (jpeg_tables_sound(bytes, length) &&
        stbi_info_from_memory(bytes, length, &width, &height, &components) &&
        acceptable_size(width, height) && !shorter_than_declared(bytes, length) &&
        hdr_runs_sound(bytes, length, width, height)) {
        const int declared_width = width, declared_height = height;
        pixels = stbi_load_from_memory(bytes, length, &width, &height, &components, 3);
        // The decoder reads the same header again; a disagreement would mean
        // the samples do not have the size that was checked.
        if (pixels && (width != declared_width || height != declared_height)) {
            stbi_image_free(pixels);
            pixels = nullptr;
        }
    }
    free(bytes);
    if (!pixels) return nullptr;

    bl_image* image = static_cast<bl_image*>(malloc(sizeof(bl_image)));
    if (!image) {
        stbi_image_free(pixels);
        return nullptr;
    }
    image->data = pixels;
    image->width = width;
    image->height = height;
    image->channels = 3;
    return image;
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

enum image_format { FORMAT_PNG, FORMAT_JPEG, FORMAT_BMP };

static image_format format_for_path(const char* path) {
    const char* dot = strrchr(path, '.');
    if (!dot) return FORMAT_PNG;
    if (strcasecmp(dot, ".jpg") == 0 || strcasecmp(dot, ".jpeg") == 0) return FORMAT_JPEG;
    if (strcasecmp(dot, ".bmp") == 0) return FORMAT_BMP;
    return FORMAT_PNG;
}

// An open output file that remembers whether any write failed, so that a
// full disk is reported instead of a truncated file passing as saved.
struct output_file {
    FILE* file;
    bool failed;
};

static void write_to_file(void* context, void* data, int size) {
    output_file* out = static_cast<output_file*>(context);
    if (size > 0 && fwrite(data, 1, static_cast<size_t>(size), out->file) != static_cast<size_t>(size))
        out->failed = true;
}

static int close_output(output_file* out) {
    if (fclose(out->file) != 0) out->failed = true;
    return out->failed ? -1 : 0;
}

static int save_png(const bl_image* image, const char* path) {
    // A PNG must have at least one pixel; the encoder would write one without.
    if (image->width <= 0 || image->height <= 0) return -1;
    int length = 0;
    unsigned char* png = stbi_write_png_to_mem(image->data, image->width * image->channels,
                                               image->width, image->height, image->channels,
                                               &length);
    if (!png) return -1;
    output_file out = {fopen(path, "wb"), false};
    if (!out.file) {
        free(png);
        return -1;
    }
    write_to_file(&out, png, length);
    free(png);
    return close_output(&out);
}

int bl_image_save(const bl_image* image, const char* path) {
    if (!image || !path || !readable(image)) return -1;
    // The encoders know only gray, gray and alpha, RGB and RGBA.
    if (image->channels < 1 || image->channels > 4) return -1;
    const image_format format = format_for_path(path);
    if (format == FORMAT_PNG) return save_png(image, path);

    output_file out = {fopen(path, "wb"), false};
    if (!out.file) return -1;
    int ok = 0;
    if (format == FORMAT_JPEG) {
        // A degenerate image leaves the empty file behind; so does a side
        // the format cannot record.
        if (image->data && image->width > 0 && image->height > 0 &&
            image->width <= JPEG_MAX_SIDE && image->height <= JPEG_MAX_SIDE)
            ok = stbi_write_jpg_to_func(write_to_file, &out, image->width, image->height,
                                        image->channels, image->data, 95);
    } else {
        ok = stbi_write_bmp_to_func(write_to_file, &out, image->width, image->height,
                                    image->channels, image->data);
    }
    const int closed = close_output(&out);
    return ok && closed == 0 ? 0 : -1;
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
