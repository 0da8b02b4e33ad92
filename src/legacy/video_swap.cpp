// Video face swap as the 32 functions offer it: one swap session on the
// process-wide engine, a reference face set and cleared separately, and the
// runner that swaps it into a whole frame directory.
#include "legacy/video_swap.h"

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <memory>

#include "brightloom.h"
#include "engine/engine_ops.h"
#include "engine/swap_session.h"
#include "face/face_constants.h"
#include "frame_dirs/frame_dir_run.h"
#include "image/image_io.h"
#include "legacy/legacy_runs.h"
#include "legacy/legacy_state.h"
#include "platform/log_sink.h"

// ----------------------------------------------------------------- state

std::unique_ptr<brightloom_swap_session> g_bl_video_session;

// The directory run's counters: another thread may read or set them while
// a run goes on.
static bl_run_counters g_video;

// The reference is a setting of these functions rather than of the
// session: it may be set before the session exists and outlives cleanup.
int32_t g_bl_video_ref_active = 0;
static float g_ref_embedding[BL_EMBEDDING_SIZE] = {};
float g_bl_video_ref_distance = brightloom_default_options().reference_distance;

static const char VIDEO_NOT_INITIALIZED[] =
    "Video swap not initialized — call face_swap_video_init() first";

static void reset_counters(void) { g_video.start(0); }

// ---------------------------------------------------------------- helpers

// Swaps the cached source face into every (matching) face of `frame`. The
// session follows the process engine, which initialization and shutdown
// replace; without one nothing is found and the frame comes back as a copy.
static brightloom_status swap_into_frame(const bl_image* frame, bl_image_ptr* swapped) {
    g_bl_video_session->engine = bl_process_engine();
    if (!g_bl_video_session->engine) {
        swapped->reset(bl_image_clone(frame));
        return *swapped ? BRIGHTLOOM_OK : BRIGHTLOOM_OUT_OF_MEMORY;
    }
    // A directory run logs the distances of its first frame only.
    const bl_reference_filter reference = {g_bl_video_ref_active ? g_ref_embedding : nullptr,
                                           g_bl_video_ref_distance,
                                           g_video.done.load(std::memory_order_relaxed) == 0};
    // These functions have always done every frame on its own.
    brightloom_options options = bl_settings_options();
    options.smoothing = 0.0f;
    return bl_swap_session_frame(*g_bl_video_session, frame, options, reference, BL_MAX_FACES, swapped);
}

static int32_t video_init(const char* source_path) {
    if (bl_require_swap() != 0) return -1;

    // A new session always starts without a reference.
    g_bl_video_session.reset();
    reset_counters();
    g_bl_video_ref_active = 0;

    bl_image_ptr source(bl_image_load(source_path));
    if (!source) {
        bl_set_error("Failed to load source image: %s", source_path);
        return -1;
    }
    if (bl_swap_session_create(bl_process_engine(), source.get(), bl_settings_options(),
                               BL_MAX_FACES, &g_bl_video_session) != BRIGHTLOOM_OK)
        return bl_report_failure();
    bl_log(BRIGHTLOOM_LOG_INFO, "[brightloom] video_init: source face cached from %s\n",
           source_path);
    return 0;
}

static int32_t video_frame(const char* input_path, const char* output_path) {
    if (!g_bl_video_session) {
        bl_set_error(VIDEO_NOT_INITIALIZED);
        return -1;
    }
    bl_image_ptr frame(bl_image_load(input_path));
    if (!frame) {
        bl_set_error("Failed to load frame: %s", input_path);
        return -1;
    }
    bl_image_ptr swapped;
    if (swap_into_frame(frame.get(), &swapped) != BRIGHTLOOM_OK) return bl_out_of_memory();
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
    if (bl_engine_reference_identity(bl_process_engine(), image.get(), bl_settings_options().detector_score,
                                     position, BL_MAX_FACES, g_ref_embedding) != BRIGHTLOOM_OK)
        return bl_report_failure();
    g_bl_video_ref_active = 1;
    bl_log(BRIGHTLOOM_LOG_INFO, "[brightloom] video reference face set (position %d)\n", position);
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
    if (!g_bl_video_session) {
        bl_set_error(VIDEO_NOT_INITIALIZED);
        return -1;
    }
    char start[32];
    snprintf(start, sizeof start, "enhance=%d", enhance);
    bl_frame_runner runner = {};
    runner.tag = "video_dir";
    runner.settings = start;
    g_video.hook(&runner);
    runner.process = swap_frame;
    runner.finish = enhance ? enhance_frame : nullptr;
    return bl_frame_dir_legacy_result(bl_frame_dir_run(&runner, input_dir, output_dir));
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
    if (distance > 0.0f && distance <= 1.0f) g_bl_video_ref_distance = distance;
}

void face_swap_video_clear_reference(void) { g_bl_video_ref_active = 0; }

void face_swap_video_cleanup(void) {
    g_bl_video_session.reset();
    reset_counters();
    bl_log(BRIGHTLOOM_LOG_INFO, "[brightloom] video_cleanup done\n");
}

int32_t face_swap_video_progress(void) { return g_video.done.load(std::memory_order_relaxed); }

int32_t face_swap_video_total(void) { return g_video.total.load(std::memory_order_relaxed); }

void face_swap_video_cancel(void) { g_video.cancel.store(1, std::memory_order_relaxed); }

int32_t face_swap_video_dir(const char* input_dir, const char* output_dir, int32_t enhance) {
    return bl_guarded([&] { return video_dir(input_dir, output_dir, enhance); });
}

}  // extern "C"
