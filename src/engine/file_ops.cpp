// The one-shot file operations: each reads its image files, runs the models
// the engine holds and writes one output file.
#include <stdio.h>

#include <memory>

#include "brightloom.h"
#include "engine/bl_engine.h"
#include "face/face_constants.h"
#include "face/face_detect.h"
#include "face/face_enhancer.h"
#include "face/face_landmark.h"
#include "face/swap_faces.h"
#include "frame/frame_colorizer.h"
#include "frame/frame_enhancer.h"
#include "image/image_io.h"

static const char* printable(const char* path) { return path ? path : "(null)"; }

// ------------------------------------------------------------ face swap ---

static int32_t run_face_swap(const char* source_path, const char* target_path,
                             const char* output_path) {
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

    const float score = bl_get_detector_score();
    bl_face source_face;  // the best score comes first
    if (bl_analyse_face_at(source.get(), score, 0, &source_face) <= 0) {
        bl_set_error("No face detected in source image");
        return -1;
    }

    // Each list holds 64 faces of some 4.6 KB: too much for the stack.
    std::unique_ptr<bl_face_list> target_faces(new bl_face_list());
    int count = bl_detect_faces(target.get(), score, BL_DETECT_INPUT_SIZE, target_faces.get());
    if (count <= 0) {
        bl_set_error("No face detected in target image");
        return -1;
    }

    bl_image_ptr result =
        bl_swap_every_face({&source_face, source.get()}, target.get(), target_faces.get(), count,
                           bl_get_mask_blur(), bl_get_mask_padding());
    if (!result) return bl_out_of_memory();
    int32_t status = bl_image_save(result.get(), output_path) == 0 ? 0 : -1;
    if (status != 0) bl_set_error("Failed to save output: %s", printable(output_path));
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
        const float saved = bl_get_mask_blur();
        brightloom_set_mask_blur(0.5f);
        int32_t result = face_swap(source_path, target_path, output_path);
        brightloom_set_mask_blur(saved);
        return result;
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
// model's run: none when it failed, named by `failure`), saves it, and logs
// with `log` once it got as far as saving.
template <typename Make, typename Log>
static int32_t transform_file(const char* input_path, const char* output_path,
                              const char* failure, Make&& make, Log&& log) {
    bl_image_ptr loaded = load_input(input_path);
    if (!loaded) return -1;
    bl_image_ptr made(make(loaded.get()));
    if (!made) {
        bl_set_error("%s", failure);
        return -1;
    }
    int32_t result = save_result(made.get(), output_path);
    log();
    return result;
}

// Every face is restored on top of the faces restored before it, while
// detection and landmarks always read the loaded image, so one face's
// restoration never moves where the next face is found.
static int32_t enhance_faces(const char* input_path, const char* output_path) {
    bl_image_ptr loaded = load_input(input_path);
    if (!loaded) return -1;

    std::unique_ptr<bl_face_list> faces(new bl_face_list());
    int count =
        bl_detect_faces(loaded.get(), bl_get_detector_score(), BL_DETECT_INPUT_SIZE, faces.get());
    if (count <= 0) {
        bl_set_error("No face detected in image");
        return -1;
    }
    bl_image_ptr working(bl_image_clone(loaded.get()));
    if (!working) return bl_out_of_memory();

    for (int i = 0; i < faces->count; ++i) {
        bl_face* face = &faces->faces[i];
        bl_detect_landmark68(loaded.get(), face);
        bl_image* enhanced = bl_face_enhancer_apply(face, working.get(), bl_get_enhancer_blend(),
                                                    bl_get_mask_blur(), bl_get_mask_padding());
        if (enhanced) working.reset(enhanced);
    }

    int32_t result = save_result(working.get(), output_path);
    fprintf(stderr, "[brightloom] face_enhance: %s → %s (%d faces)\n", input_path, output_path,
            count);
    return result;
}

static int32_t colorize(const char* input_path, const char* output_path, float blend) {
    return transform_file(
        input_path, output_path, "Colorization failed",
        [&](const bl_image* in) { return bl_colorize_frame(in, blend); },
        [&] {
            fprintf(stderr, "[brightloom] frame_colorize: %s → %s (blend=%.0f%%)\n", input_path,
                    output_path, blend);
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
    char path[2048];
    bl_engine_model_path(path, scale == 4 ? "real_esrgan_x4.onnx" : "real_esrgan_x2.onnx");
    // Reopened on every call, before the input is read, so the session
    // always holds the model of the requested factor.
    bl_frame_enhancer_shutdown();
    if (bl_frame_enhancer_init(path, scale, bl_engine_api()) != 0) {
        bl_set_error("Failed to load frame enhancer: %s", path);
        return -1;
    }

    return transform_file(
        input_path, output_path, "Frame enhancement failed",
        [&](const bl_image* in) { return bl_enhance_frame(in, blend); },
        [&] {
            fprintf(stderr, "[brightloom] frame_upscale: %s → %s (%dx, blend=%.0f%%)\n",
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
