// The exported calls that read a video without running a job over it:
// probing, the key-frame ranges, one frame, and joining encoded ranges.
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "brightloom.h"
#include "engine/bl_status.h"
#include "child_process.h"
#include "video_file_check.h"
#include "video_job.h"
#include "video_join.h"
#include "video_segments.h"

namespace {

int32_t clamped(int64_t value) { return int32_t(std::min<int64_t>(std::max<int64_t>(value, 0), INT32_MAX)); }

brightloom_video_info info_of(const VideoInfo& probed, int64_t frames) {
    brightloom_video_info info;
    memset(&info, 0, sizeof info);
    info.size = sizeof info;
    info.frames = clamped(frames);
    // ffmpeg keeps rates as 32-bit fractions.
    info.rate_num = int32_t(probed.rate.num);
    info.rate_den = int32_t(probed.rate.den);
    info.variable_rate = probed.variable_rate ? 1 : 0;
    info.width = clamped(probed.width);
    info.height = clamped(probed.height);
    bool turned = probed.rotation == 90 || probed.rotation == 270;
    info.display_width = turned ? info.height : info.width;
    info.display_height = turned ? info.width : info.height;
    info.rotation = probed.rotation;
    info.sound_streams = clamped(int64_t(probed.sound_codecs.size()));
    const size_t named = sizeof info.sound_codecs / sizeof info.sound_codecs[0];
    for (size_t i = 0; i < probed.sound_codecs.size() && i < named; ++i)
        snprintf(info.sound_codecs[i].name, sizeof info.sound_codecs[i].name, "%s",
                 probed.sound_codecs[i].c_str());
    return info;
}

brightloom_status read_packets(const std::string& ffprobe, const char* path, const VideoInfo& info,
                               PacketList& list) {
    std::string problem;
    if (!list_video_packets(ffprobe, path, info, list, problem))
        return bl_fail(BRIGHTLOOM_UNSUPPORTED_FORMAT, "%s", problem.c_str());
    if (list.packets.empty()) return bl_fail(BRIGHTLOOM_UNREADABLE_INPUT, "No frames in: %s", path);
    return BRIGHTLOOM_OK;
}

// A segment's format and frames, counted from its packets.
brightloom_status read_segment(const char* path, VideoInfo& info, int64_t& frames) {
    std::string ffmpeg, ffprobe;
    if (brightloom_status status = open_video_input(path, ffmpeg, ffprobe, info)) return status;
    frames = count_video_packets(ffprobe, path, info.format);
    if (frames <= 0) return bl_fail(BRIGHTLOOM_UNREADABLE_INPUT, "No frames in: %s", path);
    return BRIGHTLOOM_OK;
}

brightloom_status plan_join(const char** segments, size_t count, const char* sound_from,
                            const char* output, const brightloom_video_params& params, JoinPlan& plan) {
    if (!segments || count == 0 || !output || !*output)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Segments and an output path must be given");
    if (brightloom_status status = check_video_encoding(params, output, plan.encoding)) return status;
    std::vector<std::string> inputs;
    for (size_t i = 0; i < count; ++i) {
        VideoInfo info;
        int64_t frames = 0;
        if (brightloom_status status = read_segment(segments[i], info, frames)) return status;
        if (i == 0) plan.info = info;
        plan.segments.push_back(segments[i]);
        plan.frames.push_back(frames);
    }
    inputs = plan.segments;
    std::string ffprobe;
    if (sound_from) {
        plan.info = VideoInfo();
        if (brightloom_status status = open_video_input(sound_from, plan.ffmpeg, ffprobe, plan.info))
            return status;
        plan.sound_from = sound_from;
        inputs.push_back(sound_from);
    } else {
        plan.ffmpeg = find_program("ffmpeg");
        plan.info.sound_codecs.clear();
    }
    return check_video_output(inputs, output);
}

}  // namespace

