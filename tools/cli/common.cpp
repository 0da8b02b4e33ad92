#include "common.h"

#include <filesystem>

#include "brightloom.h"
#include "../common/model_table.h"
#include "../common/option_table.h"
#include "../common/os.h"

const std::vector<std::string> FRAME_MODES = {"enhance", "colorize", "upscale"};

void add_blend_option(CLI::App* sub, float& blend, const char* what) {
    sub->add_option("--blend", blend,
                    std::string("Share of the ") + what + " in percent, " +
                        option_range_text("frame_blend"))
        ->check(option_range("frame_blend"))
        ->capture_default_str();
}

void add_scale_option(CLI::App* sub, int& scale) {
    std::vector<int> factors;
    std::string files;
    for (const UpscalerModel& model : upscaler_models()) {
        factors.push_back(model.factor);
        files += (files.empty() ? "" : ", ") + std::to_string(model.factor) + ": " + model.file;
    }
    sub->add_option("--scale", scale, "Upscale factor (" + files + ")")
        ->check(CLI::IsMember(factors))
        ->capture_default_str();
}

void add_frame_mode_option(CLI::App* sub, std::string& mode) {
    sub->add_option("mode", mode, "enhance, colorize or upscale")
        ->required()
        ->check(CLI::IsMember(FRAME_MODES));
}

CLI::Option* add_reference_match_options(CLI::App* sub, int& position, float& distance) {
    sub->add_option("--reference-position", position,
                    "Which face of the reference, 0 = most confident")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    return sub->add_option("--reference-distance", distance,
                           "Largest identity distance still swapped, (0, 1]")
        ->check(option_range("reference_distance"))
        ->capture_default_str();
}

int finish_one_shot(int32_t rc, const std::string& output) {
    if (rc != 0) return fail_with_library_error();
    say("wrote " + output);
    return EXIT_OK;
}

bool make_output_dir(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directories(os::path_from_utf8(dir), error);
    if (error) say("error: Cannot create output directory: " + dir + " (" + error.message() + ")");
    return !error;
}

std::string upscale_limit_problem(const brightloom_image_info& size, int scale,
                                  const std::string& input) {
    int64_t width = 0, height = 0;
    if (upscale_within_pixel_limit(size, scale, &width, &height)) return std::string();
    return "Upscaled result of " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels is over the limit of " + std::to_string(BRIGHTLOOM_MAX_IMAGE_PIXELS) +
           " pixels (2^28): " + input;
}
