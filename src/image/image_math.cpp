#include "image/image_math.h"

#include <math.h>
#include <string.h>

#include <algorithm>

#include "image/image_io.h"

// ------------------------------------------------------------ detection math

int bl_create_anchors(int stride, int anchors_per_cell, int rows, int cols, float* output) {
    if (rows <= 0 || cols <= 0 || anchors_per_cell <= 0 || !output) return 0;
    float* out = output;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            // The cell's top-left corner: the detectors were trained without a
            // half-stride offset.
            const float ax = static_cast<float>(c * stride);
            const float ay = static_cast<float>(r * stride);
            for (int k = 0; k < anchors_per_cell; ++k) {
                *out++ = ax;
                *out++ = ay;
            }
        }
    }
    return rows * cols * anchors_per_cell;
}

// Values placed around each anchor: value k is anchor x (k even) or y (k
// odd) moved by offset k times the stride, in the direction signs[k] gives.
// A negation is exact, so a minus sign subtracts to the bit.
static void decode_around_anchors(const float* anchors, const float* offsets, int count,
                                  float stride, int per_anchor, const float* signs, float* out) {
    for (int i = 0; i < count; ++i) {
        const float* anchor = anchors + 2 * static_cast<size_t>(i);
        const float* o = offsets + per_anchor * static_cast<size_t>(i);
        float* values = out + per_anchor * static_cast<size_t>(i);
        for (int k = 0; k < per_anchor; ++k) values[k] = anchor[k % 2] + signs[k] * (o[k] * stride);
    }
}

void bl_decode_boxes(const float* anchors, const float* distances, int count, float stride,
                     float* boxes) {
    // Left and top lie before the anchor, right and bottom after it.
    static const float SIGNS[4] = {-1.0f, -1.0f, 1.0f, 1.0f};
    decode_around_anchors(anchors, distances, count, stride, 4, SIGNS, boxes);
}

void bl_decode_landmarks(const float* anchors, const float* offsets, int count, float stride,
                         float* landmarks) {
    static const float SIGNS[10] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
    decode_around_anchors(anchors, offsets, count, stride, 10, SIGNS, landmarks);
}

// Intersection over union with the inclusive-pixel convention (+1 on every
// extent). fmaxf/fminf return the other operand when one is NaN.
float bl_box_iou(const float* kept, const float* cand) {
    const float ix1 = fmaxf(cand[0], kept[0]);
    const float iy1 = fmaxf(cand[1], kept[1]);
    const float ix2 = fminf(cand[2], kept[2]);
    const float iy2 = fminf(cand[3], kept[3]);
    const float iw = fmaxf(ix2 - ix1 + 1.0f, 0.0f);
    const float ih = fmaxf(iy2 - iy1 + 1.0f, 0.0f);
    const float inter = iw * ih;
    const float area_kept = (kept[2] - kept[0] + 1.0f) * (kept[3] - kept[1] + 1.0f);
    const float area_cand = (cand[2] - cand[0] + 1.0f) * (cand[3] - cand[1] + 1.0f);
    return inter / (area_kept + area_cand - inter);
}

float bl_vec_norm(const float* v, int length) {
    if (length <= 0) return 0.0f;
    float sum = 0.0f;
    for (int i = 0; i < length; ++i) sum += v[i] * v[i];
    return sqrtf(sum);
}

void bl_vec_normalize(float* v, int length) {
    if (length < 1) return;
    const float norm = bl_vec_norm(v, length);
    // Also leaves a NaN norm alone.
    if (!(norm > 1e-10f)) return;
    for (int i = 0; i < length; ++i) v[i] /= norm;
}

bool bl_all_finite(const float* v, int n) {
    for (int i = 0; i < n; ++i)
        if (!isfinite(v[i])) return false;
    return true;
}

void bl_clamp_unit(float* values, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (values[i] < 0.0f) values[i] = 0.0f;
        if (values[i] > 1.0f) values[i] = 1.0f;
    }
}

// ------------------------------------------------------------- mask building

static const int BLUR_MAX_KERNEL = 255;

static int blur_kernel_size(float sigma) {
    const float span = 6.0f * sigma;
    // Held below the cap before conversion, so a huge sigma cannot overflow.
    int k = span >= 1024.0f ? 1024 : static_cast<int>(span);
    k |= 1;
    return std::max(std::min(k, BLUR_MAX_KERNEL), 3);
}

// out[x] += w * src[x] along a row. Written in independent blocks of eight
// so the compiler can issue them as vector multiplies and adds; each value
// still gets exactly one multiply and one add, as in the scalar sum.
static void add_weighted_row(float* __restrict out, const float* __restrict src, float w,
                             int width) {
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        float* o = out + x;
        const float* s = src + x;
        o[0] += w * s[0];
        o[1] += w * s[1];
        o[2] += w * s[2];
        o[3] += w * s[3];
        o[4] += w * s[4];
        o[5] += w * s[5];
        o[6] += w * s[6];
        o[7] += w * s[7];
    }
    for (; x < width; ++x) out[x] += w * src[x];
}