extern "C" {

brightloom_status brightloom_video_probe(const char* path, brightloom_video_info* info) {
    bl_clear_thread_error();
    return bl_status_guarded([&]() -> brightloom_status {
        if (!info || info->size == 0)
            return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "info must be given, with its size set");
        std::string ffmpeg, ffprobe;
        VideoInfo probed;
        if (brightloom_status status = open_video_input(path, ffmpeg, ffprobe, probed)) return status;
        int64_t frames = probed.frame_count > 0 ? probed.frame_count
                                                : count_video_packets(ffprobe, path, probed.format);
        brightloom_video_info full = info_of(probed, frames);
        const uint32_t size = info->size;
        memcpy(static_cast<void*>(info), &full, std::min<size_t>(size, sizeof full));
        info->size = size;
        return BRIGHTLOOM_OK;
    });
}

brightloom_status brightloom_video_segments(const char* path, double seconds,
                                            brightloom_video_range* ranges, size_t capacity,
                                            size_t* count) {
    bl_clear_thread_error();
    return bl_status_guarded([&]() -> brightloom_status {
        if (!count || (!ranges && capacity > 0))
            return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "count must be given, and ranges with a capacity");
        *count = 0;
        // Whole microseconds, as a cut takes its segment time.
        const double microseconds = seconds * 1e6;
        if (!(microseconds >= 0.5) || microseconds > 9e15)
            return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "seconds must be at least a microsecond: %g", seconds);
        std::string ffmpeg, ffprobe;
        VideoInfo info;
        if (brightloom_status status = open_video_input(path, ffmpeg, ffprobe, info)) return status;
        PacketList list;
        if (brightloom_status status = read_packets(ffprobe, path, info, list)) return status;
        std::vector<FrameSpan> spans =
            segment_spans(list, segment_time_base(list, info.rotation != 0), llround(microseconds));
        *count = spans.size();
        for (size_t i = 0; i < spans.size() && i < capacity; ++i)
            ranges[i] = brightloom_video_range{clamped(spans[i].first), clamped(spans[i].count)};
        return BRIGHTLOOM_OK;
    });
}

brightloom_status brightloom_video_frame_extract(const char* path, int32_t frame_number,
                                                 brightloom_image* image) {
    bl_clear_thread_error();
    return bl_status_guarded([&]() -> brightloom_status {
        if (!image) return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "image must be given");
        *image = brightloom_image{0, 0, 0, nullptr};
        if (frame_number < 0)
            return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "frame_number must be 0 or more: %d", frame_number);
        std::string ffmpeg, ffprobe, error;
        VideoInfo info;
        if (brightloom_status status = open_video_input(path, ffmpeg, ffprobe, info)) return status;
        VideoJob job(ffmpeg, ffprobe, path, "", EncodeOptions(), info, nullptr);
        if (!job.prepare(error)) return bl_fail(BRIGHTLOOM_CANNOT_WRITE, "%s", error.c_str());
        if (!job.extract_frame(frame_number, image, error))
            return bl_fail(BRIGHTLOOM_UNREADABLE_INPUT, "%s", error.c_str());
        return BRIGHTLOOM_OK;
    });
}

brightloom_status brightloom_video_join(const char** segment_paths, size_t count,
                                        const char* sound_from_path, const char* output_path,
                                        const brightloom_video_params* given_params) {
    bl_clear_thread_error();
    return bl_status_guarded([&]() -> brightloom_status {
        brightloom_video_params params;
        if (brightloom_status status = complete_video_params(given_params, &params)) return status;
        JoinPlan plan;
        if (brightloom_status status =
                plan_join(segment_paths, count, sound_from_path, output_path, params, plan))
            return status;
        std::string error = join_segments(plan, output_path);
        if (!error.empty()) return bl_fail(BRIGHTLOOM_CANNOT_WRITE, "%s", error.c_str());
        return BRIGHTLOOM_OK;
    });
}

}  // extern "C"
