// The engine: its state and settings, the error buffer, the checks every
// operation starts with, initialization and shutdown.
#include "engine/bl_engine.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "brightloom.h"
#include "face/face_detect.h"
#include "face/face_enhancer.h"
#include "face/face_landmark.h"
#include "face/face_masks.h"
#include "face/face_recognize.h"
#include "face/face_swap.h"
#include "frame/frame_colorizer.h"
#include "frame/frame_enhancer.h"
#include "image/image_limits.h"
#include "inference/model_session.h"
#include "platform/platform.h"

// The public header publishes the decoder's cap to callers.
static_assert(BRIGHTLOOM_MAX_IMAGE_PIXELS == BL_MAX_IMAGE_PIXELS,
              "the published pixel cap differs from the one the decoder applies");

// ------------------------------------------------------------------- state

static int32_t g_initialized = 0;
static int32_t g_want_swap = 1;
static char g_model_dir[1024] = "";
static const OrtApi* g_api = nullptr;
static char g_error[1024] = "";

static char g_detector_model[64] = "scrfd";
static char g_swapper_model[64] = "uniface_256";
static char g_enhancer_model[64] = "gfpgan_1.4";
static float g_detector_score = 0.3f;
static float g_mask_blur = 0.3f;
static float g_enhancer_blend = 0.8f;
static int32_t g_mask_padding[4] = {0, 0, 0, 0};

void bl_set_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(g_error, sizeof g_error, format, args);
    va_end(args);
}

// Inside this file the error setter is also known by its short name.
#define set_error bl_set_error

int bl_is_initialized(void) { return g_initialized; }
int bl_is_swap_available(void) { return g_initialized && g_want_swap ? 1 : 0; }
float bl_get_detector_score(void) { return g_detector_score; }
float bl_get_mask_blur(void) { return g_mask_blur; }
float bl_get_enhancer_blend(void) { return g_enhancer_blend; }
const int32_t* bl_get_mask_padding(void) { return g_mask_padding; }
const char* bl_get_detector_model(void) { return g_detector_model; }
const char* bl_get_swapper_model(void) { return g_swapper_model; }
const char* bl_get_enhancer_model(void) { return g_enhancer_model; }
const OrtApi* bl_engine_api(void) { return g_api; }

int32_t bl_require_initialized(void) {
    if (g_initialized) return 0;
    set_error(BL_NOT_INITIALIZED);
    return -1;
}

int32_t bl_require_swap(void) {
    if (bl_require_initialized() != 0) return -1;
    if (g_want_swap) return 0;
    set_error(BL_SWAP_NOT_AVAILABLE);
    return -1;
}

int32_t bl_out_of_memory(void) {
    set_error(BL_OUT_OF_MEMORY);
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
void brightloom_set_detector(const char* name) { set_model_name(g_detector_model, name); }
void brightloom_set_swapper(const char* name) { set_model_name(g_swapper_model, name); }
void brightloom_set_enhancer(const char* name) { set_model_name(g_enhancer_model, name); }
void brightloom_set_detector_score(float score) { g_detector_score = score; }
void brightloom_set_enhancer_blend(float blend) { g_enhancer_blend = blend; }
void brightloom_set_mask_blur(float blur) { g_mask_blur = blur; }

void brightloom_set_mask_padding(int32_t top, int32_t right, int32_t bottom, int32_t left) {
    g_mask_padding[0] = top;
    g_mask_padding[1] = right;
    g_mask_padding[2] = bottom;
    g_mask_padding[3] = left;
}

}  // extern "C"

// ---------------------------------------------------------- initialization

static const char* const DETECTOR_FILES[] = {
    "scrfd_2.5g.onnx", "yoloface_8n.onnx", "yunet_2023mar.onnx"};

static const char* first_detector_file(const char* setting) {
    if (strcmp(setting, "yoloface") == 0) return "yoloface_8n.onnx";
    if (strcmp(setting, "yunet") == 0) return "yunet_2023mar.onnx";
    return "scrfd_2.5g.onnx";
}

struct name_to_file {
    const char* name;
    const char* file;
};

static const name_to_file SWAPPER_FILES[] = {
    {"uniface_256", "uniface_256.onnx"},
    {"inswapper_128", "inswapper_128.onnx"},
    {"inswapper_128_fp16", "inswapper_128_fp16.onnx"},
    {"blendswap_256", "blendswap_256.onnx"},
    {"simswap_256", "simswap_256.onnx"},
};

static const name_to_file ENHANCER_FILES[] = {
    {"gfpgan_1.4", "gfpgan_1.4.onnx"},
    {"gfpgan_1.3", "gfpgan_1.3.onnx"},
    {"gfpgan_1.2", "gfpgan_1.2.onnx"},
    {"restoreformer_plus_plus", "restoreformer_plus_plus.onnx"},
};

template <size_t N>
static const char* file_for(const name_to_file (&table)[N], const char* setting) {
    for (const name_to_file& row : table)
        if (strcmp(setting, row.name) == 0) return row.file;
    return table[0].file;
}

