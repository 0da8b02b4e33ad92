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

bl_image* bl_enhance_face(const bl_face* face, const bl_image* frame, float blend,
                          float mask_blur, const int32_t mask_padding[4]) {
    (void)face; (void)frame; (void)blend; (void)mask_blur; (void)mask_padding;
    if (!g_enh.session) return nullptr;
    return nullptr;
}
