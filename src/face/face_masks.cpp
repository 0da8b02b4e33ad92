#include "face/face_masks.h"

#include <stdio.h>
#include <string.h>

#include <cmath>

#include "image/image_math.h"
#include "image/image_sample.h"
#include "inference/model_output.h"
#include "inference/model_session.h"
#include "platform/log_sink.h"

int bl_occluder_open(const bl_runtime* runtime, const char* path, bl_model* occluder) {
    return bl_model_open_announced(runtime, path, "[face_occluder] Load model failed: %s\n",
                                   "[face_occluder] Loaded: %s\n", occluder);
}

int bl_parser_open(const bl_runtime* runtime, const char* path, bl_model* parser) {
    return bl_model_open_announced(runtime, path, "[face_parser] Load model failed: %s\n",
                                   "[face_parser] Loaded: %s\n", parser);
}

namespace {

const int OCCLUDER_MAX_SIDE = 4096;
const int PARSER_SIZE = 512;
const int64_t PARSER_DEFAULT_CLASSES = 19;
const float MASK_FINISH_SIGMA = 5.0f;

// Classes of the face parser that belong to the face: skin, brows, eyes,
// nose and mouth; hair, ears, neck, clothes and background do not.
bool is_face_class(int64_t c) {
    return (c >= 1 && c <= 6) || (c >= 10 && c <= 13);
}

// Height and width of the occluder's declared input (1 x H x W x 3). A model
// that does not declare a fixed four-dimensional input of sensible size is
// refused, rather than allocating from unknown (negative) sizes.
int occluder_input_size(const bl_model* occluder, int* width, int* height) {
    int64_t dims[4] = {0, 0, 0, 0};
    if (bl_model_input_shape(occluder, 0, dims, 4) != 4) return -1;
    if (dims[1] < 1 || dims[1] > OCCLUDER_MAX_SIDE || dims[2] < 1 || dims[2] > OCCLUDER_MAX_SIDE)
        return -1;
    *height = static_cast<int>(dims[1]);
    *width = static_cast<int>(dims[2]);
    return 0;
}

// Brings a model's map to the crop's size and makes its edge fall off inside
// the kept region: clamp, blur, then everything the blur rates below one
// half is dropped and the upper half stretched to the full range. 0, or -1
// without memory for the blur.
int finish_mask(const float* map, int map_width, int map_height, float* mask, int width,
                 int height) {
    bl_mask_resize_bilinear(map, map_width, map_height, mask, width, height);
    const size_t count = static_cast<size_t>(width) * height;
    bl_clamp_unit(mask, count);
    if (bl_gaussian_blur_f32(mask, width, height, MASK_FINISH_SIGMA) != 0) return -1;
    for (size_t i = 0; i < count; ++i) {
        float v = mask[i];
        mask[i] = v < 0.5f ? 0.0f : ((v < 1.0f ? v : 1.0f) - 0.5f) * 2.0f;
    }
    return 0;
}

// 1 where the parser's best class is a face class, else 0. A tie keeps the
// lower class; with one class or none nothing is face. Works a row at a
// time so that every class plane is read front to back.
void region_map(const float* scores, int64_t classes, float* map) {
    const size_t plane = static_cast<size_t>(PARSER_SIZE) * PARSER_SIZE;
    if (classes <= 1) {
        for (size_t p = 0; p < plane; ++p) map[p] = 0.0f;
        return;
    }
    float best_score[PARSER_SIZE];
    int32_t best_class[PARSER_SIZE];
    for (size_t row = 0; row < plane; row += PARSER_SIZE) {
        for (int x = 0; x < PARSER_SIZE; ++x) {
            best_score[x] = scores[row + x];
            best_class[x] = 0;
        }
        for (int64_t c = 1; c < classes; ++c) {
            const float* class_row = scores + static_cast<size_t>(c) * plane + row;
            for (int x = 0; x < PARSER_SIZE; ++x)
                if (class_row[x] > best_score[x]) {
                    best_score[x] = class_row[x];
                    best_class[x] = static_cast<int32_t>(c);
                }
        }
        for (int x = 0; x < PARSER_SIZE; ++x)
            map[row + x] = is_face_class(best_class[x]) ? 1.0f : 0.0f;
    }
}

bool usable_crop(const bl_image* crop) {
    return crop && crop->data && crop->channels == 3 && crop->width > 0 && crop->height > 0;
}

// The occluder's input: the crop resized to its declared size, interleaved
// R, G, B scaled to 0 ... 1. None on failure.
bl_malloc_array<float> occluder_input(const bl_image* crop, int width, int height) {
    bl_image_ptr resized(bl_image_resize(crop, width, height));
    if (!resized) return nullptr;
    const size_t samples = static_cast<size_t>(width) * height * 3;
    bl_malloc_array<float> input = bl_alloc_array<float>(samples);
    if (!input) return nullptr;
    for (size_t i = 0; i < samples; ++i) input[i] = resized->data[i] / 255.0f;
    return input;
}

// The parser's input: the crop resized to 512 x 512 and mirrored left to
// right, planes R, G, B scaled to -1 ... 1. None on failure.
bl_malloc_array<float> parser_input(const bl_image* crop) {
    bl_image_ptr resized(bl_image_resize(crop, PARSER_SIZE, PARSER_SIZE));
    if (!resized) return nullptr;
    const size_t plane = static_cast<size_t>(PARSER_SIZE) * PARSER_SIZE;
    bl_malloc_array<float> input = bl_alloc_array<float>(plane * 3);
    if (!input) return nullptr;
    float* planes[3] = {input.get(), input.get() + plane, input.get() + 2 * plane};
    for (int y = 0; y < PARSER_SIZE; ++y) {
        const uint8_t* row = resized->data + static_cast<size_t>(y) * PARSER_SIZE * 3;
        const size_t out_row = static_cast<size_t>(y) * PARSER_SIZE;
        for (int x = 0; x < PARSER_SIZE; ++x) {
            const uint8_t* pixel = row + static_cast<size_t>(PARSER_SIZE - 1 - x) * 3;
            for (int c = 0; c < 3; ++c) planes[c][out_row + x] = pixel[c] / 127.5f - 1.0f;
        }
    }
    return input;
}

}  // namespace

