#include "face/face_swap.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "image/image_math.h"
#include "image/image_warp.h"
#include "inference/model_session.h"

static const OrtApi* g_ort = nullptr;
static bl_slot g_swap = {};
static bl_slot g_enh = {};
static bl_slot g_occ = {};
static bl_slot g_parser = {};
static char g_swap_type[32] = "uniface";

static const bl_slot_lines SWAPPER_LINES = {
    "face_swap", "[face_swap] CreateEnv failed: %s\n", nullptr, nullptr,
    "[face_swap] Load model failed: %s\n",
};
static const bl_slot_lines ENHANCER_LINES = {
    "face_enhance", nullptr, nullptr, nullptr, "[face_enhance] Load model failed: %s\n",
};
static const bl_slot_lines OCCLUDER_LINES = {
    "face_occluder", nullptr, nullptr, nullptr, "[face_occluder] Load model failed: %s\n",
};
static const bl_slot_lines PARSER_LINES = {
    "face_parser", nullptr, nullptr, nullptr, "[face_parser] Load model failed: %s\n",
};

int bl_swap_init(const char* path, const char* type, const OrtApi* api) {
    bl_slot_close(g_ort, &g_swap);
    g_ort = api;
    strncpy(g_swap_type, type ? type : "", sizeof g_swap_type - 1);
    if (bl_slot_open(g_ort, &g_swap, path, &SWAPPER_LINES) != 0) return -1;
    fprintf(stderr, "[face_swap] Swapper loaded: %s (type=%s)\n", path, g_swap_type);
    return 0;
}

int bl_enhance_init(const char* path, const OrtApi* api) {
    bl_slot_close(g_ort, &g_enh);
    g_ort = api;
    if (bl_slot_open(g_ort, &g_enh, path, &ENHANCER_LINES) != 0) return -1;
    fprintf(stderr, "[face_enhance] Enhancer loaded: %s\n", path);
    return 0;
}

int bl_occluder_init(const char* path, const OrtApi* api) {
    bl_slot_close(g_ort, &g_occ);
    g_ort = api;
    if (bl_slot_open(g_ort, &g_occ, path, &OCCLUDER_LINES) != 0) return -1;
    fprintf(stderr, "[face_occluder] Loaded: %s\n", path);
    return 0;
}

int bl_parser_init(const char* path, const OrtApi* api) {
    bl_slot_close(g_ort, &g_parser);
    g_ort = api;
    if (bl_slot_open(g_ort, &g_parser, path, &PARSER_LINES) != 0) return -1;
    fprintf(stderr, "[face_parser] Loaded: %s\n", path);
    return 0;
}

void bl_swap_shutdown(void) { bl_slot_close(g_ort, &g_swap); }
void bl_enhance_shutdown(void) { bl_slot_close(g_ort, &g_enh); }
void bl_occluder_shutdown(void) { bl_slot_close(g_ort, &g_occ); }
void bl_parser_shutdown(void) { bl_slot_close(g_ort, &g_parser); }
int bl_occluder_available(void) { return g_occ.session ? 1 : 0; }
int bl_parser_available(void) { return g_parser.session ? 1 : 0; }
const char* bl_swap_type(void) { return g_swap_type; }

// -------------------------------------------------------------------- swapper

