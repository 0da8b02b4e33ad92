// The legacy frame-directory runner: one frame operation (restore, colorize
// or upscale) applied to every frame through the file functions, with
// counters the host polls and a cancel flag.
#include <stdio.h>

#include "brightloom.h"
#include "legacy/legacy_runs.h"
#include "legacy/legacy_state.h"

static bl_run_counters g_frames;

enum { MODE_ENHANCE = 0, MODE_COLORIZE = 1, MODE_UPSCALE = 2 };

struct frame_settings {
    int32_t mode;
    int32_t scale;
    float blend;
};

// The legacy runner's frames go through the file functions, with their
// lines, as they always have.
static int32_t process_frame(const char* input_path, const char* output_path, const void* context) {
    const frame_settings* settings = static_cast<const frame_settings*>(context);
    switch (settings->mode) {
        case MODE_ENHANCE:
            return face_enhance(input_path, output_path);
        case MODE_COLORIZE:
            return frame_colorize(input_path, output_path, settings->blend);
        default:
            return frame_upscale(input_path, output_path, settings->scale, settings->blend);
    }
}

extern "C" {

int32_t frame_process_video_dir(const char* input_dir, const char* output_dir, int32_t mode,
                                int32_t scale, float blend) {
    return bl_guarded([&]() -> int32_t {
        if (bl_require_initialized() != 0) return -1;
        if (static_cast<uint32_t>(mode) > MODE_UPSCALE) {
            bl_set_error("Invalid mode: %d (0=enhance, 1=colorize, 2=upscale)", mode);
            return -1;
        }
        const frame_settings settings = {mode, scale, blend};
        char start[128];
        snprintf(start, sizeof start, "mode=%d scale=%d blend=%.0f", mode, scale, blend);
        bl_frame_runner runner = {};
        runner.tag = "frames_dir";
        runner.settings = start;
        g_frames.hook(&runner);
        runner.process = process_frame;
        runner.context = &settings;
        return bl_frame_dir_legacy_result(bl_frame_dir_run(&runner, input_dir, output_dir));
    });
}

int32_t frame_process_video_progress(void) { return g_frames.done.load(std::memory_order_relaxed); }

int32_t frame_process_video_total(void) { return g_frames.total.load(std::memory_order_relaxed); }

void frame_process_video_cancel(void) { g_frames.cancel.store(1, std::memory_order_relaxed); }

}  // extern "C"
