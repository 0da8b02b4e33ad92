#include "frame/frame_colorizer.h"

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <array>
#include <memory>
#include <vector>

#include "image/image_blend.h"
#include "image/image_sample.h"
#include "inference/model_output.h"
#include "inference/model_session.h"
#include "platform/log_sink.h"

int bl_colorizer_open(const bl_runtime* runtime, const char* path, bl_model* colorizer) {
    return bl_model_open_announced(runtime, path, "[colorizer] Load model failed: %s\n",
                                   "[colorizer] Loaded: %s\n", colorizer);
}

// ------------------------------------------------------- colour conversions
//
// sRGB with the D65 white point. Every step is single precision and keeps
// the order of the textbook formulas, so results are reproducible bit for bit.

static float srgb_to_linear(float c) {
    return c > 0.04045f ? powf((c + 0.055f) / 1.055f, 2.4f) : c / 12.92f;
}

static float linear_to_srgb(float v) {
    return v > 0.0031308f ? 1.055f * powf(v, 0.41666666f) - 0.055f : 12.92f * v;
}

static float lab_f(float t) { return t > 0.008856f ? cbrtf(t) : 7.787f * t + 0.13793103f; }

static float lab_f_inverse(float t) {
    return t > 0.206893f ? t * t * t : (t - 0.13793103f) / 7.787f;
}

