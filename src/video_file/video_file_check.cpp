#include "video_file_check.h"

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "child_process.h"
#include "engine/bl_status.h"
#include "video_segments.h"

namespace {

bool same_file(const std::string& a, const std::string& b) {
    std::error_code error;
    if (std::filesystem::exists(b, error))
        return std::filesystem::equivalent(a, b, error) && !error;
    return std::filesystem::weakly_canonical(a, error) == std::filesystem::weakly_canonical(b, error);
}

bool readable_file(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), R_OK) == 0;
}

// OUTPUT can be created (or replaced) by a rename in its folder.
bool writable_output(const std::string& path) {
    std::filesystem::path folder = std::filesystem::absolute(path).parent_path();
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return false;
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           access(folder.c_str(), W_OK | X_OK) == 0;
}

bool one_of(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The caller's encoder settings, refused before anything runs when ffmpeg
// would only fail on them later.
}  // namespace

brightloom_status check_video_encoding(const brightloom_video_params& params, const char* output,
                                       EncodeOptions& encoding) {
    if (params.crf < 0 || params.crf > 51)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "crf must be 0 ... 51: %d", params.crf);
    if (params.preset) encoding.preset = params.preset;
    if (!one_of(VIDEO_PRESETS, encoding.preset))
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Unknown preset: %s", encoding.preset.c_str());
    if (params.codec) encoding.codec = params.codec;
    if (!encoding.codec.empty() && !one_of(VIDEO_CODECS, encoding.codec))
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Unknown codec: %s", encoding.codec.c_str());
    encoding.crf = params.crf;
    std::string problem = check_encode_options(output, encoding);
    if (!problem.empty()) return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "%s", problem.c_str());
    return BRIGHTLOOM_OK;
}

namespace {

brightloom_status check_upscale_limit(const VideoInfo& info, int scale, const char* input) {
    const int64_t limit = BRIGHTLOOM_MAX_IMAGE_PIXELS;
    int64_t width = info.width * scale, height = info.height * scale;
    // A side alone over the limit is checked first, so the product cannot overflow.
    if (info.width > limit || info.height > limit || width * height > limit)
        return bl_fail(BRIGHTLOOM_TOO_LARGE,
                       "Upscaled result of %lldx%lld pixels is over the limit of %lld pixels "
                       "(2^28): %s",
                       (long long)width, (long long)height, (long long)limit, input);
    return BRIGHTLOOM_OK;
}

// The frames as encoded (after an upscale) against every limit on their size.
brightloom_status check_frame_size(const VideoInfo& info, const EncodeOptions& encoding,
                                   const char* input) {
    if (encoding.scale > 1) {
        brightloom_status status = check_upscale_limit(info, encoding.scale, input);
        if (status != BRIGHTLOOM_OK) return status;
    }
    std::string problem = frame_size_problem(encoding, info.width * encoding.scale,
                                             info.height * encoding.scale, input);
    if (!problem.empty()) return bl_fail(BRIGHTLOOM_TOO_LARGE, "%s", problem.c_str());
    return BRIGHTLOOM_OK;
}

// A frame range of the input: where its decoding starts, and the frames it
// has. Its sound is left to the join of the ranges.
brightloom_status plan_frame_range(const brightloom_video_params& params, const char* input,
                                   VideoFilePlan& plan) {
    if (params.first_frame < 0 || params.frame_count < 0)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "first_frame and frame_count must be 0 or more: %d, %d",
                       params.first_frame, params.frame_count);
    if (params.first_frame == 0 && params.frame_count == 0) return BRIGHTLOOM_OK;
    PacketList list;
    std::string problem;
    if (!list_video_packets(plan.ffprobe, input, plan.info, list, problem))
        return bl_fail(BRIGHTLOOM_UNSUPPORTED_FORMAT, "%s", problem.c_str());
    size_t key = 0;
    int64_t skip = 0;
    if (!key_frame_before(list, params.first_frame, key, skip))
        return bl_fail(BRIGHTLOOM_UNREADABLE_INPUT, "No frame %d in: %s", params.first_frame, input);
    FrameWindow& window = plan.encoding.window;
    window.seek_microseconds = std::max<int64_t>(0, seek_microseconds(list, key));
    window.skip = skip;
    const int64_t rest = int64_t(list.packets.size()) - params.first_frame;
    window.count = params.frame_count > 0 ? std::min<int64_t>(params.frame_count, rest) : rest;
    plan.info.frame_count = window.count;
    plan.info.estimated_frames = 0;
    plan.info.sound_codecs.clear();
    return BRIGHTLOOM_OK;
}

}  // namespace

