// Frame-directory runs on an engine: the directory procedure the legacy
// runners share, with each frame done by the engine interface's own
// operation in memory and progress reported to the caller's callback.
#include <string.h>

#include "brightloom.h"
#include "engine/bl_status.h"
#include "engine/engine.h"
#include "frame_dirs/frame_dir_run.h"

namespace {

struct frames_run {
    brightloom_engine* engine;
    brightloom_video_operation operation;
    brightloom_options options;
    brightloom_frames_params params;
};

// Owns a frame list, whatever the caller's callback does.
struct held_list {
    bl_frame_list list = {};
    ~held_list() { bl_frame_list_free(&list); }
};

// Owns an image the library handed out.
struct held_image {
    brightloom_image image = {};
    ~held_image() { brightloom_image_release(&image); }
};

brightloom_status run_operation(const frames_run& run, const brightloom_image* frame,
                                brightloom_image* result) {
    switch (run.operation) {
        case BRIGHTLOOM_VIDEO_ENHANCE:
            return brightloom_enhance_image(run.engine, frame, &run.options, result);
        case BRIGHTLOOM_VIDEO_COLORIZE:
            return brightloom_colorize_image(run.engine, frame, &run.options, result);
        case BRIGHTLOOM_VIDEO_UPSCALE:
            return brightloom_upscale_image(run.engine, frame, &run.options, result);
        case BRIGHTLOOM_VIDEO_SWAP:
            return brightloom_swap_session_frame(run.params.session, frame, &run.options, result);
    }
    return BRIGHTLOOM_BAD_ARGUMENT;
}

int32_t process_frame(const char* input_path, const char* output_path, const void* context) {
    const frames_run& run = *static_cast<const frames_run*>(context);
    held_image frame, result;
    if (brightloom_image_load(input_path, &frame.image) != BRIGHTLOOM_OK) return -1;
    if (run_operation(run, &frame.image, &result.image) != BRIGHTLOOM_OK) return -1;
    return brightloom_image_save(&result.image, output_path) == BRIGHTLOOM_OK ? 0 : -1;
}

void report_progress(void* user, int32_t done, int32_t total) {
    const frames_run& run = *static_cast<const frames_run*>(user);
    if (run.params.progress) run.params.progress(run.params.progress_user_data, done, total);
}

bool cancelled(void* user) {
    const frames_run& run = *static_cast<const frames_run*>(user);
    return run.params.cancel && *run.params.cancel != 0;
}

// The operation as a number: a C caller may pass any int, which the enum
// type (values 0 ... 3) cannot hold, so it is never read as the enum before
// it is known to be one.
int operation_number(const brightloom_video_operation& operation) {
    int number = 0;
    static_assert(sizeof number == sizeof operation, "the operation is passed as an int");
    memcpy(&number, &operation, sizeof number);
    return number;
}

const char* operation_name(int operation) {
    switch (operation) {
        case BRIGHTLOOM_VIDEO_ENHANCE: return "enhance";
        case BRIGHTLOOM_VIDEO_COLORIZE: return "colorize";
        case BRIGHTLOOM_VIDEO_UPSCALE: return "upscale";
        case BRIGHTLOOM_VIDEO_SWAP: return "swap";
    }
    return nullptr;
}

brightloom_status complete_params(const brightloom_frames_params* given,
                                  brightloom_frames_params* params) {
    *params = brightloom_frames_default_params();
    if (!given) return BRIGHTLOOM_OK;
    if (given->size == 0)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT,
                       "The frames params' size is 0: start from the defaults");
    const size_t known = given->size < sizeof *params ? given->size : sizeof *params;
    memcpy(static_cast<void*>(params), given, known);
    params->size = sizeof *params;
    return BRIGHTLOOM_OK;
}

brightloom_status start_run(brightloom_engine* engine, brightloom_video_operation operation,
                            const char* input_dir, const char* output_dir,
                            const brightloom_options* options,
                            const brightloom_frames_params* params, frames_run* run) {
    if (!engine || !input_dir || !output_dir)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The %s is NULL",
                       !engine ? "engine" : !input_dir ? "input dir" : "output dir");
    const int number = operation_number(operation);
    if (!operation_name(number))
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Unknown operation: %d", number);
    if (brightloom_status status = complete_params(params, &run->params)) return status;
    if (operation == BRIGHTLOOM_VIDEO_SWAP && !run->params.session)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "A swap over frames needs the params' session");
    if (brightloom_status status = bl_checked_common_options(options, &run->options))
        return status;
    // Frames stop through the params' flag, between frames.
    run->options.cancel = nullptr;
    run->engine = engine;
    run->operation = static_cast<brightloom_video_operation>(number);
    return BRIGHTLOOM_OK;
}

}  // namespace

brightloom_frames_params brightloom_frames_default_params(void) {
    brightloom_frames_params params;
    memset(&params, 0, sizeof params);
    params.size = sizeof params;
    return params;
}

brightloom_status brightloom_frames_dir_run(brightloom_engine* engine,
                                            brightloom_video_operation operation,
                                            const char* input_dir, const char* output_dir,
                                            const brightloom_options* options,
                                            const brightloom_frames_params* params) {
    return bl_status_guarded([&]() -> brightloom_status {
        bl_clear_thread_error();
        bl_log_scope scope(engine ? &engine->log : nullptr);
        bl_engine_call_scope marked(engine, nullptr);
        frames_run run;
        if (brightloom_status status =
                start_run(engine, operation, input_dir, output_dir, options, params, &run))
            return status;
        bl_frame_runner runner = {};
        runner.tag = "frames_dir_run";
        runner.settings = operation_name(operation_number(operation));
        runner.user = &run;
        runner.progress = report_progress;
        runner.cancelled = cancelled;
        runner.process = process_frame;
        runner.context = &run;
        return bl_frame_dir_run(&runner, input_dir, output_dir);
    });
}

brightloom_status brightloom_frames_dir_list(const char* input_dir, brightloom_frame_name_fn name,
                                             void* user_data) {
    return bl_status_guarded([&]() -> brightloom_status {
        bl_clear_thread_error();
        if (!input_dir || !name)
            return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The %s is NULL",
                           !input_dir ? "input dir" : "name callback");
        held_list held;
        if (brightloom_status status = bl_frame_list_frames(input_dir, &held.list)) return status;
        // Listed whole before the first name goes out: a caller never sees
        // part of a list that then fails.
        for (int32_t i = 0; i < held.list.count; ++i) name(user_data, held.list.names[i]);
        return BRIGHTLOOM_OK;
    });
}