namespace {

bl_malloc_array<float> alloc_floats(size_t count) {
    return bl_malloc_array<float>(static_cast<float*>(malloc(count * sizeof(float))));
}

const int EMBEDDING_SIZE = 512;
const float SIMSWAP_MEAN[3] = {0.485f, 0.456f, 0.406f};
const float SIMSWAP_STD[3] = {0.229f, 0.224f, 0.225f};

// What a swapper family takes as the source identity.
enum swap_source_kind { SOURCE_CROP, SOURCE_EMBEDDING, SOURCE_NORMED_EMBEDDING };

struct swap_family {
    int size;                       // side of the target crop and of the generated face
    const float* target_template;
    const float* target_mean;       // none: the crop goes in as byte / 255
    const float* target_std;
    swap_source_kind source;
    int source_size;                // side of the source crop (crop families only)
    const float* source_template;
};

swap_family family_for(const char* type) {
    if (strcmp(type, "uniface") == 0)
        return {256, WARP_TEMPLATE_FFHQ_512, nullptr, nullptr, SOURCE_CROP, 256,
                WARP_TEMPLATE_FFHQ_512};
    if (strcmp(type, "inswapper") == 0)
        return {128, WARP_TEMPLATE_ARCFACE_128_V2, nullptr, nullptr, SOURCE_EMBEDDING, 0, nullptr};
    if (strcmp(type, "blendswap") == 0)
        return {256, WARP_TEMPLATE_FFHQ_512, nullptr, nullptr, SOURCE_CROP, 112,
                WARP_TEMPLATE_ARCFACE_112_V2};
    return {256, WARP_TEMPLATE_ARCFACE_112_V2, SIMSWAP_MEAN, SIMSWAP_STD, SOURCE_NORMED_EMBEDDING,
            0, nullptr};
}

// The source identity as the family's model takes it: a planar crop scaled
// to 0 ... 1, or a copy of one of the two embeddings. None when the source
// face cannot be cut from its image.
bl_malloc_array<float> make_source_input(const swap_family& family, const bl_face* source_face,
                                  const bl_image* source_image) {
    if (family.source == SOURCE_CROP) {
        bl_image_ptr crop(bl_warp_face_by_landmarks(source_image, source_face->landmark5_align,
                                                      family.source_template, family.source_size,
                                                      family.source_size, nullptr));
        if (!crop) return nullptr;
        return bl_malloc_array<float>(bl_image_to_chw(crop.get(), 1, nullptr, nullptr));
    }
    bl_malloc_array<float> embedding = alloc_floats(EMBEDDING_SIZE);
    if (!embedding) return nullptr;
    const float* from = family.source == SOURCE_EMBEDDING ? source_face->embedding
                                                          : source_face->normed_embedding;
    memcpy(embedding.get(), from, EMBEDDING_SIZE * sizeof(float));
    return embedding;
}

// The generated face as bytes: 255 * value, negatives (and NaN) to 0, the
// rest capped at 255 and rounded.
bl_image_ptr crop_from_planes(const float* planes, int size) {
    bl_image_ptr crop(bl_image_create(size, size, 3));
    if (!crop) return nullptr;
    const size_t plane = static_cast<size_t>(size) * size;
    for (size_t p = 0; p < plane; ++p) {
        for (int c = 0; c < 3; ++c) {
            float v = 255.0f * planes[c * plane + p];
            uint8_t byte = 0;
            if (v >= 0.0f) byte = static_cast<uint8_t>(static_cast<int>((v < 255.0f ? v : 255.0f) + 0.5f));
            crop->data[p * 3 + c] = byte;
        }
    }
    return crop;
}

// Runs the swapper with its inputs bound by name and turns its first output
// into the generated face. None when the run fails or its output is short.
bl_image_ptr run_swapper(const swap_family& family, float* target, float* source) {
    const int64_t size = family.size;
    const int64_t target_shape[4] = {1, 3, size, size};
    const int64_t crop_shape[4] = {1, 3, family.source_size, family.source_size};
    const int64_t embedding_shape[2] = {1, EMBEDDING_SIZE};
    const bool crop_source = family.source == SOURCE_CROP;
    const bl_tensor inputs[2] = {
        {"source", source, crop_source ? crop_shape : embedding_shape, crop_source ? 4u : 2u},
        {"target", target, target_shape, 4},
    };
    static const bl_run_lines LINES = {nullptr, "[face_swap] Run failed: %s\n"};
    bl_run_result result;
    if (bl_model_run(g_ort, g_swap.session, g_swap.mem, inputs, 2, 1, &LINES, &result) != BL_RUN_OK)
        return nullptr;
    size_t count = 0;
    const float* planes = result.floats(0, &count);
    if (!planes) return nullptr;
    const size_t wanted = 3 * static_cast<size_t>(size) * static_cast<size_t>(size);
    if (count < wanted) {
        fprintf(stderr, "[face_swap] Output too short: %zu values, expected %zu\n", count, wanted);
        return nullptr;
    }
    return crop_from_planes(planes, family.size);
}

// Narrows mask by one optional factor: the per-pixel minimum with the map
// that make writes for crop. A factor that cannot be made is left out.
void narrow_mask(int (*make)(const bl_image*, float*), const bl_image* crop, float* mask,
                 size_t count) {
    bl_malloc_array<float> factor = alloc_floats(count);
    if (!factor || make(crop, factor.get()) != 0) return;
    for (size_t i = 0; i < count; ++i)
        if (factor.get()[i] < mask[i]) mask[i] = factor.get()[i];
}

void clamp_unit(float* values, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (values[i] < 0.0f) values[i] = 0.0f;
        if (values[i] > 1.0f) values[i] = 1.0f;
    }
}

}  // namespace