static float clamp_unit(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

static float luminance(float rl, float gl, float bl) {
    return 0.2126729f * rl + 0.7151522f * gl + 0.072175f * bl;
}

static float lightness(float fy) { return 116.0f * fy - 16.0f; }

void rgb_to_lab(float r, float g, float b, float* L, float* a, float* b_out) {
    const float rl = srgb_to_linear(r);
    const float gl = srgb_to_linear(g);
    const float bl = srgb_to_linear(b);
    const float X = (0.4124564f * rl + 0.3575761f * gl + 0.1804375f * bl) / 0.95047f;
    const float Y = luminance(rl, gl, bl);
    const float Z = (0.0193339f * rl + 0.119192f * gl + 0.9503041f * bl) / 1.08883f;
    const float fx = lab_f(X);
    const float fy = lab_f(Y);
    const float fz = lab_f(Z);
    *L = lightness(fy);
    *a = 500.0f * (fx - fy);
    *b_out = 200.0f * (fy - fz);
}

// Linearised value of every byte / 255, computed once: the very results of
// srgb_to_linear, without three powers per pixel.
static const float* linear_of_byte(void) {
    static const std::array<float, 256> TABLE = [] {
        std::array<float, 256> table{};
        for (int v = 0; v < 256; ++v) table[v] = srgb_to_linear(static_cast<float>(v) / 255.0f);
        return table;
    }();
    return TABLE.data();
}

// The L* that rgb_to_lab gives a pixel's bytes, bit for bit, without the
// a* and b* the colorizer replaces anyway.
static float pixel_lightness(const uint8_t* pixel) {
    const float* linear = linear_of_byte();
    return lightness(lab_f(luminance(linear[pixel[0]], linear[pixel[1]], linear[pixel[2]])));
}

void bl_lab_to_rgb(float L, float a, float b, float* r, float* g, float* b_out) {
    const float fy = (L + 16.0f) / 116.0f;
    const float fx = fy + a / 500.0f;
    const float fz = fy - b / 200.0f;
    const float X = 0.95047f * lab_f_inverse(fx);
    const float Y = lab_f_inverse(fy);
    const float Z = 1.08883f * lab_f_inverse(fz);
    const float R = 3.2404542f * X - 1.5371385f * Y - 0.4985314f * Z;
    const float G = -0.969266f * X + 1.8760108f * Y + 0.041556f * Z;
    const float B = 0.0556434f * X - 0.2040259f * Y + 1.0572252f * Z;
    *r = linear_to_srgb(clamp_unit(R));
    *g = linear_to_srgb(clamp_unit(G));
    *b_out = linear_to_srgb(clamp_unit(B));
}

// ---------------------------------------------------------------- colorizer

namespace {

const int MODEL_SIZE = 512;
const size_t MODEL_PLANE = static_cast<size_t>(MODEL_SIZE) * MODEL_SIZE;

const bl_run_lines COLORIZER_RUN_LINES = {
    "[colorizer] CreateTensor failed: %s\n",
    "[colorizer] Run failed: %s\n",
};

using float_buffer = bl_malloc_array<float>;

// One bilinear sample position along an axis: the two neighbours and the
// weight of the second. The blend itself is the shared bl_bilinear; the axis
// steps are the colorizer's own (no half-pixel offset, unlike the mask resize).
struct axis_sample {
    int i0, i1;
    float f;
};

// Model pixel i of an axis of the frame (size n), without half-pixel offset:
// s = i x n x (1/512).
axis_sample model_axis_sample(int i, int n) {
    const float s = static_cast<float>(i) * static_cast<float>(n) * (1.0f / 512.0f);
    int i0 = static_cast<int>(s);
    // Sizes beyond 2^24 round in single precision; stay inside the frame.
    if (i0 > n - 1) i0 = n - 1;
    const int i1 = i0 + 1 < n ? i0 + 1 : i0;
    return {i0, i1, s - static_cast<float>(i0)};
}

// Frame pixel i of an axis of size n in model coordinates: s = i x 512 / n.
axis_sample frame_axis_sample(int i, int n) {
    const float s = static_cast<float>(i) * 512.0f / static_cast<float>(n);
    int i0 = static_cast<int>(s);
    if (i0 > MODEL_SIZE - 1) i0 = MODEL_SIZE - 1;
    const int i1 = i0 <= MODEL_SIZE - 2 ? i0 + 1 : i0;
    return {i0, i1, s - static_cast<float>(i0)};
}

// The grey the model is shown for one pixel: the 0.299 / 0.587 / 0.114 luma
// taken as a grey sRGB colour, reduced to its lightness and converted back.
void grey_rendering(const uint8_t* pixel, float out[3]) {
    const float y = static_cast<float>(pixel[0]) / 255.0f * 0.299f +
                    static_cast<float>(pixel[1]) / 255.0f * 0.587f +
                    static_cast<float>(pixel[2]) / 255.0f * 0.114f;
    float L, a, b;
    rgb_to_lab(y, y, y, &L, &a, &b);
    bl_lab_to_rgb(L, 0.0f, 0.0f, &out[0], &out[1], &out[2]);
}

// The grey rendering resized to 512 x 512, planar R, G, B. Only the frame
// pixels that the sampling touches are rendered (at most 1024 rows and 1024
// columns), so a large frame costs no frame-sized float buffer.
float_buffer build_model_input(const bl_image* frame) {
    const int w = frame->width;
    const int h = frame->height;
    std::vector<axis_sample> rows(MODEL_SIZE), cols(MODEL_SIZE);
    std::vector<int> row_slot(h, -1), col_slot(w, -1);
    std::vector<int> used_rows, used_cols;
    for (int i = 0; i < MODEL_SIZE; ++i) {
        rows[i] = model_axis_sample(i, h);
        cols[i] = model_axis_sample(i, w);
        for (int r : {rows[i].i0, rows[i].i1})
            if (row_slot[r] < 0) {
                row_slot[r] = static_cast<int>(used_rows.size());
                used_rows.push_back(r);
            }
        for (int c : {cols[i].i0, cols[i].i1})
            if (col_slot[c] < 0) {
                col_slot[c] = static_cast<int>(used_cols.size());
                used_cols.push_back(c);
            }
    }

    const size_t grid_w = used_cols.size();
    std::vector<float> grid(used_rows.size() * grid_w * 3);
    for (size_t r = 0; r < used_rows.size(); ++r)
        for (size_t c = 0; c < grid_w; ++c)
            grey_rendering(frame->data + (static_cast<size_t>(used_rows[r]) * w + used_cols[c]) * 3,
                           &grid[(r * grid_w + c) * 3]);

    float_buffer input(static_cast<float*>(malloc(sizeof(float) * 3 * MODEL_PLANE)));
    if (!input) return input;
    for (int i = 0; i < MODEL_SIZE; ++i) {
        const axis_sample& sy = rows[i];
        const float* row0 = &grid[static_cast<size_t>(row_slot[sy.i0]) * grid_w * 3];
        const float* row1 = &grid[static_cast<size_t>(row_slot[sy.i1]) * grid_w * 3];
        for (int j = 0; j < MODEL_SIZE; ++j) {
            const axis_sample& sx = cols[j];
            const size_t c0 = static_cast<size_t>(col_slot[sx.i0]) * 3;
            const size_t c1 = static_cast<size_t>(col_slot[sx.i1]) * 3;
            for (int c = 0; c < 3; ++c)
                input[c * MODEL_PLANE + static_cast<size_t>(i) * MODEL_SIZE + j] =
                    bl_bilinear(row0[c0 + c], row0[c1 + c], row1[c0 + c], row1[c1 + c], sx.f, sy.f);
        }
    }
    return input;
}

uint8_t unit_to_byte(float v) {
    const float u = v * 255.0f + 0.5f;
    return static_cast<uint8_t>(u > 0.0f ? (u < 255.0f ? u : 255.0f) : 0.0f);
}

// Every frame pixel keeps its own L* and takes a* and b* from the model's
// chroma, resized bilinearly to the frame.
bl_image* combine_chroma(const bl_image* frame, const float* chroma) {
    const int w = frame->width;
    const int h = frame->height;
    bl_image* result = bl_image_create(w, h, 3);
    if (!result) return nullptr;
    std::vector<axis_sample> cols(w);
    for (int x = 0; x < w; ++x) cols[x] = frame_axis_sample(x, w);
    const float* a_plane = chroma;
    const float* b_plane = chroma + MODEL_PLANE;
    for (int y = 0; y < h; ++y) {
        const axis_sample sy = frame_axis_sample(y, h);
        const size_t r0 = static_cast<size_t>(sy.i0) * MODEL_SIZE;
        const size_t r1 = static_cast<size_t>(sy.i1) * MODEL_SIZE;
        const uint8_t* src = frame->data + static_cast<size_t>(y) * w * 3;
        uint8_t* dst = result->data + static_cast<size_t>(y) * w * 3;
        for (int x = 0; x < w; ++x, src += 3, dst += 3) {
            const axis_sample& sx = cols[x];
            const float a = bl_bilinear(a_plane[r0 + sx.i0], a_plane[r0 + sx.i1],
                                        a_plane[r1 + sx.i0], a_plane[r1 + sx.i1], sx.f, sy.f);
            const float b = bl_bilinear(b_plane[r0 + sx.i0], b_plane[r0 + sx.i1],
                                        b_plane[r1 + sx.i0], b_plane[r1 + sx.i1], sx.f, sy.f);
            float rgb[3];
            bl_lab_to_rgb(pixel_lightness(src), a, b, &rgb[0], &rgb[1], &rgb[2]);
            for (int c = 0; c < 3; ++c) dst[c] = unit_to_byte(rgb[c]);
        }
    }
    return result;
}

}  // namespace

bl_image* bl_colorize_frame(const bl_model* colorizer, const bl_image* frame, float blend) {
    if (!colorizer || !colorizer->is_open() || !frame || !frame->data || frame->channels != 3 || frame->width <= 0 ||
        frame->height <= 0)
        return nullptr;

    float_buffer input = build_model_input(frame);
    if (!input) return nullptr;

    static const int64_t SHAPE[4] = {1, 3, MODEL_SIZE, MODEL_SIZE};
    bl_run_result run;
    // A short output fails the colorization instead of being read past its end.
    const float* chroma = bl_model_run_first_output(colorizer, {nullptr, input.get(), SHAPE, 4}, 1,
                                                    2 * MODEL_PLANE, &COLORIZER_RUN_LINES, &run);
    if (!chroma) return nullptr;

    bl_image* result = combine_chroma(frame, chroma);
    if (result && blend < 100.0f)
        bl_blend_bytes(result->data, frame->data,
                       static_cast<size_t>(frame->width) * frame->height * 3, blend / 100.0f);
    return result;
}