int bl_create_occlusion_mask(const bl_model* occluder, const bl_image* crop, float* mask) {
    if (!occluder || !occluder->is_open() || !usable_crop(crop) || !mask) return -1;
    int width = 0, height = 0;
    if (occluder_input_size(occluder, &width, &height) != 0) return -1;
    bl_malloc_array<float> input = occluder_input(crop, width, height);
    if (!input) return -1;

    const int64_t shape[4] = {1, height, width, 3};
    static const bl_run_lines LINES = {nullptr, "[face_occluder] Run failed: %s\n",
                                       "[face_occluder] Output too short: %zu values, expected %zu\n"};
    const size_t pixels = static_cast<size_t>(width) * height;
    bl_run_result result;
    const float* output = bl_model_run_first_output(occluder, {nullptr, input.get(), shape, 4}, 1,
                                                    pixels, &LINES, &result);
    if (!output) return -1;

    bl_malloc_array<float> map = bl_alloc_array<float>(pixels);
    if (!map) return -1;
    memcpy(map.get(), output, pixels * sizeof(float));
    bl_clamp_unit(map.get(), pixels);
    return finish_mask(map.get(), width, height, mask, crop->width, crop->height);
}

int bl_create_region_mask(const bl_model* parser, const bl_image* crop, float* mask) {
    if (!parser || !parser->is_open() || !usable_crop(crop) || !mask) return -1;
    bl_malloc_array<float> input = parser_input(crop);
    if (!input) return -1;

    const int64_t shape[4] = {1, 3, PARSER_SIZE, PARSER_SIZE};
    static const bl_run_lines LINES = {nullptr, "[face_parser] Run failed: %s\n"};
    const size_t plane = static_cast<size_t>(PARSER_SIZE) * PARSER_SIZE;
    bl_run_result result;
    size_t count = 0;
    // How many values the scores need depends on the classes the output
    // declares, which only the run tells.
    const float* scores = bl_model_run_first_output(parser, {nullptr, input.get(), shape, 4}, 1, 0,
                                                    &LINES, &result, &count);
    if (!scores) return -1;
    int64_t dims[8] = {0};
    const int64_t classes = result.shape(0, dims, 8) > 1 ? dims[1] : PARSER_DEFAULT_CLASSES;
    if (classes > 1 && count / plane < static_cast<size_t>(classes)) {
        bl_log(BRIGHTLOOM_LOG_ERROR, "[face_parser] Output too short: %zu values for %lld classes\n", count,
                static_cast<long long>(classes));
        return -1;
    }

    bl_malloc_array<float> map = bl_alloc_array<float>(plane);
    if (!map) return -1;
    region_map(scores, classes, map.get());
    return finish_mask(map.get(), PARSER_SIZE, PARSER_SIZE, mask, crop->width, crop->height);
}

namespace {

// Neighbours and weight of the second along an axis for output pixel i,
// sampling at pixel centres: s = (i + 0.5) * src / dst - 0.5, held inside
// the source. (The colorizer's resizes sample without the half-pixel
// offset, the warp clamps differently: each keeps its own axis step.)
void centre_axis_sample(int i, int src_size, int dst_size, int* i0, int* i1, float* f) {
    const float s = (static_cast<float>(i) + 0.5f) * static_cast<float>(src_size) /
                        static_cast<float>(dst_size) - 0.5f;
    *i0 = static_cast<int>(floorf(s));
    *i1 = 0;
    *f = 0.0f;
    if (*i0 < 0) {
        *i0 = 0;
        return;
    }
    *f = s - static_cast<float>(*i0);
    *i1 = *i0 + 1;
    if (*i1 >= src_size) *i1 = src_size - 1;
    if (*i0 >= src_size) *i0 = src_size - 1;
}

}  // namespace

void bl_mask_resize_bilinear(const float* src, int src_width, int src_height, float* dst,
                             int dst_width, int dst_height) {
    if (!src || !dst || dst_width <= 0 || dst_height <= 0) return;
    if (src_width <= 0 || src_height <= 0) {
        memset(dst, 0, static_cast<size_t>(dst_width) * dst_height * sizeof(float));
        return;
    }
    for (int i = 0; i < dst_height; ++i) {
        int y0, y1;
        float fy;
        centre_axis_sample(i, src_height, dst_height, &y0, &y1, &fy);
        const float* row0 = src + static_cast<size_t>(y0) * src_width;
        const float* row1 = src + static_cast<size_t>(y1) * src_width;
        float* out = dst + static_cast<size_t>(i) * dst_width;
        for (int j = 0; j < dst_width; ++j) {
            int x0, x1;
            float fx;
            centre_axis_sample(j, src_width, dst_width, &x0, &x1, &fx);
            out[j] = bl_bilinear(row0[x0], row0[x1], row1[x0], row1[x1], fx, fy);
        }
    }
}
