#include "common.h"

#include <filesystem>

#include "brightloom.h"
#include "../common/image_size.h"
#include "../common/os.h"

const std::vector<std::string> FRAME_MODES = {"enhance", "colorize", "upscale"};

void add_blend_option(CLI::App* sub, float& blend, const char* what) {
    sub->add_option("--blend", blend, std::string("Share of the ") + what + " in percent, 0..100")
        ->check(CLI::Range(0.0f, 100.0f))
        ->capture_default_str();
}

void add_scale_option(CLI::App* sub, int& scale) {
    sub->add_option("--scale", scale, "Upscale factor: 2 or 4 (real_esrgan_x<N>.onnx)")
        ->check(CLI::IsMember({2, 4}))
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
                           "Largest identity distance still swapped, (0, 1] (0.3)")
        ->check(CLI::Range(0.0f, 1.0f));
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

std::string upscale_limit_problem(const ImageSize& size, int scale, const std::string& input) {
    ImageSize result;
    if (size.width <= 0 || size.height <= 0) return std::string();
    if (!upscale_passes_pixel_limit(size, scale, &result)) return std::string();
    return "Upscaled result of " + std::to_string(result.width) + "x" +
           std::to_string(result.height) + " pixels is over the limit of " +
           std::to_string(BRIGHTLOOM_MAX_IMAGE_PIXELS) + " pixels (2^28): " + input;
}