brightloom_status plan_video_file(brightloom_video_operation operation, const char* input,
                                  const char* output, const brightloom_options& options,
                                  const brightloom_video_params& params, VideoFilePlan& plan) {
    if (!input || !*input || !output || !*output)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "input_path and output_path must be given");
    if (operation < BRIGHTLOOM_VIDEO_ENHANCE || operation > BRIGHTLOOM_VIDEO_SWAP)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Invalid operation: %d", int(operation));
    plan.ffmpeg = find_program("ffmpeg");
    plan.ffprobe = find_program("ffprobe");
    if (plan.ffmpeg.empty() || plan.ffprobe.empty())
        return bl_fail(BRIGHTLOOM_UNAVAILABLE, "ffmpeg is not installed: install the Debian package ffmpeg");
    brightloom_status status = check_video_encoding(params, output, plan.encoding);
    if (status != BRIGHTLOOM_OK) return status;
    bool upscale = operation == BRIGHTLOOM_VIDEO_UPSCALE;
    if (upscale && options.upscale_factor != 2 && options.upscale_factor != 4)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Unsupported upscale factor: %d (use 2 or 4)",
                       options.upscale_factor);
    plan.encoding.scale = upscale ? options.upscale_factor : 1;
    if (!readable_file(input)) return bl_fail(BRIGHTLOOM_UNREADABLE_INPUT, "Cannot read input: %s", input);
    if (same_file(input, output)) return bl_fail(BRIGHTLOOM_CANNOT_WRITE, "Output is the input: %s", output);
    if (!writable_output(output)) return bl_fail(BRIGHTLOOM_CANNOT_WRITE, "Cannot write output: %s", output);
    std::string problem;
    // A size the container declares is checked first: the full probe
    // decodes a frame (768 MB and many seconds for one of 16000x16000).
    VideoInfo declared;
    if (probe_video(plan.ffprobe, input, declared, problem, true) &&
        (status = check_frame_size(declared, plan.encoding, input)) != BRIGHTLOOM_OK)
        return status;
    if (!probe_video(plan.ffprobe, input, plan.info, problem))
        return bl_fail(BRIGHTLOOM_UNSUPPORTED_FORMAT, "%s", problem.c_str());
    if ((status = check_frame_size(plan.info, plan.encoding, input)) != BRIGHTLOOM_OK) return status;
    return plan_frame_range(params, input, plan);
}

brightloom_status complete_video_params(const brightloom_video_params* given,
                                        brightloom_video_params* params) {
    *params = brightloom_video_default_params();
    if (!given) return BRIGHTLOOM_OK;
    if (given->size == 0)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The video params' size is 0: start from the defaults");
    const size_t known = given->size < sizeof *params ? given->size : sizeof *params;
    memcpy(static_cast<void*>(params), given, known);
    params->size = sizeof *params;
    return BRIGHTLOOM_OK;
}

brightloom_status open_video_input(const char* path, std::string& ffmpeg, std::string& ffprobe,
                                   VideoInfo& info) {
    if (!path || !*path) return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The video path must be given");
    ffmpeg = find_program("ffmpeg");
    ffprobe = find_program("ffprobe");
    if (ffmpeg.empty() || ffprobe.empty())
        return bl_fail(BRIGHTLOOM_UNAVAILABLE, "ffmpeg is not installed: install the Debian package ffmpeg");
    if (!readable_file(path)) return bl_fail(BRIGHTLOOM_UNREADABLE_INPUT, "Cannot read input: %s", path);
    std::string problem;
    if (!probe_video(ffprobe, path, info, problem))
        return bl_fail(BRIGHTLOOM_UNSUPPORTED_FORMAT, "%s", problem.c_str());
    return BRIGHTLOOM_OK;
}

brightloom_status check_video_output(const std::vector<std::string>& inputs, const char* output) {
    for (const std::string& input : inputs)
        if (same_file(input, output)) return bl_fail(BRIGHTLOOM_CANNOT_WRITE, "Output is the input: %s", output);
    if (!writable_output(output)) return bl_fail(BRIGHTLOOM_CANNOT_WRITE, "Cannot write output: %s", output);
    return BRIGHTLOOM_OK;
}
