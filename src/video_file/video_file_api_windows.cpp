// The Windows build has no child-process video pipeline: the video-file jobs
// answer that they are not available, so hosts can tell rather than fail late.
#include "brightloom.h"
#include "engine/bl_status.h"

namespace {

brightloom_status unavailable() {
    bl_clear_thread_error();
    return bl_fail(BRIGHTLOOM_UNAVAILABLE, "Video files are not supported in this build");
}

}  // namespace

extern "C" {

brightloom_status brightloom_video_check_file(brightloom_video_operation, const char*, const char*,
                                              const brightloom_options*,
                                              const brightloom_video_params*) {
    return unavailable();
}

brightloom_status brightloom_video_swap_file(brightloom_engine*, const brightloom_image*,
                                             const brightloom_image*, const char*, const char*,
                                             const brightloom_options*,
                                             const brightloom_video_params*,
                                             brightloom_video_summary* summary) {
    if (summary) summary->frames = summary->failed_frames = 0;
    return unavailable();
}

brightloom_status brightloom_video_process_file(brightloom_engine*, brightloom_video_operation,
                                                const char*, const char*,
                                                const brightloom_options*,
                                                const brightloom_video_params*,
                                                brightloom_video_summary* summary) {
    if (summary) summary->frames = summary->failed_frames = 0;
    return unavailable();
}

brightloom_status brightloom_video_probe(const char*, brightloom_video_info*) { return unavailable(); }

brightloom_status brightloom_video_segments(const char*, double, brightloom_video_range*, size_t,
                                            size_t* count) {
    if (count) *count = 0;
    return unavailable();
}

brightloom_status brightloom_video_frame_extract(const char*, int32_t, brightloom_image* image) {
    if (image) *image = brightloom_image{0, 0, 0, nullptr};
    return unavailable();
}

brightloom_status brightloom_video_join(const char**, size_t, const char*, const char*,
                                        const brightloom_video_params*) {
    return unavailable();
}

void brightloom_video_hard_stop(void) {}

}  // extern "C"
