// Video face swap: the source face is analysed once and swapped into many
// frames, optionally only into the faces that resemble a reference face; and
// the runner that swaps it into a whole frame directory.
#include "video/video_swap.h"

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <memory>

#include "brightloom.h"
#include "engine/bl_engine.h"
#include "face/face_constants.h"
#include "face/face_recognize.h"
#include "face/swap_faces.h"
#include "image/image_io.h"
#include "video/video_frames.h"

// ----------------------------------------------------------------- state

static bl_image_ptr g_video_source_img;
static bl_face g_video_source_face = {};
static int32_t g_video_source_ready = 0;

// The directory run's counters: another thread may read or set them while
// a run goes on.
static std::atomic<int32_t> g_video_total{0};
static std::atomic<int32_t> g_video_done{0};
static std::atomic<int32_t> g_video_cancel{0};

static int32_t g_ref_mode = 0;
static int32_t g_ref_ready = 0;
static float g_ref_embedding[BL_EMBEDDING_SIZE] = {};
static float g_ref_distance = 0.3f;

static const char VIDEO_NOT_INITIALIZED[] =
    "Video swap not initialized — call face_swap_video_init() first";

const bl_face* bl_video_source_face(void) {
    return g_video_source_ready ? &g_video_source_face : nullptr;
}

float bl_video_reference_distance(void) { return g_ref_distance; }

int bl_video_reference_active(void) { return g_ref_mode == 1 && g_ref_ready == 1 ? 1 : 0; }

float bl_video_embedding_distance(const float a[BL_EMBEDDING_SIZE],
                                  const float b[BL_EMBEDDING_SIZE]) {
    float s = 0.0f;
    for (int i = 0; i < BL_EMBEDDING_SIZE; ++i) s += a[i] * b[i];
    return (1.0f - s) * 0.5f;
}

// ---------------------------------------------------------------- helpers

// Whether face i of a frame resembles the reference closely enough to be
// swapped. The face's embedding is computed here, on the loaded frame.
static bool resembles_reference(const bl_image* frame, bl_face* face, int index) {
    bl_recognize_face(frame, face);
    float d = bl_video_embedding_distance(face->normed_embedding, g_ref_embedding);
    // A directory run logs the distances of its first frame only.
    if (g_video_done.load(std::memory_order_relaxed) == 0)
        fprintf(stderr, "[brightloom] ref distance face %d: %.4f (threshold %.2f)\n", index, d,
                g_ref_distance);
    return d < g_ref_distance;
}

// Swaps the cached source face into every (matching) face of `frame`;
// returns the working image, which is none only when the frame could not be
// copied.
static bl_image_ptr swap_into_frame(const bl_image* frame) {
    // A face list is some 300 KB: too much for the stack of a host's thread.
    std::unique_ptr<bl_face_list> faces(new bl_face_list());
    int count = bl_detect_faces(frame, bl_get_detector_score(), BL_DETECT_INPUT_SIZE, faces.get());
    return bl_swap_every_face({&g_video_source_face, g_video_source_img.get()}, frame, faces.get(),
                              count, bl_get_mask_blur(), bl_get_mask_padding(),
                              bl_video_reference_active() ? resembles_reference : nullptr);
}

static int32_t video_init(const char* source_path) {
    if (bl_require_swap() != 0) return -1;

    // A new session always starts without a reference.
    g_video_source_img.reset();
    g_video_total.store(0, std::memory_order_relaxed);
    g_video_done.store(0, std::memory_order_relaxed);
    g_video_source_ready = 0;
    g_video_cancel.store(0, std::memory_order_relaxed);
    g_ref_mode = 0;
    g_ref_ready = 0;

    g_video_source_img.reset(bl_image_load(source_path));
    if (!g_video_source_img) {
        bl_set_error("Failed to load source image: %s", source_path);
        return -1;
    }
    if (bl_analyse_face_at(g_video_source_img.get(), bl_get_detector_score(), 0,
                           &g_video_source_face) <= 0) {
        bl_set_error("No face detected in source image");
        g_video_source_img.reset();
        return -1;
    }
    g_video_source_ready = 1;
    fprintf(stderr, "[brightloom] video_init: source face cached from %s\n", source_path);
    return 0;
}