// One row of the horizontal pass: src is the row with r copies of its edge
// values on either side, so every tap reads a plain index. Summed per value
// from the leftmost tap to the rightmost.
static void blur_row(const float* padded, const float* kernel, int k, int width, float* out) {
    for (int x = 0; x < width; ++x) out[x] = 0.0f;
    for (int t = 0; t < k; ++t) add_weighted_row(out, padded + t, kernel[t], width);
}

int bl_gaussian_blur_f32(float* map, int width, int height, float sigma) {
    if (!(sigma > 0.0f) || !map || width <= 0 || height <= 0) return 0;
    const int k = blur_kernel_size(sigma);
    const int r = k / 2;
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);

    // One block: the kernel, the scratch map and one edge-padded row.
    const size_t padded_width = static_cast<size_t>(width) + 2 * static_cast<size_t>(r);
    bl_malloc_array<float> block = bl_alloc_array<float>(k + pixels + padded_width);
    if (!block) return -1;
    float* kernel = block.get();
    float* scratch = kernel + k;
    float* padded = scratch + pixels;

    const float d = (sigma + sigma) * sigma;
    float sum = 0.0f;
    for (int i = -r; i <= r; ++i) {
        kernel[i + r] = expf(static_cast<float>(-(i * i)) / d);
        sum += kernel[i + r];
    }
    for (int t = 0; t < k; ++t) kernel[t] /= sum;

    // Horizontal pass into the scratch map, the edge value repeated.
    for (int y = 0; y < height; ++y) {
        const float* row = map + static_cast<size_t>(y) * width;
        for (int i = 0; i < r; ++i) padded[i] = row[0];
        memcpy(padded + r, row, sizeof(float) * static_cast<size_t>(width));
        for (int i = 0; i < r; ++i) padded[r + width + i] = row[width - 1];
        blur_row(padded, kernel, k, width, scratch + static_cast<size_t>(y) * width);
    }

    // Vertical pass back into the map, a whole row of sums at a time so the
    // inner loop runs along contiguous memory; each sum still runs from the
    // top tap to the bottom one.
    for (int y = 0; y < height; ++y) {
        float* out = map + static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x) out[x] = 0.0f;
        for (int t = 0; t < k; ++t) {
            const int sy = std::min(std::max(y + t - r, 0), height - 1);
            add_weighted_row(out, scratch + static_cast<size_t>(sy) * width, kernel[t], width);
        }
    }
    return 0;
}

// Truncated percentage of a size, raised to at least `floor_value`.
static int band_width(int size, int32_t percent, int floor_value) {
    const int64_t band = static_cast<int64_t>(size) * percent / 100;
    return static_cast<int>(std::min<int64_t>(std::max<int64_t>(band, floor_value), size));
}

static void fill(float* dst, size_t count, float value) {
    for (size_t i = 0; i < count; ++i) dst[i] = value;
}

int bl_create_box_mask(int width, int height, float blur, const int32_t padding[4],
                       float* mask) {
    if (!mask || width <= 0 || height <= 0) return 0;
    static const int32_t NO_PADDING[4] = {0, 0, 0, 0};
    if (!padding) padding = NO_PADDING;

    // Blur amount in pixels; a negative or NaN blur means none, and a huge
    // one is held where it already covers the whole mask.
    const float amount = static_cast<float>(width) * 0.5f * blur;
    const int a = !(amount >= 1.0f) ? 0 : amount >= 1e9f ? 1000000000 : static_cast<int>(amount);
    const int b = a >= 2 ? a >> 1 : 1;

    const int top = band_width(height, padding[0], b);
    const int right = band_width(width, padding[1], b);
    const int bottom = band_width(height, padding[2], b);
    const int left = band_width(width, padding[3], b);

    const size_t w = static_cast<size_t>(width);
    const int inner_end_y = height - bottom, inner_end_x = width - right;
    for (int y = 0; y < height; ++y) {
        float* row = mask + static_cast<size_t>(y) * w;
        if (y < top || y >= inner_end_y || left >= inner_end_x) {
            fill(row, w, 0.0f);
            continue;
        }
        fill(row, static_cast<size_t>(left), 0.0f);
        fill(row + left, static_cast<size_t>(inner_end_x - left), 1.0f);
        fill(row + inner_end_x, static_cast<size_t>(right), 0.0f);
    }
    return a > 0 ? bl_gaussian_blur_f32(mask, width, height, static_cast<float>(a) * 0.25f) : 0;
}