bl_image* bl_swap_face(const bl_face* source_face, const bl_face* target_face,
                       const bl_image* target_image, const bl_image* source_image,
                       float mask_blur, const int32_t mask_padding[4]) {
    if (!g_swap.session || !target_image || !target_face || !source_face) return nullptr;
    static const int32_t NO_PADDING[4] = {0, 0, 0, 0};
    const swap_family family = family_for(g_swap_type);
    const int size = family.size;
    const size_t pixels = static_cast<size_t>(size) * size;

    float matrix[6];
    bl_image_ptr target_crop(bl_warp_face_by_landmarks(
        target_image, target_face->landmark5_align, family.target_template, size, size, matrix));
    if (!target_crop) return nullptr;

    bl_malloc_array<float> mask = alloc_floats(pixels);
    if (!mask) return nullptr;
    bl_create_box_mask(size, size, mask_blur, mask_padding ? mask_padding : NO_PADDING, mask.get());
    // Whatever covers the target face must stay visible, so the occlusion is
    // judged on the face before the swap.
    if (g_occ.session) narrow_mask(bl_create_occlusion_mask, target_crop.get(), mask.get(), pixels);

    bl_malloc_array<float> target = bl_malloc_array<float>(
        bl_image_to_chw(target_crop.get(), 1, family.target_mean, family.target_std));
    if (!target) return nullptr;
    bl_malloc_array<float> source = make_source_input(family, source_face, source_image);
    if (!source) return nullptr;

    bl_image_ptr generated = run_swapper(family, target.get(), source.get());
    if (!generated) return nullptr;
    // The face regions are those of the new face, which is what gets pasted.
    if (g_parser.session) narrow_mask(bl_create_region_mask, generated.get(), mask.get(), pixels);
    clamp_unit(mask.get(), pixels);

    return bl_paste_back(target_image, generated.get(), mask.get(), matrix);
}

// ----------------------------------------------------- occlusion and region

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
int occluder_input_size(int* width, int* height) {
    int64_t dims[4] = {0, 0, 0, 0};
    if (bl_session_input_shape(g_ort, g_occ.session, 0, dims, 4) != 4) return -1;
    if (dims[1] < 1 || dims[1] > OCCLUDER_MAX_SIDE || dims[2] < 1 || dims[2] > OCCLUDER_MAX_SIDE)
        return -1;
    *height = static_cast<int>(dims[1]);
    *width = static_cast<int>(dims[2]);
    return 0;
}

// Brings a model's map to the crop's size and makes its edge fall off inside
// the kept region: clamp, blur, then everything the blur rates below one
// half is dropped and the upper half stretched to the full range.
void finish_mask(const float* map, int map_width, int map_height, float* mask, int width,
                 int height) {
    bl_mask_resize_bilinear(map, map_width, map_height, mask, width, height);
    const size_t count = static_cast<size_t>(width) * height;
    clamp_unit(mask, count);
    bl_gaussian_blur_f32(mask, width, height, MASK_FINISH_SIGMA);
    for (size_t i = 0; i < count; ++i) {
        float v = mask[i];
        mask[i] = v < 0.5f ? 0.0f : ((v < 1.0f ? v : 1.0f) - 0.5f) * 2.0f;
    }
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

}  // namespace

