// The engine: its state and settings, the error buffer, initialization and
// shutdown, and the one-shot file operations.
#include "engine/bl_engine.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <memory>

#include "brightloom.h"
#include "face/face_detect.h"
#include "face/face_swap.h"
#include "frame/frame_colorizer.h"
#include "frame/frame_enhancer.h"
#include "image/image_io.h"
#include "inference/runtime_loader.h"

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

static const char NOT_INITIALIZED[] = "Not initialized — call brightloom_init() first";
static const char SWAP_NOT_AVAILABLE[] =
    "Face swap is not available — engine was initialized with "
    "brightloom_init_lite(want_swap=0); no recognizer/swapper loaded";

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

static void model_path(char (&path)[2048], const char* file) {
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
        model_path(path, file);
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

    g_api = runtime_api();
    if (!g_api) {
        set_error("Failed to get ONNX Runtime API");
        return -1;
    }

    if (open_detector() != 0) return -1;

    char path[2048];
    model_path(path, "2dfan4.onnx");
    if (bl_landmark68_init(path, g_api) != 0)
        fprintf(stderr, "[brightloom] Warning: 68-point landmarker not loaded (optional)\n");

    if (want_swap) {
        model_path(path, "arcface_w600k_r50.onnx");
        if (bl_recognize_init(path, g_api) != 0) {
            set_error("Failed to load face recognizer: %s", path);
            return -1;
        }
        model_path(path, file_for(SWAPPER_FILES, g_swapper_model));
        if (bl_swap_init(path, swapper_type_for(g_swapper_model), g_api) != 0) {
            set_error("Failed to load face swapper: %s", path);
            return -1;
        }
    } else {
        fprintf(stderr, "[brightloom] lite init: recognizer + swapper skipped\n");
    }

    model_path(path, file_for(ENHANCER_FILES, g_enhancer_model));
    if (bl_enhance_init(path, g_api) != 0)
        fprintf(stderr, "[brightloom] Warning: enhancer not loaded (optional)\n");

    model_path(path, "face_occluder.onnx");
    if (bl_occluder_init(path, g_api) != 0)
        fprintf(stderr, "[brightloom] Warning: occluder not loaded (optional)\n");

    model_path(path, "face_parser.onnx");
    if (bl_parser_init(path, g_api) != 0)
        fprintf(stderr, "[brightloom] Warning: face_parser not loaded (optional)\n");

    model_path(path, "ddcolor.onnx");
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
    bl_enhance_shutdown();
    bl_swap_shutdown();
    bl_recognize_shutdown();
    bl_landmark68_shutdown();
    bl_detect_shutdown();
    g_initialized = 0;
}

}  // extern "C"

// ------------------------------------------------------------ face swap ---

namespace {

const int SWAP_DETECT_SIZE = 640;

}  // namespace

// Pastes source_face onto every target face, each swap working on the image
// the previous one returned. Landmarks are refined on the target as loaded,
// so earlier swaps never move later faces. A face the swapper cannot do stays
// as it was.
static bl_image_ptr swap_every_face(const bl_face* source_face, const bl_image* source,
                                      const bl_image* target, bl_face_list* target_faces,
                                      int count) {
    bl_image_ptr working(bl_image_clone(target));
    for (int i = 0; i < count && i < BL_MAX_FACES; ++i) {
        bl_face* face = &target_faces->faces[i];
        bl_detect_landmark68(target, face);
        if (!working) continue;
        bl_image* swapped =
            bl_swap_face(source_face, face, working.get(), source, g_mask_blur, g_mask_padding);
        if (swapped) working.reset(swapped);
    }
    return working;
}

static const char* printable(const char* path) { return path ? path : "(null)"; }

static int32_t run_face_swap(const char* source_path, const char* target_path,
                             const char* output_path) {
    if (!g_initialized) {
        set_error(NOT_INITIALIZED);
        return -1;
    }
    if (!g_want_swap) {
        set_error(SWAP_NOT_AVAILABLE);
        return -1;
    }
    // Both files are read before any detection runs, so an unreadable target
    // is reported even when the source has no face.
    bl_image_ptr source(bl_image_load(source_path));
    if (!source) {
        set_error("Failed to load source image: %s", printable(source_path));
        return -1;
    }
    bl_image_ptr target(bl_image_load(target_path));
    if (!target) {
        set_error("Failed to load target image: %s", printable(target_path));
        return -1;
    }

    // Each list holds 64 faces of some 4.6 KB: too much for the stack.
    std::unique_ptr<bl_face_list> source_faces(new bl_face_list());
    if (bl_detect_faces(source.get(), g_detector_score, SWAP_DETECT_SIZE, source_faces.get()) <= 0) {
        set_error("No face detected in source image");
        return -1;
    }
    bl_face* source_face = &source_faces->faces[0];  // the best score comes first
    bl_detect_landmark68(source.get(), source_face);
    bl_recognize_face(source.get(), source_face);

    std::unique_ptr<bl_face_list> target_faces(new bl_face_list());
    int count = bl_detect_faces(target.get(), g_detector_score, SWAP_DETECT_SIZE, target_faces.get());
    if (count <= 0) {
        set_error("No face detected in target image");
        return -1;
    }

    bl_image_ptr result =
        swap_every_face(source_face, source.get(), target.get(), target_faces.get(), count);
    int32_t status = result && bl_image_save(result.get(), output_path) == 0 ? 0 : -1;
    if (status != 0) set_error("Failed to save output: %s", printable(output_path));
    result.reset();
    source.reset();
    target.reset();
    fprintf(stderr, "[brightloom] face_swap: %s + %s → %s (%d faces)\n", printable(source_path),
            printable(target_path), printable(output_path), count);
    return status;
}

