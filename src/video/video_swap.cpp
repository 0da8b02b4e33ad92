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
#include "face/face_landmark.h"
#include "face/face_recognize.h"
#include "face/face_swap.h"
#include "image/image_io.h"
#include "video/video_frames.h"

// ----------------------------------------------------------------- state

static bl_image* g_video_source_img = nullptr;
static bl_face g_video_source_face = {};
static int32_t g_video_source_ready = 0;

// The directory run's counters: another thread may read or set them while
// a run goes on.
static std::atomic<int32_t> g_video_total{0};
static std::atomic<int32_t> g_video_done{0};
static std::atomic<int32_t> g_video_cancel{0};

static int32_t g_ref_mode = 0;
static int32_t g_ref_ready = 0;
static float g_ref_embedding[512] = {};
static float g_ref_distance = 0.3f;

static const int DETECT_SIZE = 640;

static const char NOT_INITIALIZED[] = "Not initialized — call brightloom_init() first";
static const char SWAP_NOT_AVAILABLE[] =
    "Face swap is not available — engine was initialized with "
    "brightloom_init_lite(want_swap=0); no recognizer/swapper loaded";
static const char VIDEO_NOT_INITIALIZED[] =
    "Video swap not initialized — call face_swap_video_init() first";

const bl_face* bl_video_source_face(void) {
    return g_video_source_ready ? &g_video_source_face : nullptr;
}

float bl_video_reference_distance(void) { return g_ref_distance; }

int bl_video_reference_active(void) { return g_ref_mode == 1 && g_ref_ready == 1 ? 1 : 0; }

float bl_video_embedding_distance(const float a[512], const float b[512]) {
    float s = 0.0f;
    for (int i = 0; i < 512; ++i) s += a[i] * b[i];
    return (1.0f - s) * 0.5f;
}

// ---------------------------------------------------------------- helpers

// A face list is some 300 KB: too much for the stack of a host's thread.
static std::unique_ptr<bl_face_list> new_face_list(void) {
    return std::unique_ptr<bl_face_list>(new bl_face_list());
}

// The engine checks that init and set_reference share; 0 when both pass.
static int check_swap_available(void) {
    if (!bl_is_initialized()) {
        bl_set_error(NOT_INITIALIZED);
        return -1;
    }
    if (!bl_is_swap_available()) {
        bl_set_error(SWAP_NOT_AVAILABLE);
        return -1;
    }
    return 0;
}

static void release_source(void) {
    bl_image_free(g_video_source_img);
    g_video_source_img = nullptr;
}

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
static bl_image* swap_into_frame(const bl_image* frame, bl_face_list* faces) {
    int count = bl_detect_faces(frame, bl_get_detector_score(), DETECT_SIZE, faces);
    bl_image* working = bl_image_clone(frame);
    if (!working) return nullptr;
    for (int i = 0; i < count; ++i) {
        bl_face* face = &faces->faces[i];
        bl_detect_landmark68(frame, face);
        if (bl_video_reference_active() && !resembles_reference(frame, face, i)) continue;
        bl_image* swapped = bl_swap_face(&g_video_source_face, face, working, g_video_source_img,
                                         bl_get_mask_blur(), bl_get_mask_padding());
        if (swapped) {
            bl_image_free(working);
            working = swapped;
        }
    }
    return working;
}

static int32_t video_init(const char* source_path) {
    if (check_swap_available() != 0) return -1;
    std::unique_ptr<bl_face_list> faces = new_face_list();

    // A new session always starts without a reference.
    release_source();
    g_video_total.store(0, std::memory_order_relaxed);
    g_video_done.store(0, std::memory_order_relaxed);
    g_video_source_ready = 0;
    g_video_cancel.store(0, std::memory_order_relaxed);
    g_ref_mode = 0;
    g_ref_ready = 0;

    g_video_source_img = bl_image_load(source_path);
    if (!g_video_source_img) {
        bl_set_error("Failed to load source image: %s", source_path);
        return -1;
    }
    float score = bl_get_detector_score();
    if (bl_detect_faces(g_video_source_img, score, DETECT_SIZE, faces.get()) <= 0) {
        bl_set_error("No face detected in source image");
        release_source();
        return -1;
    }
    bl_face* best = &faces->faces[0];
    bl_detect_landmark68(g_video_source_img, best);
    bl_recognize_face(g_video_source_img, best);
    g_video_source_face = *best;
    g_video_source_ready = 1;
    fprintf(stderr, "[brightloom] video_init: source face cached from %s\n", source_path);
    return 0;
}

static int32_t video_frame(const char* input_path, const char* output_path) {
    if (!g_video_source_ready) {
        bl_set_error(VIDEO_NOT_INITIALIZED);
        return -1;
    }
    std::unique_ptr<bl_face_list> faces = new_face_list();
    bl_image* frame = bl_image_load(input_path);
    if (!frame) {
        bl_set_error("Failed to load frame: %s", input_path);
        return -1;
    }
    bl_image* working = swap_into_frame(frame, faces.get());
    int32_t saved = bl_image_save(working, output_path) == 0 ? 0 : -1;
    if (saved != 0) bl_set_error("Failed to save frame: %s", output_path);
    bl_image_free(working);
    bl_image_free(frame);
    return saved;
}

static int32_t set_reference(const char* image_path, int32_t position) {
    if (check_swap_available() != 0) return -1;
    std::unique_ptr<bl_face_list> faces = new_face_list();
    bl_image* image = bl_image_load(image_path);
    if (!image) {
        bl_set_error("Failed to load reference image: %s", image_path);
        return -1;
    }
    int found = bl_detect_faces(image, bl_get_detector_score(), DETECT_SIZE, faces.get());
    if (found < 0) found = 0;
    int p = position < 0 ? 0 : position;
    if (p >= found) {
        bl_set_error("No face at position %d in reference image (%d found)", position, found);
        bl_image_free(image);
        return -1;
    }
    bl_face* face = &faces->faces[p];
    bl_detect_landmark68(image, face);
    bl_recognize_face(image, face);
    memcpy(g_ref_embedding, face->normed_embedding, sizeof g_ref_embedding);
    g_ref_ready = 1;
    g_ref_mode = 1;
    bl_image_free(image);
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
    release_source();
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
