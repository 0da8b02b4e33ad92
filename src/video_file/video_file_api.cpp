// The video-file jobs of the engine interface: the checks, a VideoJob, and
// the engine operation each frame goes through.
#include <string.h>

#include <string>

#include "brightloom.h"
#include "engine/bl_public_image.h"
#include "engine/bl_status.h"
#include "engine/engine.h"
#include "engine/engine_ops.h"
#include "engine/swap_session.h"
#include "face/face_tracker.h"
#include "video_file_check.h"
#include "video_job.h"

namespace {

brightloom_status map_outcome(const VideoJob& job, VideoJob::Outcome outcome, const std::string& error) {
    switch (outcome) {
        case VideoJob::Outcome::Complete: return BRIGHTLOOM_OK;
        case VideoJob::Outcome::Cancelled:
            return bl_fail(BRIGHTLOOM_CANCELLED, "Cancelled");
        case VideoJob::Outcome::Failed: break;
    }
    return bl_fail(job.failure_status(), "%s", error.c_str());
}

// A job from its checked plan, run over `operation`; `prepare` (may be
// empty) runs inside the job before the first frame.
brightloom_status run_job(const char* input, const char* output, VideoFilePlan& plan,
                          const brightloom_video_params& params,
                          const std::function<brightloom_status(VideoJob&)>& prepare,
                          const VideoJob::FrameOperation& operation,
                          brightloom_video_summary* summary) {
    VideoJob job(plan.ffmpeg, plan.ffprobe, input, output, plan.encoding, plan.info, params.cancel);
    VideoJob::Progress progress;
    if (params.progress)
        progress = [&params](int32_t done, int32_t total) {
            params.progress(params.progress_user_data, done, total);
        };
    std::string error;
    brightloom_status status = BRIGHTLOOM_OK;
    if (!job.prepare(error)) {
        status = bl_fail(BRIGHTLOOM_CANNOT_WRITE, "%s", error.c_str());
    } else if (prepare && (status = prepare(job)) != BRIGHTLOOM_OK) {
    } else {
        VideoJob::Outcome outcome = job.run(operation, progress, error);
        status = map_outcome(job, outcome, error);
    }
    if (summary) {
        summary->frames = job.done();
        summary->failed_frames = job.failed_frames();
    }
    return status;
}

brightloom_status checked_start(brightloom_engine* engine, brightloom_video_operation operation,
                                const char* input, const char* output,
                                const brightloom_options* given_options,
                                const brightloom_video_params* given_params,
                                brightloom_options& options, brightloom_video_params& params,
                                VideoFilePlan& plan, brightloom_video_summary* summary) {
    if (summary) summary->frames = summary->failed_frames = 0;
    if (!engine) return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The engine is NULL");
    if (brightloom_status status = bl_checked_common_options(given_options, &options))
        return status;
    if (brightloom_status status = complete_video_params(given_params, &params)) return status;
    float smoothing = 0.0f;
    if (brightloom_status status = bl_sequence_smoothing(options, &smoothing)) return status;
    return plan_video_file(operation, input, output, options, params, plan);
}

// brightloom_enhance_image with every face placed by its track's smoothed
// points: the restored faces hold still on a steady head.
brightloom_status enhance_tracked(brightloom_engine* engine, bl_face_tracker* tracks,
                                  const brightloom_image& frame, const brightloom_options& options,
                                  brightloom_image* out) {
    bl_log_scope scope(&engine->log);
    return bl_status_guarded([&]() -> brightloom_status {
        bl_image view;
        bl_image_ptr holder;
        if (!bl_public_image_view(&frame, &view, &holder))
            return bl_fail(BRIGHTLOOM_OUT_OF_MEMORY, "Out of memory");
        bl_image_ptr made;
        int found = 0;
        brightloom_status status =
            bl_engine_enhance(engine, &view, options, BL_ALL_FACES, &made, &found, tracks);
        if (status == BRIGHTLOOM_OK) bl_public_image_take(made.release(), out);
        return status;
    });
}

// The session's reference: the caller's image, or a frame of the input.
brightloom_status open_session(VideoJob& job, brightloom_engine* engine,
                               const brightloom_image* source, const brightloom_image* reference,
                               const brightloom_options& options, int32_t reference_frame,
                               brightloom_swap_session** session) {
    if (reference_frame < 0)
        return brightloom_swap_session_open(engine, source, reference, &options, session);
    brightloom_image frame = {0, 0, 0, nullptr};
    std::string error;
    if (!job.extract_frame(reference_frame, &frame, error))
        return bl_fail(BRIGHTLOOM_UNREADABLE_INPUT, "%s", error.c_str());
    brightloom_status status = brightloom_swap_session_open(engine, source, &frame, &options, session);
    brightloom_image_release(&frame);
    return status;
}

}  // namespace

