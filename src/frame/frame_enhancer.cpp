#include "frame/frame_enhancer.h"

#include <stdio.h>

#include "inference/model_session.h"

static const OrtApi* g_ort = nullptr;
static bl_slot g_enh = {};
static int g_scale = 2;

static const bl_slot_lines FRAME_ENHANCER_LINES = {
    "frame_enhancer",
    "[frame_enhancer] CreateEnv failed: %s\n",
    "[frame_enhancer] CreateMemoryInfo failed\n",
    nullptr,
    "[frame_enhancer] Load model failed: %s\n",
};

int bl_frame_enhancer_init(const char* path, int scale, const OrtApi* api) {
    bl_slot_close(g_ort, &g_enh);
    g_ort = api;
    g_scale = scale;
    if (bl_slot_open(g_ort, &g_enh, path, &FRAME_ENHANCER_LINES) != 0) return -1;
    fprintf(stderr, "[frame_enhancer] Loaded: %s (scale=%d)\n", path, g_scale);
    return 0;
}

void bl_frame_enhancer_shutdown(void) { bl_slot_close(g_ort, &g_enh); }
int bl_frame_enhancer_scale(void) { return g_scale; }

bl_image* bl_enhance_frame(const bl_image* frame, float blend) {
    (void)blend;
    if (!g_enh.session || !frame) return nullptr;
    return nullptr;
}
