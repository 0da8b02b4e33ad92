#include "face/face_swap.h"

#include <stdio.h>
#include <string.h>

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

bl_image* bl_swap_face(const bl_face* source_face, const bl_face* target_face,
                       const bl_image* target_image, const bl_image* source_image,
                       float mask_blur, const int32_t mask_padding[4]) {
    (void)source_face; (void)target_face; (void)target_image; (void)source_image;
    (void)mask_blur; (void)mask_padding;
    return nullptr;
}

// ------------------------------------------------------------ occlusion mask

int bl_create_occlusion_mask(const bl_image* crop, float* mask) {
    if (!g_occ.session || !crop || !mask) return -1;
    return -1;
}

// --------------------------------------------------------------- region mask

int bl_create_region_mask(const bl_image* crop, float* mask) {
    if (!g_parser.session || !crop || !mask) return -1;
    return -1;
}

void bl_mask_resize_bilinear(const float* src, int src_width, int src_height, float* dst,
                             int dst_width, int dst_height) {
    (void)src; (void)src_width; (void)src_height; (void)dst; (void)dst_width; (void)dst_height;
}

// -------------------------------------------------------------- face enhancer

#include <stdlib.h>

#include <memory>

#include "frame/frame_blend.h"
#include "image/image_math.h"
#include "image/image_warp.h"

static const int ENH_SIZE = 512;
static const float ENH_MEAN[3] = {0.5f, 0.5f, 0.5f};
static const float ENH_STD[3] = {0.5f, 0.5f, 0.5f};

static const bl_run_lines ENHANCER_RUN_LINES = {nullptr, "[face_enhance] Run failed: %s\n"};

namespace {

struct enh_free {
    void operator()(void* p) const { free(p); }
};
struct enh_image_free {
    void operator()(bl_image* image) const { bl_image_free(image); }
};
using enh_floats = std::unique_ptr<float[], enh_free>;
using enh_image = std::unique_ptr<bl_image, enh_image_free>;

// Model values -1 ... 1 back to bytes; anything below -1 (or not a number)
// is black and anything above 1 is full.
uint8_t enh_output_to_byte(float v) {
    if (!(v >= -1.0f)) return 0;
    const float c = v < 1.0f ? v : 1.0f;
    return static_cast<uint8_t>((c + 1.0f) * 0.5f * 255.0f + 0.5f);
}

// The restored crop from the model's planar output.
enh_image enh_restored_crop(const float* output) {
    enh_image restored(bl_image_create(ENH_SIZE, ENH_SIZE, 3));
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
    enh_image crop(bl_warp_face_by_landmarks(frame, face->landmark5_align, WARP_TEMPLATE_FFHQ_512,
                                             ENH_SIZE, ENH_SIZE, matrix));
    if (!crop) return nullptr;

    const size_t plane = static_cast<size_t>(ENH_SIZE) * ENH_SIZE;
    enh_floats mask(static_cast<float*>(malloc(plane * sizeof(float))));
    if (!mask) return nullptr;
    bl_create_box_mask(ENH_SIZE, ENH_SIZE, mask_blur, mask_padding, mask.get());

    enh_floats tensor(bl_image_to_chw(crop.get(), 1, ENH_MEAN, ENH_STD));
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

    enh_image restored = enh_restored_crop(output);
    if (!restored) return nullptr;
    // The aligned crop is the unrestored face the blend mixes back in.
    if (blend < 1.0f) bl_blend_bytes(restored->data, crop->data, plane * 3, blend);
    return bl_paste_back(frame, restored.get(), mask.get(), matrix);
}
