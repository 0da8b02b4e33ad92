// The one-shot file operations of the 32 functions: each reads its image
// files, runs the process engine's operation with the settings as options
// and writes one output file.
#include <stdio.h>

#include "brightloom.h"
#include "legacy/legacy_state.h"
#include "engine/engine.h"
#include "engine/engine_ops.h"
#include "face/face.h"
#include "image/image_io.h"
#include "platform/log_sink.h"

static const char* printable(const char* path) { return path ? path : "(null)"; }

// ------------------------------------------------------------ face swap ---

static int32_t run_face_swap(const char* source_path, const char* target_path,
                             const char* output_path, const brightloom_options& options) {
    if (bl_require_swap() != 0) return -1;
    // Both files are read before any detection runs, so an unreadable target
    // is reported even when the source has no face.
    bl_image_ptr source(bl_image_load(source_path));
    if (!source) {
        bl_set_error("Failed to load source image: %s", printable(source_path));
        return -1;
    }
    bl_image_ptr target(bl_image_load(target_path));
    if (!target) {
        bl_set_error("Failed to load target image: %s", printable(target_path));
        return -1;
    }

    bl_image_ptr result;
    int count = 0;
    if (bl_engine_swap(bl_process_engine(), source.get(), target.get(), options, BL_MAX_FACES,
                       &result, &count) != BRIGHTLOOM_OK)
        return bl_report_failure();
    int32_t status = bl_image_save(result.get(), output_path) == 0 ? 0 : -1;
    if (status != 0) bl_set_error("Failed to save output: %s", printable(output_path));
    bl_log(BRIGHTLOOM_LOG_INFO, "[brightloom] face_swap: %s + %s → %s (%d faces)\n",
           printable(source_path), printable(target_path), printable(output_path), count);
    return status;
}

extern "C" {

int32_t face_swap(const char* source_path, const char* target_path, const char* output_path) {
    return bl_guarded(
        [&] { return run_face_swap(source_path, target_path, output_path, bl_settings_options()); });
}

// The same swap with a softer mask edge; the caller's blur setting stays.
int32_t face_blend(const char* source_path, const char* target_path, const char* output_path) {
    return bl_guarded([&] {
        brightloom_options options = bl_settings_options();
        options.soft_edge = 1;
        return run_face_swap(source_path, target_path, output_path, options);
    });
}

}  // extern "C"

// ------------------------------------------- enhance, colorize, upscale ---

// Saves the result, naming the output on failure; the save's result is the
// operation's.
static int32_t save_result(const bl_image* result, const char* output_path) {
    if (bl_image_save(result, output_path) == 0) return 0;
    bl_set_error("Failed to save output: %s", output_path);
    return -1;
}

static bl_image_ptr load_input(const char* input_path) {
    bl_image_ptr image(bl_image_load(input_path));
    if (!image) bl_set_error("Failed to load image: %s", input_path);
    return image;
}

// Loads the input, makes the output image from it with `make` (a frame
// model's run; any failure is reported as `failure`), saves it, and logs
// with `log` once it got as far as saving.
template <typename Make, typename Log>
static int32_t transform_file(const char* input_path, const char* output_path,
                              const char* failure, Make&& make, Log&& log) {
    bl_image_ptr loaded = load_input(input_path);
    if (!loaded) return -1;
    bl_image_ptr made;
    if (make(loaded.get(), &made) != BRIGHTLOOM_OK) {
        bl_set_error("%s", failure);
        return -1;
    }
    int32_t result = save_result(made.get(), output_path);
    log();
    return result;
}

static int32_t enhance_faces(const char* input_path, const char* output_path) {
    bl_image_ptr loaded = load_input(input_path);
    if (!loaded) return -1;
    bl_image_ptr result;
    int count = 0;
    if (bl_engine_enhance(bl_process_engine(), loaded.get(), bl_settings_options(), BL_MAX_FACES,
                          &result, &count) != BRIGHTLOOM_OK)
        return bl_report_failure();
    int32_t status = save_result(result.get(), output_path);
    bl_log(BRIGHTLOOM_LOG_INFO, "[brightloom] face_enhance: %s → %s (%d faces)\n", input_path,
           output_path, count);
    return status;
}

static int32_t colorize(const char* input_path, const char* output_path, float blend) {
    brightloom_options options = bl_settings_options();
    options.frame_blend = blend;
    return transform_file(
        input_path, output_path, "Colorization failed",
        [&](const bl_image* in, bl_image_ptr* made) {
            return bl_engine_colorize(bl_process_engine(), in, options, made);
        },
        [&] {
            bl_log(BRIGHTLOOM_LOG_INFO, "[brightloom] frame_colorize: %s → %s (blend=%.0f%%)\n",
                   input_path, output_path, blend);
        });
}

// The model's factor is the one the tiling trusts, so only the two factors
// that have a model are accepted.
static int32_t upscale(const char* input_path, const char* output_path, int32_t scale,
                       float blend) {
    if (scale != 2 && scale != 4) {
        bl_set_error("Unsupported upscale factor: %d (use 2 or 4)", scale);
        return -1;
    }
    // Reopened on every call, before the input is read, so the model always
    // comes from the file as it is now.
    const bl_upscaler* upscaler = nullptr;
    if (bl_engine_upscaler(bl_process_engine(), scale, true, &upscaler) != BRIGHTLOOM_OK)
        return bl_report_failure();

    brightloom_options options = bl_settings_options();
    options.frame_blend = blend;
    return transform_file(
        input_path, output_path, "Frame enhancement failed",
        [&](const bl_image* in, bl_image_ptr* made) {
            return bl_engine_upscale(upscaler, in, options, made);
        },
        [&] {
            bl_log(BRIGHTLOOM_LOG_INFO, "[brightloom] frame_upscale: %s → %s (%dx, blend=%.0f%%)\n",
                   input_path, output_path, scale, blend);
        });
}

extern "C" {

int32_t face_enhance(const char* input_path, const char* output_path) {
    return bl_guarded([&] {
        if (bl_require_initialized() != 0) return -1;
        return enhance_faces(input_path, output_path);
    });
}

int32_t frame_colorize(const char* input_path, const char* output_path, float blend) {
    return bl_guarded([&] {
        if (bl_require_initialized() != 0) return -1;
        return colorize(input_path, output_path, blend);
    });
}

int32_t frame_upscale(const char* input_path, const char* output_path, int32_t scale,
                      float blend) {
    return bl_guarded([&] {
        if (bl_require_initialized() != 0) return -1;
        return upscale(input_path, output_path, scale, blend);
    });
}

int32_t face_start_server(int32_t port) {
    return bl_guarded([&] {
        (void)port;
        bl_set_error("HTTP server not yet implemented");
        return -1;
    });
}

void face_stop_server(void) {}

}  // extern "C"
