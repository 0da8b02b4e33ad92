#include "face/landmark_contrast.h"

#include <math.h>
#include <string.h>

#include <algorithm>

// The 8-bit Lab of this file (its own white point, constants and rounding)
// is the one the landmarker was trained on; the colorizer's float Lab in
// frame/frame_colorizer.cpp is a different conversion and stays apart.

namespace {

const float LM_DARK_MEAN = 30.0f;  // mean lightness byte below which a crop is equalised
const int CLAHE_TILES = 8;

float srgb_to_linear(float c) {
    return c <= 0.04045f ? c / 12.92f : powf((c + 0.055f) / 1.055f, 2.4f);
}

float lab_f(float t) { return t > 0.008856f ? cbrtf(t) : 7.787f * t + 0.13793103f; }

uint8_t clamp_byte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

float lab_f_inverse(float f) {
    const float cube = f * f * f;
    return cube > 0.008856f ? cube : (f - 0.13793103f) / 7.787f;
}

uint8_t linear_to_srgb_byte(float c) {
    float v;
    if (c < 0.0f)
        v = 0.0f;
    else if (c > 1.0f)
        v = 1.055f * powf(1.0f, 0.41666666f) - 0.055f;
    else if (c <= 0.0031308f)
        v = 12.92f * c;
    else
        v = 1.055f * powf(c, 0.41666666f) - 0.055f;
    return clamp_byte(static_cast<int>(v * 255.0f + 0.5f));
}

// Per byte value the linearised channel: the same function of the byte for
// every pixel, so it is computed once per crop instead of per sample.
void linear_table(float table[256]) {
    for (int v = 0; v < 256; ++v) table[v] = srgb_to_linear(static_cast<float>(v) / 255.0f);
}

void rgb_to_lab_linear(const float lin[256], const uint8_t rgb[3], uint8_t lab[3]) {
    const float r = lin[rgb[0]], g = lin[rgb[1]], b = lin[rgb[2]];
    const float x = (0.412453f * r + 0.357580f * g + 0.180423f * b) / 0.950456f;
    const float y = 0.212671f * r + 0.715160f * g + 0.072169f * b;
    const float z = (0.019334f * r + 0.119193f * g + 0.950227f * b) / 1.088754f;
    const float fx = lab_f(x), fy = lab_f(y), fz = lab_f(z);
    const float l = y > 0.008856f ? 116.0f * cbrtf(y) - 16.0f : 903.3f * y;
    lab[0] = clamp_byte(static_cast<int>(l * 255.0f / 100.0f + 0.5f));
    lab[1] = clamp_byte(static_cast<int>(500.0f * (fx - fy) + 128.0f + 0.5f));
    lab[2] = clamp_byte(static_cast<int>(200.0f * (fy - fz) + 128.0f + 0.5f));
}

// The 256-entry equalisation table of one tile.
void clahe_tile_table(const uint8_t* plane, int width, int x0, int x1, int y0, int y1,
                      int base_clip, int tile_area, uint8_t table[256]) {
    int hist[256] = {0};
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) ++hist[plane[static_cast<size_t>(y) * width + x]];
    int n = (x1 > x0 && y1 > y0) ? (x1 - x0) * (y1 - y0) : 0;
    if (n < 1) n = 1;
    int clip = n * base_clip / tile_area;
    if (clip < 1) clip = 1;
    int excess = 0;
    for (int k = 0; k < 256; ++k) {
        if (hist[k] > clip) {
            excess += hist[k] - clip;
            hist[k] = clip;
        }
    }
    for (int k = 0; k < 256; ++k) hist[k] += excess / 256;
    for (int k = 0; k < excess % 256; ++k) ++hist[k];
    const float scale = 255.0f / static_cast<float>(n);
    int sum = 0;
    for (int k = 0; k < 256; ++k) {
        sum += hist[k];
        int v = static_cast<int>(static_cast<float>(sum) * scale + 0.5f);
        table[k] = static_cast<uint8_t>(v > 255 ? 255 : v);
    }
}

// Neighbouring tile rows (or columns) of a pixel and the weight of the second.
void clahe_neighbours(int pos, int tile, int* first, int* second, float* weight) {
    const float g = static_cast<float>(pos) / static_cast<float>(tile) - 0.5f;
    *first = static_cast<int>(floorf(g));
    if (*first < 0) {
        *first = *second = 0;
        *weight = 0.0f;
        return;
    }
    *weight = g - static_cast<float>(*first);
    *second = *first + 1;
    if (*second > CLAHE_TILES - 1) *first = *second = CLAHE_TILES - 1;
}

// The equalised value of a byte between four tile tables. Not the shared
// bilinear blend of image/image_sample.h: the weights are applied in the
// other order (y before x, the last product grouped apart), which changes
// the last bit of about a quarter of the results and now and then the
// rounded byte; the landmarker's crops are made with exactly this one.
float clahe_blend(float t11, float t12, float t21, float t22, float wx, float wy) {
    return t11 * (1.0f - wy) * (1.0f - wx) + t12 * (1.0f - wy) * wx + t21 * wy * (1.0f - wx) +
           wx * (t22 * wy);
}

}  // namespace