static int32_t video_frame(const char* input_path, const char* output_path) {
    if (!g_video_source_ready) {
        bl_set_error(VIDEO_NOT_INITIALIZED);
        return -1;
    }
    bl_image_ptr frame(bl_image_load(input_path));
    if (!frame) {
        bl_set_error("Failed to load frame: %s", input_path);
        return -1;
    }
    bl_image_ptr swapped = swap_into_frame(frame.get());
    if (!swapped) return bl_out_of_memory();
    if (bl_image_save(swapped.get(), output_path) == 0) return 0;
    bl_set_error("Failed to save frame: %s", output_path);
    return -1;
}

static int32_t set_reference(const char* image_path, int32_t position) {
    if (bl_require_swap() != 0) return -1;
    bl_image_ptr image(bl_image_load(image_path));
    if (!image) {
        bl_set_error("Failed to load reference image: %s", image_path);
        return -1;
    }
    bl_face face;
    int p = position < 0 ? 0 : position;
    int found = bl_analyse_face_at(image.get(), bl_get_detector_score(), p, &face);
    if (p >= found) {
        bl_set_error("No face at position %d in reference image (%d found)", position, found);
        return -1;
    }
    memcpy(g_ref_embedding, face.normed_embedding, sizeof g_ref_embedding);
    g_ref_ready = 1;
    g_ref_mode = 1;
    fprintf(stderr, "[brightloom] video reference face set (position %d)\n", position);
    return 0;
}

// ------------------------------------------------------ directory runner

static int32_t swap_frame(const char* input_path, const char* output_path, const void*) {
    return face_swap_video_frame(input_path, output_path);
}

// Restores the faces of a swapped frame in place.
static int32_t enhance_frame(const char* output_path, const void*) {
    return face_enhance(output_path, output_path);
}

static int32_t video_dir(const char* input_dir, const char* output_dir, int32_t enhance) {
    if (!g_video_source_ready) {
        bl_set_error(VIDEO_NOT_INITIALIZED);
        return -1;
    }
    char start[32];
    snprintf(start, sizeof start, "enhance=%d", enhance);
    bl_frame_runner runner = {};
    runner.tag = "video_dir";
    runner.settings = start;
    runner.counters = {&g_video_total, &g_video_done, &g_video_cancel};
    runner.process = swap_frame;
    runner.finish = enhance ? enhance_frame : nullptr;
    return bl_frame_dir_run(&runner, input_dir, output_dir);
}

// ------------------------------------------------------------- exported

extern "C" {

int32_t face_swap_video_init(const char* source_path) {
    return bl_guarded([&] { return video_init(source_path); });
}

int32_t face_swap_video_frame(const char* input_path, const char* output_path) {
    return bl_guarded([&] { return video_frame(input_path, output_path); });
}

int32_t face_swap_video_set_reference(const char* image_path, int32_t position) {
    return bl_guarded([&] { return set_reference(image_path, position); });
}

void face_swap_video_set_reference_distance(float distance) {
    if (distance > 0.0f && distance <= 1.0f) g_ref_distance = distance;
}

void face_swap_video_clear_reference(void) {
    g_ref_mode = 0;
    g_ref_ready = 0;
}

void face_swap_video_cleanup(void) {
    g_video_source_img.reset();
    g_video_cancel.store(0, std::memory_order_relaxed);
    g_video_done.store(0, std::memory_order_relaxed);
    g_video_total.store(0, std::memory_order_relaxed);
    g_video_source_ready = 0;
    fprintf(stderr, "[brightloom] video_cleanup done\n");
}

int32_t face_swap_video_progress(void) { return g_video_done.load(std::memory_order_relaxed); }

int32_t face_swap_video_total(void) { return g_video_total.load(std::memory_order_relaxed); }

void face_swap_video_cancel(void) { g_video_cancel.store(1, std::memory_order_relaxed); }

int32_t face_swap_video_dir(const char* input_dir, const char* output_dir, int32_t enhance) {
    return bl_guarded([&] { return video_dir(input_dir, output_dir, enhance); });
}

}  // extern "C"
