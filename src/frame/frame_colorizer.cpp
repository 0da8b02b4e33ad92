#include "frame/frame_colorizer.h"

#include <stdio.h>

#include "inference/model_session.h"

static const OrtApi* g_ort = nullptr;
static bl_slot g_col = {};

static const bl_slot_lines COLORIZER_LINES = {
    "frame_colorizer",
    "[colorizer] CreateEnv failed: %s\n",
    "[colorizer] CreateMemoryInfo failed\n",
    nullptr,
    "[colorizer] Load model failed: %s\n",
};

int bl_colorizer_init(const char* path, const OrtApi* api) {
    bl_slot_close(g_ort, &g_col);
    g_ort = api;
    if (bl_slot_open(g_ort, &g_col, path, &COLORIZER_LINES) != 0) return -1;
    fprintf(stderr, "[colorizer] Loaded: %s\n", path);
    return 0;
}

void bl_colorizer_shutdown(void) { bl_slot_close(g_ort, &g_col); }

void rgb_to_lab(float r, float g, float b, float* L, float* a, float* b_out) {
    (void)r; (void)g; (void)b;
    *L = *a = *b_out = 0.0f;
}

void bl_lab_to_rgb(float L, float a, float b, float* r, float* g, float* b_out) {
    (void)L; (void)a; (void)b;
    *r = *g = *b_out = 0.0f;
}

bl_image* bl_colorize_frame(const bl_image* frame, float blend) {
    (void)blend;
    if (!g_col.session || !frame) return nullptr;
    return nullptr;
}
