#include "image/image_io.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "brightloom.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_THREAD_LOCALS
#include <stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>

// Byte count of an image, or -1 when a size is negative or the count does not
// fit the 32-bit sizes the image record and the encoders work with.
static int64_t image_bytes(int32_t width, int32_t height, int32_t channels) {
    if (width < 0 || height < 0 || channels < 0) return -1;
    int64_t bytes = static_cast<int64_t>(width) * height * channels;
    return bytes > INT32_MAX ? -1 : bytes;
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

bl_image* bl_image_load(const char* path) {
    if (!path) return nullptr;
    FILE* file = fopen(path, "rb");
    if (!file) return nullptr;

    // The declared size is read first, so that a small hostile file cannot
    // make the decoder allocate gigabytes.
    int width = 0, height = 0, components = 0;
    if (!stbi_info_from_file(file, &width, &height, &components) || width <= 0 || height <= 0 ||
        static_cast<int64_t>(width) * height > BRIGHTLOOM_MAX_IMAGE_PIXELS ||
        image_bytes(width, height, 3) < 0) {
        fclose(file);
        return nullptr;
    }
    stbi_uc* pixels = stbi_load_from_file(file, &width, &height, &components, 3);
    fclose(file);
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
    if (!image) return nullptr;
    bl_image* copy = new_image(image->width, image->height, image->channels, false);
    if (!copy) return nullptr;
    memcpy(copy->data, image->data,
           static_cast<size_t>(image_bytes(image->width, image->height, image->channels)));
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

static void write_to_file(void* context, void* data, int size) {
    fwrite(data, 1, static_cast<size_t>(size), static_cast<FILE*>(context));
}

int bl_image_save(const bl_image* image, const char* path) {
    if (!image || !path) return -1;
    image_format format = format_for_path(path);
    if (format == FORMAT_PNG) {
        int length = 0;
        unsigned char* png = stbi_write_png_to_mem(image->data, image->width * image->channels,
                                                   image->width, image->height, image->channels,
                                                   &length);
        if (!png) return -1;
        FILE* file = fopen(path, "wb");
        if (!file) {
            STBIW_FREE(png);
            return -1;
        }
        fwrite(png, 1, static_cast<size_t>(length), file);
        fclose(file);
        STBIW_FREE(png);
        return 0;
    }

    FILE* file = fopen(path, "wb");
    if (!file) return -1;
    int ok = 0;
    if (format == FORMAT_JPEG) {
        if (image->data && image->width > 0 && image->height > 0 && image->channels >= 1 &&
            image->channels <= 4)
            ok = stbi_write_jpg_to_func(write_to_file, file, image->width, image->height,
                                        image->channels, image->data, 95);
    } else {
        ok = stbi_write_bmp_to_func(write_to_file, file, image->width, image->height,
                                    image->channels, image->data);
    }
    fclose(file);
    return ok ? 0 : -1;
}

bl_image* bl_image_resize(const bl_image* image, int32_t width, int32_t height) {
    if (!image) return nullptr;
    bl_image* result = new_image(width, height, image->channels, true);
    if (!result) return nullptr;
    // Default filters: Mitchell when shrinking, Catmull-Rom when enlarging;
    // edges clamped, no colour-space conversion. A refused job leaves zeros.
    stbir_resize_uint8(image->data, image->width, image->height, image->width * image->channels,
                       result->data, width, height, width * image->channels, image->channels);
    return result;
}

float* bl_image_to_chw(const bl_image* image, int scale_to_unit, const float* mean,
                       const float* std) {
    if (!image) return nullptr;
    int64_t count = image_bytes(image->width, image->height, image->channels);
    if (count < 0) return nullptr;
    float* out = static_cast<float*>(malloc(static_cast<size_t>(count > 0 ? count : 1) * sizeof(float)));
    if (!out) return nullptr;
    const int plane = image->width * image->height;
    const int channels = image->channels;
    for (int c = 0; c < channels; ++c) {
        const float m = mean ? mean[c] : 0.0f;
        const float s = std ? std[c] : 1.0f;
        float* dst = out + static_cast<size_t>(c) * plane;
        const uint8_t* src = image->data + c;
        for (int i = 0; i < plane; ++i) {
            float v = static_cast<float>(src[static_cast<size_t>(i) * channels]);
            if (scale_to_unit) v = v / 255.0f;
            dst[i] = (v - m) / s;
        }
    }
    return out;
}

void bl_image_swap_rb(bl_image* image) {
    if (!image || image->channels <= 2 || image->width <= 0 || image->height <= 0) return;
    const size_t pixels = static_cast<size_t>(image->width) * image->height;
    uint8_t* p = image->data;
    for (size_t i = 0; i < pixels; ++i, p += image->channels) {
        uint8_t t = p[0];
        p[0] = p[2];
        p[2] = t;
    }
}