int bl_create_occlusion_mask(const bl_image* crop, float* mask) {
    if (!g_occ.session || !usable_crop(crop) || !mask) return -1;
    int width = 0, height = 0;
    if (occluder_input_size(&width, &height) != 0) return -1;

    bl_image_ptr resized(bl_image_resize(crop, width, height));
    if (!resized) return -1;
    const size_t pixels = static_cast<size_t>(width) * height;
    bl_malloc_array<float> input = alloc_floats(pixels * 3);
    if (!input) return -1;
    for (size_t i = 0; i < pixels * 3; ++i) input.get()[i] = resized->data[i] / 255.0f;
    resized.reset();

    const int64_t shape[4] = {1, height, width, 3};
    const bl_tensor tensor = {nullptr, input.get(), shape, 4};
    static const bl_run_lines LINES = {nullptr, "[face_occluder] Run failed: %s\n"};
    bl_run_result result;
    if (bl_model_run(g_ort, g_occ.session, g_occ.mem, &tensor, 1, 1, &LINES, &result) != BL_RUN_OK)
        return -1;
    size_t count = 0;
    const float* output = result.floats(0, &count);
    if (!output) return -1;
    if (count < pixels) {
        fprintf(stderr, "[face_occluder] Output too short: %zu values, expected %zu\n", count,
                pixels);
        return -1;
    }

    bl_malloc_array<float> map = alloc_floats(pixels);
    if (!map) return -1;
    for (size_t i = 0; i < pixels; ++i) {
        float v = output[i];
        map.get()[i] = v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
    }
    finish_mask(map.get(), width, height, mask, crop->width, crop->height);
    return 0;
}

int bl_create_region_mask(const bl_image* crop, float* mask) {
    if (!g_parser.session || !usable_crop(crop) || !mask) return -1;
    bl_image_ptr resized(bl_image_resize(crop, PARSER_SIZE, PARSER_SIZE));
    if (!resized) return -1;
    const size_t plane = static_cast<size_t>(PARSER_SIZE) * PARSER_SIZE;
    bl_malloc_array<float> input = alloc_floats(plane * 3);
    if (!input) return -1;
    // The parser sees the crop mirrored left to right.
    float* planes[3] = {input.get(), input.get() + plane, input.get() + 2 * plane};
    for (int y = 0; y < PARSER_SIZE; ++y) {
        const uint8_t* row = resized->data + static_cast<size_t>(y) * PARSER_SIZE * 3;
        const size_t out_row = static_cast<size_t>(y) * PARSER_SIZE;
        for (int x = 0; x < PARSER_SIZE; ++x) {
            const uint8_t* pixel = row + static_cast<size_t>(PARSER_SIZE - 1 - x) * 3;
            for (int c = 0; c < 3; ++c) planes[c][out_row + x] = pixel[c] / 127.5f - 1.0f;
        }
    }
    resized.reset();

    const int64_t shape[4] = {1, 3, PARSER_SIZE, PARSER_SIZE};
    const bl_tensor tensor = {nullptr, input.get(), shape, 4};
    static const bl_run_lines LINES = {nullptr, "[face_parser] Run failed: %s\n"};
    bl_run_result result;
    if (bl_model_run(g_ort, g_parser.session, g_parser.mem, &tensor, 1, 1, &LINES, &result) !=
        BL_RUN_OK)
        return -1;
    size_t count = 0;
    const float* scores = result.floats(0, &count);
    if (!scores) return -1;
    int64_t dims[8] = {0};
    const int64_t classes = result.shape(0, dims, 8) > 1 ? dims[1] : PARSER_DEFAULT_CLASSES;
    if (classes > 1 && count / plane < static_cast<size_t>(classes)) {
        fprintf(stderr, "[face_parser] Output too short: %zu values for %lld classes\n", count,
                static_cast<long long>(classes));
        return -1;
    }

    bl_malloc_array<float> map = alloc_floats(plane);
    if (!map) return -1;
    region_map(scores, classes, map.get());
    finish_mask(map.get(), PARSER_SIZE, PARSER_SIZE, mask, crop->width, crop->height);
    return 0;
}

void bl_mask_resize_bilinear(const float* src, int src_width, int src_height, float* dst,
                             int dst_width, int dst_height) {
    if (!src || !dst || dst_width <= 0 || dst_height <= 0) return;
    if (src_width <= 0 || src_height <= 0) {
        memset(dst, 0, static_cast<size_t>(dst_width) * dst_height * sizeof(float));
        return;
    }
    for (int i = 0; i < dst_height; ++i) {
        float sy = (static_cast<float>(i) + 0.5f) * static_cast<float>(src_height) /
                       static_cast<float>(dst_height) - 0.5f;
        int y0 = static_cast<int>(floorf(sy));
        int y1 = 0;
        float fy = 0.0f;
        if (y0 < 0) {
            y0 = 0;
        } else {
            fy = sy - static_cast<float>(y0);
            y1 = y0 + 1;
            if (y1 >= src_height) y1 = src_height - 1;
            if (y0 >= src_height) y0 = src_height - 1;
        }
        const float* row0 = src + static_cast<size_t>(y0) * src_width;
        const float* row1 = src + static_cast<size_t>(y1) * src_width;
        float* out = dst + static_cast<size_t>(i) * dst_width;
        for (int j = 0; j < dst_width; ++j) {
            float sx = (static_cast<float>(j) + 0.5f) * static_cast<float>(src_width) /
                           static_cast<float>(dst_width) - 0.5f;
            int x0 = static_cast<int>(floorf(sx));
            int x1 = 0;
            float fx = 0.0f;
            if (x0 < 0) {
                x0 = 0;
            } else {
                fx = sx - static_cast<float>(x0);
                x1 = x0 + 1;
                if (x1 >= src_width) x1 = src_width - 1;
                if (x0 >= src_width) x0 = src_width - 1;
            }
            out[j] = row0[x0] * (1.0f - fx) * (1.0f - fy) + row0[x1] * fx * (1.0f - fy) +
                     row1[x0] * (1.0f - fx) * fy + row1[x1] * fx * fy;
        }
    }
}

