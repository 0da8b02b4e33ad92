#include "frame/frame_upscaler.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "image/image_blend.h"
#include "inference/model_output.h"
#include "inference/model_session.h"
#include "platform/cancel_flag.h"
#include "platform/log_sink.h"

// The log lines keep the tag "[frame_enhancer]" that hosts already read.
int bl_upscaler_open(const bl_runtime* runtime, const char* path, int scale,
                     bl_upscaler* upscaler) {
    upscaler->scale = scale;
    if (bl_model_open(runtime, path, "[frame_enhancer] Load model failed: %s\n",
                      &upscaler->model) != 0)
        return -1;
    bl_log(BRIGHTLOOM_LOG_INFO, "[frame_enhancer] Loaded: %s (scale=%d)\n", path, scale);
    return 0;
}

// ------------------------------------------------------------------ tiling
//
// The model takes 128 x 128 tiles. Tiles start every 124 pixels, and of each
// upscaled tile only the centre (2 input pixels in from every edge) is kept,
// so the kept centres meet edge to edge and the seams never show a tile's
// border. The frame sits 10 pixels into a canvas padded with its own edge
// pixels, so that even the frame's outer pixels come from a tile's centre.

namespace {

const int TILE = 128;
const int TILE_STEP = 124;
const int TILE_TRIM = 2;
const int FRAME_PAD = 8;      // edge pixels repeated around the frame before tiling
const int FRAME_OFFSET = 10;  // where the frame sits in the canvas
const int64_t MAX_CANVAS_BYTES = INT32_MAX;

const bl_run_lines FRAME_ENHANCER_RUN_LINES = {
    "[frame_enhancer] CreateTensor failed: %s\n",
    "[frame_enhancer] Run failed: %s\n",
};

using byte_buffer = bl_malloc_array<uint8_t>;
using float_buffer = bl_malloc_array<float>;

// Geometry of the padded canvas and its tiles for a w x h frame and factor s.
struct tile_grid {
    int canvas_w, canvas_h;  // W2, H2
    int tiles_x, tiles_y;
    int scale;
};

int64_t tiles_needed(int64_t size) {
    return (size + 2 * FRAME_PAD + TILE_STEP - 1) / TILE_STEP;
}

// False when the output canvas would reach 2^31 bytes: such frames are
// refused rather than sized in arithmetic that would overflow.
bool plan_grid(int w, int h, int64_t s, tile_grid* grid) {
    if (w <= 0 || h <= 0 || s <= 0) return false;
    const int64_t canvas_w = tiles_needed(w) * TILE_STEP + (TILE - TILE_STEP);
    const int64_t canvas_h = tiles_needed(h) * TILE_STEP + (TILE - TILE_STEP);
    const int64_t out_w = s * canvas_w;
    const int64_t out_h = s * canvas_h;
    if (out_w > MAX_CANVAS_BYTES || out_h > MAX_CANVAS_BYTES ||
        out_w * out_h > MAX_CANVAS_BYTES / 3)
        return false;
    grid->canvas_w = static_cast<int>(canvas_w);
    grid->canvas_h = static_cast<int>(canvas_h);
    grid->tiles_x = static_cast<int>((canvas_w - (TILE - TILE_STEP)) / TILE_STEP);
    grid->tiles_y = static_cast<int>((canvas_h - (TILE - TILE_STEP)) / TILE_STEP);
    grid->scale = static_cast<int>(s);
    return true;
}

int clamp_index(int v, int size) { return v < 0 ? 0 : (v >= size ? size - 1 : v); }

// Canvas pixel (x, y) holds frame pixel (x - 10, y - 10), clamped to the
// frame: the frame padded on every side by repeating its nearest pixel.
byte_buffer build_canvas(const bl_image* frame, const tile_grid& grid) {
    const size_t row_bytes = static_cast<size_t>(grid.canvas_w) * 3;
    byte_buffer canvas(static_cast<uint8_t*>(malloc(row_bytes * grid.canvas_h)));
    if (!canvas) return canvas;
    const int w = frame->width;
    for (int y = 0; y < grid.canvas_h; ++y) {
        const int frame_y = clamp_index(y - FRAME_OFFSET, frame->height);
        const uint8_t* src = frame->data + static_cast<size_t>(frame_y) * w * 3;
        uint8_t* dst = canvas.get() + row_bytes * y;
        for (int x = 0; x < FRAME_OFFSET; ++x) memcpy(dst + x * 3, src, 3);
        memcpy(dst + FRAME_OFFSET * 3, src, static_cast<size_t>(w) * 3);
        for (int x = FRAME_OFFSET + w; x < grid.canvas_w; ++x)
            memcpy(dst + static_cast<size_t>(x) * 3, src + static_cast<size_t>(w - 1) * 3, 3);
    }
    return canvas;
}

// Planar R, G, B tensor of one tile, value = byte / 255.
void fill_tile_tensor(const uint8_t* canvas, const tile_grid& grid, int tx, int ty, float* tensor) {
    const int plane = TILE * TILE;
    for (int y = 0; y < TILE; ++y) {
        const uint8_t* src = canvas + (static_cast<size_t>(ty * TILE_STEP + y) * grid.canvas_w +
                                       static_cast<size_t>(tx) * TILE_STEP) * 3;
        for (int x = 0; x < TILE; ++x)
            for (int c = 0; c < 3; ++c)
                tensor[c * plane + y * TILE + x] = static_cast<float>(src[x * 3 + c]) / 255.0f;
    }
}

uint8_t tile_value_to_byte(float v) {
    float u = v * 255.0f;
    // Written so that a NaN from the model becomes 0 as well.
    if (!(u >= 0.0f)) return 0;
    return static_cast<uint8_t>((u < 255.0f ? u : 255.0f) + 0.5f);
}

// Copies the kept centre of an upscaled tile (planar floats, side 128 s) into
// the output canvas as bytes. Centres never overlap, so a failed tile simply
// leaves its block at the canvas's initial black.
void stitch_tile(const float* upscaled, const tile_grid& grid, int tx, int ty, uint8_t* out) {
    const int s = grid.scale;
    const int side = TILE * s;
    const size_t plane = static_cast<size_t>(side) * side;
    const int out_w = grid.canvas_w * s;
    const int out_h = grid.canvas_h * s;
    const int first = TILE_TRIM * s;
    const int last = (TILE - TILE_TRIM) * s;  // exclusive
    const int dst_x0 = tx * TILE_STEP * s + first;
    const int dst_y0 = ty * TILE_STEP * s + first;
    for (int y = first; y < last; ++y) {
        const int dst_y = dst_y0 + (y - first);
        if (dst_y >= out_h) break;
        uint8_t* dst = out + (static_cast<size_t>(dst_y) * out_w + dst_x0) * 3;
        const size_t row = static_cast<size_t>(y) * side;
        for (int x = first; x < last && dst_x0 + (x - first) < out_w; ++x, dst += 3)
            for (int c = 0; c < 3; ++c) dst[c] = tile_value_to_byte(upscaled[c * plane + row + x]);
    }
}

// Runs one tile through the model and stitches it; false when the tile failed.
bool upscale_tile(const bl_model* model, const uint8_t* canvas, const tile_grid& grid, int tx,
                  int ty, float* tensor, uint8_t* out) {
    fill_tile_tensor(canvas, grid, tx, ty, tensor);
    static const int64_t SHAPE[4] = {1, 3, TILE, TILE};
    const size_t side = static_cast<size_t>(TILE) * grid.scale;
    bl_run_result result;
    // A model whose output is smaller than the recorded factor promises
    // fails the tile instead of being read past its end.
    const float* upscaled = bl_model_run_first_output(model, {nullptr, tensor, SHAPE, 4}, 1,
                                                      3 * side * side, &FRAME_ENHANCER_RUN_LINES, &result);
    if (!upscaled) return false;
    stitch_tile(upscaled, grid, tx, ty, out);
    return true;
}

// Result pixel (x, y) is output-canvas pixel (x + 10 s, y + 10 s).
bl_image_ptr crop_result(const uint8_t* out, const tile_grid& grid, int w, int h) {
    const int s = grid.scale;
    bl_image_ptr result(bl_image_create(w * s, h * s, 3));
    if (!result) return result;
    const size_t row_bytes = static_cast<size_t>(w) * s * 3;
    const size_t out_row = static_cast<size_t>(grid.canvas_w) * s * 3;
    for (int y = 0; y < h * s; ++y)
        memcpy(result->data + row_bytes * y,
               out + out_row * (y + FRAME_OFFSET * s) + static_cast<size_t>(FRAME_OFFSET) * s * 3,
               row_bytes);
    return result;
}

}  // namespace