void bl_rgb_to_lab8(const uint8_t rgb[3], uint8_t lab[3]) {
    float lin[256];
    linear_table(lin);
    rgb_to_lab_linear(lin, rgb, lab);
}

void bl_lab8_to_rgb(const uint8_t lab[3], uint8_t rgb[3]) {
    const float l = static_cast<float>(lab[0]) * 100.0f / 255.0f;
    const float fy = (l + 16.0f) / 116.0f;
    const float y = l > 8.0f ? fy * fy * fy : l / 903.3f;
    const float fx = (static_cast<float>(lab[1]) - 128.0f) / 500.0f + fy;
    const float x = lab_f_inverse(fx) * 0.950456f;
    const float fz = fy - (static_cast<float>(lab[2]) - 128.0f) / 200.0f;
    const float z = lab_f_inverse(fz) * 1.088754f;
    const float r = 3.240479f * x - 1.537150f * y - 0.498535f * z;
    const float g = -0.969256f * x + 1.875992f * y + 0.041556f * z;
    const float b = 0.055648f * x - 0.204043f * y + 1.057311f * z;
    rgb[0] = linear_to_srgb_byte(r);
    rgb[1] = linear_to_srgb_byte(g);
    rgb[2] = linear_to_srgb_byte(b);
}

int bl_clahe8(uint8_t* plane, int width, int height) {
    if (!plane || width <= 0 || height <= 0) return -1;
    const int tw = (width + CLAHE_TILES - 1) / CLAHE_TILES;
    const int th = (height + CLAHE_TILES - 1) / CLAHE_TILES;
    int base_clip = static_cast<int>(2.0 * tw * th / 256);
    if (base_clip < 1) base_clip = 1;
    bl_malloc_array<uint8_t> tables = bl_alloc_array<uint8_t>(CLAHE_TILES * CLAHE_TILES * 256);
    if (!tables) return -1;
    for (int ty = 0; ty < CLAHE_TILES; ++ty) {
        for (int tx = 0; tx < CLAHE_TILES; ++tx) {
            const int y0 = ty * th, x0 = tx * tw;
            const int y1 = std::min((ty + 1) * th, height), x1 = std::min((tx + 1) * tw, width);
            clahe_tile_table(plane, width, x0, x1, y0, y1, base_clip, tw * th,
                             tables.get() + (ty * CLAHE_TILES + tx) * 256);
        }
    }
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    bl_malloc_array<uint8_t> out = bl_alloc_array<uint8_t>(pixels);
    if (!out) return -1;
    for (int y = 0; y < height; ++y) {
        int r1, r2;
        float wy;
        clahe_neighbours(y, th, &r1, &r2, &wy);
        for (int x = 0; x < width; ++x) {
            int c1, c2;
            float wx;
            clahe_neighbours(x, tw, &c1, &c2, &wx);
            const size_t i = static_cast<size_t>(y) * width + x;
            const uint8_t v = plane[i];
            const float mapped = clahe_blend(tables[(r1 * CLAHE_TILES + c1) * 256 + v],
                                             tables[(r1 * CLAHE_TILES + c2) * 256 + v],
                                             tables[(r2 * CLAHE_TILES + c1) * 256 + v],
                                             tables[(r2 * CLAHE_TILES + c2) * 256 + v], wx, wy);
            out[i] = clamp_byte(static_cast<int>(mapped + 0.5f));
        }
    }
    memcpy(plane, out.get(), pixels);
    return 0;
}

int bl_dark_crop_contrast(bl_image* crop) {
    if (!crop || !crop->data || crop->channels < 3) return 0;
    const size_t pixels = static_cast<size_t>(crop->width) * static_cast<size_t>(crop->height);
    if (pixels == 0) return 0;
    bl_malloc_array<uint8_t> lab = bl_alloc_array<uint8_t>(3 * pixels);
    if (!lab) return -1;
    float lin[256];
    linear_table(lin);
    const int ch = crop->channels;
    uint64_t lightness = 0;
    for (size_t i = 0; i < pixels; ++i) {
        uint8_t v[3];
        rgb_to_lab_linear(lin, crop->data + i * ch, v);
        lab[i] = v[0];
        lab[pixels + i] = v[1];
        lab[2 * pixels + i] = v[2];
        lightness += v[0];
    }
    const float mean = static_cast<float>(lightness) / static_cast<float>(pixels);
    if (mean >= LM_DARK_MEAN) return 0;
    if (bl_clahe8(lab.get(), crop->width, crop->height) != 0) return -1;
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t v[3] = {lab[i], lab[pixels + i], lab[2 * pixels + i]};
        bl_lab8_to_rgb(v, crop->data + i * ch);
    }
    return 1;
}