// -------------------------------------------------------------- face enhancer

#include "image/image_blend.h"

static const int ENH_SIZE = 512;
static const float ENH_MEAN[3] = {0.5f, 0.5f, 0.5f};
static const float ENH_STD[3] = {0.5f, 0.5f, 0.5f};

static const bl_run_lines ENHANCER_RUN_LINES = {nullptr, "[face_enhance] Run failed: %s\n"};

namespace {

// Model values -1 ... 1 back to bytes; anything below -1 (or not a number)
// is black and anything above 1 is full.
uint8_t enh_output_to_byte(float v) {
    if (!(v >= -1.0f)) return 0;
    const float c = v < 1.0f ? v : 1.0f;
    return static_cast<uint8_t>((c + 1.0f) * 0.5f * 255.0f + 0.5f);
}

// The restored crop from the model's planar output.
bl_image_ptr enh_restored_crop(const float* output) {
    bl_image_ptr restored(bl_image_create(ENH_SIZE, ENH_SIZE, 3));
    if (!restored) return restored;
    const size_t plane = static_cast<size_t>(ENH_SIZE) * ENH_SIZE;
    uint8_t* dst = restored->data;
    for (size_t i = 0; i < plane; ++i, dst += 3)
        for (size_t c = 0; c < 3; ++c) dst[c] = enh_output_to_byte(output[c * plane + i]);
    return restored;
}

}  // namespace

bl_image* bl_enhance_face(const bl_face* face, const bl_image* frame, float blend,
                          float mask_blur, const int32_t mask_padding[4]) {
    if (!g_enh.session || !face || !frame) return nullptr;

    float matrix[6];
    bl_image_ptr crop(bl_warp_face_by_landmarks(frame, face->landmark5_align,
                                                  WARP_TEMPLATE_FFHQ_512, ENH_SIZE, ENH_SIZE,
                                                  matrix));
    if (!crop) return nullptr;

    const size_t plane = static_cast<size_t>(ENH_SIZE) * ENH_SIZE;
    bl_malloc_array<float> mask = alloc_floats(plane);
    if (!mask) return nullptr;
    bl_create_box_mask(ENH_SIZE, ENH_SIZE, mask_blur, mask_padding, mask.get());

    bl_malloc_array<float> tensor(bl_image_to_chw(crop.get(), 1, ENH_MEAN, ENH_STD));
    if (!tensor) return nullptr;
    static const int64_t SHAPE[4] = {1, 3, ENH_SIZE, ENH_SIZE};
    const bl_tensor input = {nullptr, tensor.get(), SHAPE, 4};
    bl_run_result run;
    if (bl_model_run(g_ort, g_enh.session, g_enh.mem, &input, 1, 1, &ENHANCER_RUN_LINES, &run) !=
        BL_RUN_OK)
        return nullptr;
    size_t count = 0;
    const float* output = run.floats(0, &count);
    // A model with a smaller output fails the face instead of being read
    // past its end.
    if (!output || count < 3 * plane) return nullptr;

    bl_image_ptr restored = enh_restored_crop(output);
    if (!restored) return nullptr;
    // The aligned crop is the unrestored face the blend mixes back in.
    if (blend < 1.0f) bl_blend_bytes(restored->data, crop->data, plane * 3, blend);
    return bl_paste_back(frame, restored.get(), mask.get(), matrix);
}