extern "C" {

brightloom_status brightloom_video_check_file(brightloom_video_operation operation,
                                              const char* input_path, const char* output_path,
                                              const brightloom_options* given_options,
                                              const brightloom_video_params* given_params) {
    bl_clear_thread_error();
    return bl_status_guarded([&]() -> brightloom_status {
        brightloom_options options;
        brightloom_video_params params;
        if (brightloom_status status = bl_checked_common_options(given_options, &options))
            return status;
        if (brightloom_status status = complete_video_params(given_params, &params)) return status;
        VideoFilePlan plan;
        return plan_video_file(operation, input_path, output_path, options, params, plan);
    });
}

brightloom_status brightloom_video_swap_file(brightloom_engine* engine,
                                             const brightloom_image* source,
                                             const brightloom_image* reference,
                                             const char* input_path, const char* output_path,
                                             const brightloom_options* given_options,
                                             const brightloom_video_params* given_params,
                                             brightloom_video_summary* summary) {
    bl_clear_thread_error();
    return bl_status_guarded([&]() -> brightloom_status {
        // The progress callback runs inside the job: a close from there
        // must not free the engine under the frames still to come.
        bl_engine_call_scope marked(engine, nullptr);
        brightloom_options options;
        brightloom_video_params params;
        VideoFilePlan plan;
        if (brightloom_status status =
                checked_start(engine, BRIGHTLOOM_VIDEO_SWAP, input_path, output_path, given_options,
                              given_params, options, params, plan, summary))
            return status;
        if (reference && params.reference_frame >= 0)
            return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "A reference image and a reference frame: give one");
        brightloom_swap_session* session = nullptr;
        auto prepare = [&](VideoJob& job) {
            return open_session(job, engine, source, reference, options, params.reference_frame,
                                &session);
        };
        auto swap = [&](const brightloom_image& frame, brightloom_image* out) {
            return brightloom_swap_session_frame(session, &frame, &options, out);
        };
        brightloom_status status =
            run_job(input_path, output_path, plan, params, prepare, swap, summary);
        // Closing is a call of its own, which clears the thread's message.
        std::string message = bl_thread_error();
        brightloom_swap_session_close(session);
        return status == BRIGHTLOOM_OK ? status : bl_fail(status, "%s", message.c_str());
    });
}

brightloom_status brightloom_video_process_file(brightloom_engine* engine,
                                                brightloom_video_operation operation,
                                                const char* input_path, const char* output_path,
                                                const brightloom_options* given_options,
                                                const brightloom_video_params* given_params,
                                                brightloom_video_summary* summary) {
    bl_clear_thread_error();
    return bl_status_guarded([&]() -> brightloom_status {
        // The progress callback runs inside the job: a close from there
        // must not free the engine under the frames still to come.
        bl_engine_call_scope marked(engine, nullptr);
        if (operation == BRIGHTLOOM_VIDEO_SWAP)
            return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Swaps go through brightloom_video_swap_file");
        brightloom_options options;
        brightloom_video_params params;
        VideoFilePlan plan;
        if (brightloom_status status = checked_start(engine, operation, input_path, output_path,
                                                     given_options, given_params, options, params,
                                                     plan, summary))
            return status;
        float smoothing = 0.0f;
        bl_sequence_smoothing(options, &smoothing);  // checked by checked_start
        bl_face_tracker tracks;
        tracks.set_strength(smoothing);
        auto process = [&](const brightloom_image& frame, brightloom_image* out) {
            switch (operation) {
                case BRIGHTLOOM_VIDEO_ENHANCE:
                    if (smoothing > 0.0f) return enhance_tracked(engine, &tracks, frame, options, out);
                    return brightloom_enhance_image(engine, &frame, &options, out);
                case BRIGHTLOOM_VIDEO_COLORIZE: return brightloom_colorize_image(engine, &frame, &options, out);
                default: return brightloom_upscale_image(engine, &frame, &options, out);
            }
        };
        return run_job(input_path, output_path, plan, params, {}, process, summary);
    });
}

void brightloom_video_hard_stop(void) { VideoJob::hard_stop(); }

}  // extern "C"
