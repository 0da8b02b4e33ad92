// The 32 functions' engine: their settings, the error buffer, the checks
// every operation starts with, initialization and shutdown of the one
// process-wide engine they run on.
#include "legacy/legacy_state.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "brightloom.h"
#include "engine/bl_status.h"
#include "engine/engine.h"
#include "engine/model_table.h"

// ------------------------------------------------------------------- state

static char g_error[1024] = "";

// The defaults are the engine interface's: the model table's first rows and
// brightloom_default_options.
static bl_legacy_model_name default_model_name(brightloom_model_slot slot) {
    bl_legacy_model_name name = {};
    snprintf(name.text, sizeof name.text, "%s", bl_model_row_for(slot, nullptr)->name);
    return name;
}
bl_legacy_state g_bl_legacy = {nullptr,
                               1,
                               default_model_name(BRIGHTLOOM_MODEL_DETECTOR),
                               default_model_name(BRIGHTLOOM_MODEL_SWAPPER),
                               default_model_name(BRIGHTLOOM_MODEL_ENHANCER),
                               brightloom_default_options().detector_score,
                               brightloom_default_options().mask_blur,
                               brightloom_default_options().enhancer_blend,
                               {0, 0, 0, 0}};

void bl_set_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(g_error, sizeof g_error, format, args);
    va_end(args);
}

int32_t bl_report_failure(void) {
    bl_set_error("%s", bl_thread_error());
    return -1;
}

brightloom_engine* bl_process_engine(void) { return g_bl_legacy.engine; }

brightloom_options bl_settings_options(void) {
    brightloom_options options = brightloom_default_options();
    options.detector_score = g_bl_legacy.detector_score;
    options.mask_blur = g_bl_legacy.mask_blur;
    options.enhancer_blend = g_bl_legacy.enhancer_blend;
    memcpy(options.mask_padding, g_bl_legacy.mask_padding, sizeof options.mask_padding);
    return options;
}

int32_t bl_require_initialized(void) {
    if (g_bl_legacy.engine) return 0;
    bl_set_error(BL_NOT_INITIALIZED);
    return -1;
}

int32_t bl_require_swap(void) {
    if (bl_require_initialized() != 0) return -1;
    if (g_bl_legacy.want_swap) return 0;
    bl_set_error(BL_SWAP_NOT_AVAILABLE);
    return -1;
}

int32_t bl_out_of_memory(void) {
    bl_set_error(BL_OUT_OF_MEMORY);
    return -1;
}

// ---------------------------------------------------------------- settings

// Copies at most 63 bytes and zero-fills the rest of those 63, so the last
// byte of the setting is never written and the name always stays terminated.
static void set_model_name(char (&setting)[64], const char* name) {
    if (!name) return;
    strncpy(setting, name, sizeof setting - 1);
}

extern "C" {

const char* brightloom_get_error(void) { return g_error; }
void brightloom_set_detector(const char* name) { set_model_name(g_bl_legacy.detector_model.text, name); }
void brightloom_set_swapper(const char* name) { set_model_name(g_bl_legacy.swapper_model.text, name); }
void brightloom_set_enhancer(const char* name) { set_model_name(g_bl_legacy.enhancer_model.text, name); }
void brightloom_set_detector_score(float score) { g_bl_legacy.detector_score = score; }
void brightloom_set_enhancer_blend(float blend) { g_bl_legacy.enhancer_blend = blend; }
void brightloom_set_mask_blur(float blur) { g_bl_legacy.mask_blur = blur; }

void brightloom_set_mask_padding(int32_t top, int32_t right, int32_t bottom, int32_t left) {
    g_bl_legacy.mask_padding[0] = top;
    g_bl_legacy.mask_padding[1] = right;
    g_bl_legacy.mask_padding[2] = bottom;
    g_bl_legacy.mask_padding[3] = left;
}

}  // extern "C"

// ---------------------------------------------------------- initialization

// A new engine replaces the old one only once it has opened, so a failed
// initialization leaves the earlier engine serving.
static int init_common(const char* model_dir, int want_swap) {
    g_error[0] = '\0';
    brightloom_engine_params params = brightloom_engine_default_params();
    params.detector = g_bl_legacy.detector_model.text;
    params.swapper = g_bl_legacy.swapper_model.text;
    params.enhancer = g_bl_legacy.enhancer_model.text;
    params.open_swap = want_swap;
    brightloom_engine* opened = nullptr;
    if (bl_engine_open(model_dir, params, &opened) != BRIGHTLOOM_OK) return bl_report_failure();
    bl_engine_close(g_bl_legacy.engine);
    g_bl_legacy.engine = opened;
    g_bl_legacy.want_swap = want_swap;
    return 0;
}

extern "C" {

int32_t brightloom_init(const char* model_dir) {
    return bl_guarded([&] { return init_common(model_dir, 1); });
}

int32_t brightloom_init_lite(const char* model_dir, int32_t want_swap) {
    return bl_guarded([&] { return init_common(model_dir, want_swap != 0 ? 1 : 0); });
}

void brightloom_shutdown(void) {
    bl_engine_close(g_bl_legacy.engine);
    g_bl_legacy.engine = nullptr;
}

}  // extern "C"