extern "C" {

int32_t face_swap(const char* source_path, const char* target_path, const char* output_path) {
    return bl_guarded([&] { return run_face_swap(source_path, target_path, output_path); });
}

// The same swap with a softer mask edge; the caller's blur comes back
// whatever the outcome.
int32_t face_blend(const char* source_path, const char* target_path, const char* output_path) {
    return bl_guarded([&] {
        const float saved = g_mask_blur;
        g_mask_blur = 0.5f;
        int32_t result = face_swap(source_path, target_path, output_path);
        g_mask_blur = saved;
        return result;
    });
}

}  // extern "C"

// ------------------------------------------- enhance, colorize, upscale ---

// Saves the result, naming the output on failure; the save's result is the
// operation's.
static int32_t save_result(const bl_image* result, const char* output_path) {
    if (bl_image_save(result, output_path) == 0) return 0;
    set_error("Failed to save output: %s", output_path);
    return -1;
}

static bl_image_ptr load_input(const char* input_path) {
    bl_image_ptr image(bl_image_load(input_path));
    if (!image) set_error("Failed to load image: %s", input_path);
    return image;
}

// Every face is restored on top of the faces restored before it, while
// detection and landmarks always read the loaded image, so one face's
// restoration never moves where the next face is found.
static int32_t enhance_faces(const char* input_path, const char* output_path) {
    bl_image_ptr loaded = load_input(input_path);
    if (!loaded) return -1;

    std::unique_ptr<bl_face_list> faces(new bl_face_list());
    int count = bl_detect_faces(loaded.get(), g_detector_score, 640, faces.get());
    if (count <= 0) {
        set_error("No face detected in image");
        return -1;
    }
    bl_image_ptr working(bl_image_clone(loaded.get()));
    if (!working) throw std::bad_alloc();

    for (int i = 0; i < faces->count; ++i) {
        bl_face* face = &faces->faces[i];
        bl_detect_landmark68(loaded.get(), face);
        bl_image* enhanced =
            bl_enhance_face(face, working.get(), g_enhancer_blend, g_mask_blur, g_mask_padding);
        if (enhanced) working.reset(enhanced);
    }

    int32_t result = save_result(working.get(), output_path);
    working.reset();
    loaded.reset();
    fprintf(stderr, "[brightloom] face_enhance: %s → %s (%d faces)\n", input_path, output_path,
            count);
    return result;
}

static int32_t colorize(const char* input_path, const char* output_path, float blend) {
    bl_image_ptr loaded = load_input(input_path);
    if (!loaded) return -1;
    bl_image_ptr colorized(bl_colorize_frame(loaded.get(), blend));
    if (!colorized) {
        set_error("Colorization failed");
        return -1;
    }
    int32_t result = save_result(colorized.get(), output_path);
    colorized.reset();
    loaded.reset();
    fprintf(stderr, "[brightloom] frame_colorize: %s → %s (blend=%.0f%%)\n", input_path,
            output_path, blend);
    return result;
}

// The model's factor is the one the tiling trusts, so only the two factors
// that have a model are accepted.
static int32_t upscale(const char* input_path, const char* output_path, int32_t scale,
                       float blend) {
    if (scale != 2 && scale != 4) {
        set_error("Unsupported upscale factor: %d (use 2 or 4)", scale);
        return -1;
    }
    char path[2048];
    model_path(path, scale == 4 ? "real_esrgan_x4.onnx" : "real_esrgan_x2.onnx");
    // Reopened on every call, before the input is read, so the session
    // always holds the model of the requested factor.
    bl_frame_enhancer_shutdown();
    if (bl_frame_enhancer_init(path, scale, g_api) != 0) {
        set_error("Failed to load frame enhancer: %s", path);
        return -1;
    }

    bl_image_ptr loaded = load_input(input_path);
    if (!loaded) return -1;
    bl_image_ptr upscaled(bl_enhance_frame(loaded.get(), blend));
    if (!upscaled) {
        set_error("Frame enhancement failed");
        return -1;
    }
    int32_t result = save_result(upscaled.get(), output_path);
    upscaled.reset();
    loaded.reset();
    fprintf(stderr, "[brightloom] frame_upscale: %s → %s (%dx, blend=%.0f%%)\n", input_path,
            output_path, scale, blend);
    return result;
}

extern "C" {

int32_t face_enhance(const char* input_path, const char* output_path) {
    return bl_guarded([&] {
        if (!g_initialized) {
            set_error(NOT_INITIALIZED);
            return -1;
        }
        return enhance_faces(input_path, output_path);
    });
}

int32_t frame_colorize(const char* input_path, const char* output_path, float blend) {
    return bl_guarded([&] {
        if (!g_initialized) {
            set_error(NOT_INITIALIZED);
            return -1;
        }
        return colorize(input_path, output_path, blend);
    });
}

int32_t frame_upscale(const char* input_path, const char* output_path, int32_t scale,
                      float blend) {
    return bl_guarded([&] {
        if (!g_initialized) {
            set_error(NOT_INITIALIZED);
            return -1;
        }
        return upscale(input_path, output_path, scale, blend);
    });
}

int32_t face_start_server(int32_t port) {
    return bl_guarded([&] {
        (void)port;
        set_error("HTTP server not yet implemented");
        return -1;
    });
}

void face_stop_server(void) {}

}  // extern "C"
