#include "common.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "brightloom.h"

const std::vector<std::string> FRAME_MODES = {"enhance", "colorize", "upscale"};

namespace {

const std::vector<std::string> DETECTORS = {"scrfd", "yoloface", "yunet"};
const std::vector<std::string> SWAPPERS = {"uniface_256", "inswapper_128", "inswapper_128_fp16",
                                           "blendswap_256", "simswap_256"};
const std::vector<std::string> ENHANCERS = {"gfpgan_1.4", "gfpgan_1.3", "gfpgan_1.2",
                                            "restoreformer_plus_plus"};

// Where the tool's own messages go: the original standard error, kept apart
// from fd 2 so that --quiet can silence the library without silencing us.
int g_terminal_fd = STDERR_FILENO;

// Sends the library's log to /dev/null while our own messages keep the
// original standard error.
void silence_library_log() {
    int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd < 0) return;
    dup2(null_fd, STDERR_FILENO);
    close(null_fd);
}

}  // namespace

void say(const std::string& text) {
    std::string line = "brightloom: " + text + "\n";
    ssize_t ignored = write(g_terminal_fd, line.data(), line.size());
    (void)ignored;
}

int terminal_fd() { return g_terminal_fd; }

void route_terminal(bool quiet) {
    g_terminal_fd = dup(STDERR_FILENO);
    if (g_terminal_fd < 0) g_terminal_fd = STDERR_FILENO;
    if (quiet) silence_library_log();
}

int fail_with_library_error() {
    const char* message = brightloom_get_error();
    say(std::string("error: ") + (message[0] ? message : "operation failed"));
    return EXIT_FAILED;
}

void add_global_options(CLI::App& app, Settings& s) {
    app.add_option("-m,--models", s.models, "Model directory")
        ->envname("BRIGHTLOOM_MODELS")
        ->check(CLI::ExistingDirectory);
    app.add_option("--detector", s.detector, "Face detector model")->check(CLI::IsMember(DETECTORS));
    app.add_option("--swapper", s.swapper, "Face swapper model")->check(CLI::IsMember(SWAPPERS));
    app.add_option("--enhancer", s.enhancer, "Face enhancer model")->check(CLI::IsMember(ENHANCERS));
    s.detector_score_option =
        app.add_option("--detector-score", s.detector_score, "Minimum face confidence, 0..1 (0.3)")
            ->check(CLI::Range(0.0f, 1.0f));
    s.mask_blur_option =
        app.add_option("--mask-blur", s.mask_blur, "Feathering of the pasted face's edge, 0..1 (0.3)")
            ->check(CLI::Range(0.0f, 1.0f));
    app.add_option("--mask-padding", s.mask_padding,
                   "Extra margins of the pasted face in percent: TOP RIGHT BOTTOM LEFT (0 0 0 0)")
        ->expected(4)
        ->check(CLI::Range(0, 100));
    s.enhancer_blend_option =
        app.add_option("--enhancer-blend", s.enhancer_blend, "Share of the restored face, 0..1 (0.8)")
            ->check(CLI::Range(0.0f, 1.0f));
    app.add_flag("-q,--quiet", s.quiet,
                 "Hide the library's log lines; results, progress and errors still show");
}

void apply_settings(const Settings& s) {
    if (!s.detector.empty()) brightloom_set_detector(s.detector.c_str());
    if (!s.swapper.empty()) brightloom_set_swapper(s.swapper.c_str());
    if (!s.enhancer.empty()) brightloom_set_enhancer(s.enhancer.c_str());
    if (s.detector_score_option->count()) brightloom_set_detector_score(s.detector_score);
    if (s.mask_blur_option->count()) brightloom_set_mask_blur(s.mask_blur);
    if (s.enhancer_blend_option->count()) brightloom_set_enhancer_blend(s.enhancer_blend);
    if (s.mask_padding.size() == 4)
        brightloom_set_mask_padding(s.mask_padding[0], s.mask_padding[1], s.mask_padding[2],
                                    s.mask_padding[3]);
}

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
    std::filesystem::create_directories(dir, error);
    if (error) say("error: Cannot create output directory: " + dir + " (" + error.message() + ")");
    return !error;
}