bl_image* bl_upscale_frame(const bl_upscaler* upscaler, const bl_image* frame, float blend,
                           const volatile int32_t* cancel) {
    if (!upscaler || !upscaler->model.is_open() || !frame || !frame->data || frame->channels != 3)
        return nullptr;
    const int w = frame->width;
    const int h = frame->height;
    const int s = upscaler->scale;
    tile_grid grid;
    if (!plan_grid(w, h, s, &grid)) return nullptr;

    byte_buffer canvas = build_canvas(frame, grid);
    if (!canvas) return nullptr;

    const int tiles = grid.tiles_x * grid.tiles_y;
    bl_log(BRIGHTLOOM_LOG_INFO, "[frame_enhancer] Processing %d tiles (%dx%d grid)...\n", tiles, grid.tiles_x,
            grid.tiles_y);

    const size_t out_bytes = static_cast<size_t>(grid.canvas_w) * s * grid.canvas_h * s * 3;
    byte_buffer out(static_cast<uint8_t*>(calloc(out_bytes, 1)));
    float_buffer tensor(static_cast<float*>(malloc(sizeof(float) * 3 * TILE * TILE)));
    if (!out || !tensor) return nullptr;

    for (int ty = 0; ty < grid.tiles_y; ++ty) {
        for (int tx = 0; tx < grid.tiles_x; ++tx) {
            // A large frame runs for minutes; its caller may stop it between tiles.
            if (bl_cancel_requested(cancel)) return nullptr;
            if (!upscale_tile(&upscaler->model, canvas.get(), grid, tx, ty, tensor.get(),
                              out.get()))
                bl_log(BRIGHTLOOM_LOG_WARNING, "[frame_enhancer] Tile %d/%d failed\n", ty * grid.tiles_x + tx + 1,
                        tiles);
        }
    }
    // Each buffer goes as soon as it is used up, so that the large ones are
    // never all held at once.
    canvas.reset();
    tensor.reset();

    bl_image_ptr result = crop_result(out.get(), grid, w, h);
    out.reset();
    if (!result) return nullptr;

    if (blend < 100.0f) {
        bl_image_ptr resized(bl_image_resize(frame, w * s, h * s));
        if (resized)
            bl_blend_bytes(result->data, resized->data, static_cast<size_t>(w) * s * h * s * 3,
                           blend / 100.0f);
    }
    bl_log(BRIGHTLOOM_LOG_INFO, "[frame_enhancer] Done: %dx%d → %dx%d (%dx)\n", w, h, w * s, h * s, s);
    return result.release();
}
