#include "video_form.h"

#include <cmath>

#include "../common/option_table.h"

namespace {

const std::vector<std::string> CONTAINERS = {"mp4", "m4v", "mov", "mkv", "webm"};
// The codecs and presets the library's job takes, as the command line offers them.
const std::vector<std::string> CODECS = {"libx264", "libx265", "libvpx-vp9"};
const std::vector<std::string> PRESETS = {"ultrafast", "superfast", "veryfast", "faster", "fast",
                                          "medium",    "slow",      "slower",   "veryslow"};

// A whole number from `low` to `high`.
std::string read_whole(const Form& form, const std::string& name, int low, int high, int& value) {
    std::optional<float> number;
    std::string problem = form.read_number(name, static_cast<float>(low),
                                           static_cast<float>(high), number);
    if (!problem.empty() || !number) return problem;
    if (std::floor(*number) != *number)
        return "Field " + name + " must be a whole number from " + std::to_string(low) + " to " +
               std::to_string(high);
    value = static_cast<int>(*number);
    return "";
}

std::string read_encoding(const Form& form, VideoTask& task, std::string& container) {
    std::string problem = read_whole(form, "crf", 0, 51, task.crf);
    if (problem.empty()) problem = form.read_choice("preset", PRESETS, task.preset);
    if (problem.empty()) problem = form.read_choice("codec", CODECS, task.codec);
    if (problem.empty()) problem = form.read_choice("container", CONTAINERS, container);
    return problem;
}

std::string read_swap(const Form& form, VideoTask& task) {
    task.operation = BRIGHTLOOM_VIDEO_SWAP;
    std::string problem = read_whole(form, "reference_frame", 0, 1 << 30, task.reference_frame);
    int position = 0;
    if (problem.empty()) problem = read_whole(form, "position", 0, 100000, position);
    task.options.reference_position = position;
    std::optional<float> distance;
    const OptionBounds range = option_bounds("reference_distance");
    if (problem.empty()) problem = form.read_number("distance", range.low, range.high, distance);
    if (distance) {
        if (*distance <= 0) return "Field distance must be a number above 0, up to 1";
        task.options.reference_distance = *distance;
    }
    std::string enhance = "false";
    if (problem.empty()) problem = form.read_choice("enhance", {"true", "false"}, enhance);
    task.options.enhance_after_swap = enhance == "true" ? 1 : 0;
    if (problem.empty() && form.field("reference") && task.reference_frame >= 0)
        return "Send either a reference picture or reference_frame, not both";
    return problem;
}

// How steadily faces are followed from frame to frame (0 = each frame on
// its own); without the field the library's automatic choice holds.
std::string read_smoothing(const Form& form, VideoTask& task) {
    std::optional<float> smoothing;
    std::string problem = form.read_number("smoothing", 0, 1, smoothing);
    if (smoothing) task.options.smoothing = *smoothing;
    return problem;
}

std::string read_blend(const Form& form, float& blend, float scale) {
    std::optional<float> percent;
    // Percentages, the frame blend's range (the enhancer's share in percent
    // is the same 0 ... 100).
    const OptionBounds range = option_bounds("frame_blend");
    std::string problem = form.read_number("blend", range.low, range.high, percent);
    if (percent) blend = *percent * scale;
    return problem;
}

}  // namespace

const std::vector<std::string>& video_operation_names() {
    static const std::vector<std::string> names = {"swap", "enhance", "colorize", "upscale"};
    return names;
}

std::string read_video_form(const std::string& name, const Form& form, VideoTask& task,
                            std::string& container) {
    std::string problem;
    if (name == "swap") {
        problem = read_swap(form, task);
        if (problem.empty()) problem = read_smoothing(form, task);
    } else if (name == "enhance") {
        task.operation = BRIGHTLOOM_VIDEO_ENHANCE;
        // The enhancer's blend is a share; the form's, a percentage as elsewhere.
        problem = read_blend(form, task.options.enhancer_blend, 0.01f);
        if (problem.empty()) problem = read_smoothing(form, task);
    } else if (name == "colorize") {
        task.operation = BRIGHTLOOM_VIDEO_COLORIZE;
        problem = read_blend(form, task.options.frame_blend, 1.0f);
    } else {
        task.operation = BRIGHTLOOM_VIDEO_UPSCALE;
        std::string scale = std::to_string(task.options.upscale_factor);
        problem = form.read_choice("scale", option_choice_texts("upscale_factor"), scale);
        task.options.upscale_factor = std::stoi(scale);
        if (problem.empty()) problem = read_blend(form, task.options.frame_blend, 1.0f);
    }
    return problem.empty() ? read_encoding(form, task, container) : problem;
}

std::string video_content_type(const std::string& container) {
    if (container == "mov") return "video/quicktime";
    if (container == "mkv") return "video/x-matroska";
    if (container == "webm") return "video/webm";
    return "video/mp4";
}