static const char* swapper_type_for(const char* setting) {
    static const char* const TYPES[] = {"uniface", "inswapper", "blendswap", "simswap"};
    for (const char* type : TYPES)
        if (strstr(setting, type)) return type;
    return "uniface";
}

void bl_engine_model_path(char (&path)[2048], const char* file) {
    snprintf(path, sizeof path, "%s/%s", g_model_dir, file);
}

// Tries the chosen detector first, then the other two in their fixed order.
static int open_detector(void) {
    const char* first = first_detector_file(g_detector_model);
    const char* candidates[3] = {first, nullptr, nullptr};
    int n = 1;
    for (const char* file : DETECTOR_FILES)
        if (strcmp(file, first) != 0) candidates[n++] = file;

    char path[2048];
    for (const char* file : candidates) {
        bl_engine_model_path(path, file);
        if (bl_detect_init(path, g_api) == 0) {
            fprintf(stderr, "[brightloom] detector loaded: %s\n", file);
            return 0;
        }
    }
    set_error("No face detector model found in %s (tried scrfd_2.5g.onnx, yoloface_8n.onnx, "
              "yunet_2023mar.onnx)",
              g_model_dir);
    return -1;
}

static const OrtApi* runtime_api(void) {
    const OrtApiBase* base = bl_runtime_api_base();
    if (!base || !base->GetApi) return nullptr;
    return base->GetApi(BL_ORT_API_VERSION);
}

static int init_common(const char* model_dir, int want_swap) {
    g_error[0] = '\0';
    if (!model_dir || !model_dir[0]) {
        set_error("model_dir is NULL or empty");
        return -1;
    }
    snprintf(g_model_dir, sizeof g_model_dir, "%s", model_dir);
    // The cores this process may use can change between initializations
    // (a new affinity mask or quota); every slot opened now gets the same count.
    bl_session_decide_tuning();

    g_api = runtime_api();
    if (!g_api) {
        set_error("Failed to get ONNX Runtime API");
        return -1;
    }

    if (open_detector() != 0) return -1;

    char path[2048];
    bl_engine_model_path(path, "2dfan4.onnx");
    if (bl_landmark68_init(path, g_api) != 0)
        fprintf(stderr, "[brightloom] Warning: 68-point landmarker not loaded (optional)\n");

    if (want_swap) {
        bl_engine_model_path(path, "arcface_w600k_r50.onnx");
        if (bl_recognize_init(path, g_api) != 0) {
            set_error("Failed to load face recognizer: %s", path);
            return -1;
        }
        bl_engine_model_path(path, file_for(SWAPPER_FILES, g_swapper_model));
        if (bl_swap_init(path, swapper_type_for(g_swapper_model), g_api) != 0) {
            set_error("Failed to load face swapper: %s", path);
            return -1;
        }
    } else {
        fprintf(stderr, "[brightloom] lite init: recognizer + swapper skipped\n");
    }

    bl_engine_model_path(path, file_for(ENHANCER_FILES, g_enhancer_model));
    if (bl_face_enhancer_init(path, g_api) != 0)
        fprintf(stderr, "[brightloom] Warning: enhancer not loaded (optional)\n");

    bl_engine_model_path(path, "face_occluder.onnx");
    if (bl_occluder_init(path, g_api) != 0)
        fprintf(stderr, "[brightloom] Warning: occluder not loaded (optional)\n");

    bl_engine_model_path(path, "face_parser.onnx");
    if (bl_parser_init(path, g_api) != 0)
        fprintf(stderr, "[brightloom] Warning: face_parser not loaded (optional)\n");

    bl_engine_model_path(path, "ddcolor.onnx");
    if (bl_colorizer_init(path, g_api) != 0)
        fprintf(stderr, "[brightloom] Warning: DDColor colorizer not loaded (optional)\n");

    g_want_swap = want_swap;
    g_initialized = 1;
    fprintf(stderr, "[brightloom] Initialized with model_dir: %s (swap=%d)\n", model_dir, want_swap);
    return 0;
}

extern "C" {

int32_t brightloom_init(const char* model_dir) {
    return bl_guarded([&] { return init_common(model_dir, 1); });
}

int32_t brightloom_init_lite(const char* model_dir, int32_t want_swap) {
    return bl_guarded([&] { return init_common(model_dir, want_swap != 0 ? 1 : 0); });
}

// The detector closes last: the landmarker's and the recognizer's sessions
// live in its environment.
void brightloom_shutdown(void) {
    bl_frame_enhancer_shutdown();
    bl_colorizer_shutdown();
    bl_occluder_shutdown();
    bl_parser_shutdown();
    bl_face_enhancer_shutdown();
    bl_swap_shutdown();
    bl_recognize_shutdown();
    bl_landmark68_shutdown();
    bl_detect_shutdown();
    g_initialized = 0;
}

}  // extern "C"
