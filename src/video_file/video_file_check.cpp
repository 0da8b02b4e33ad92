#include "video_file_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "child_process.h"
#include "engine/bl_status.h"

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
brightloom_status read_encoding(const brightloom_video_params& params, const char* output,
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
    brightloom_status status = read_encoding(params, output, plan.encoding);
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
    return check_frame_size(plan.info, plan.encoding, input);
}
