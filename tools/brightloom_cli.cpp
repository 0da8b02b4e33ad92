// brightloom: the library's command-line tool, built on the public interface
// only. One subcommand per operation; the global options carry the model
// directory and every setting.
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "brightloom.h"
#include "progress_monitor.h"

#ifndef BL_TOOL_VERSION
#define BL_TOOL_VERSION "unknown"
#endif

namespace {

enum ExitCode { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_CANCELLED = 130 };

const std::vector<std::string> DETECTORS = {"scrfd", "yoloface", "yunet"};
const std::vector<std::string> SWAPPERS = {"uniface_256", "inswapper_128", "inswapper_128_fp16",
                                           "blendswap_256", "simswap_256"};
const std::vector<std::string> ENHANCERS = {"gfpgan_1.4", "gfpgan_1.3", "gfpgan_1.2",
                                            "restoreformer_plus_plus"};
const std::vector<std::string> FRAME_MODES = {"enhance", "colorize", "upscale"};

// Where the tool's own messages go: the original standard error, kept apart
// from fd 2 so that --quiet can silence the library without silencing us.
int g_terminal_fd = STDERR_FILENO;

void say(const std::string& text) {
    std::string line = "brightloom: " + text + "\n";
    ssize_t ignored = write(g_terminal_fd, line.data(), line.size());
    (void)ignored;
}

int fail_with_library_error() {
    const char* message = brightloom_get_error();
    say(std::string("error: ") + (message[0] ? message : "operation failed"));
    return EXIT_FAILED;
}

struct Settings {
    std::string models;
    std::string detector, swapper, enhancer;
    float detector_score = 0.3f;
    float mask_blur = 0.3f;
    float enhancer_blend = 0.8f;
    std::vector<int> mask_padding;
    bool quiet = false;
    CLI::Option* detector_score_option = nullptr;
    CLI::Option* mask_blur_option = nullptr;
    CLI::Option* enhancer_blend_option = nullptr;
};

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

// Settings the user did not give keep the library's own defaults.
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

int initialize(const Settings& s, bool want_swap) {
    if (s.models.empty()) {
        say("error: no model directory: give --models DIR or set BRIGHTLOOM_MODELS");
        return EXIT_USAGE;
    }
    apply_settings(s);
    int32_t rc = want_swap ? brightloom_init(s.models.c_str())
                           : brightloom_init_lite(s.models.c_str(), 0);
    return rc == 0 ? EXIT_OK : fail_with_library_error();
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

// Runs one directory job under a progress monitor and reports how it ended.
int run_directory_job(const Settings& s, RunnerCounters counters, const std::string& output_dir,
                      const std::function<int32_t()>& job) {
    ProgressMonitor monitor(counters, g_terminal_fd, s.quiet);
    int32_t rc = job();
    monitor.finish();
    int32_t done = counters.progress(), total = counters.total();
    double seconds = monitor.elapsed_seconds();
    char summary[256];
    if (rc == 1) {
        snprintf(summary, sizeof summary, "cancelled after %d of %d frames; finished frames are in %s",
                 done, total, output_dir.c_str());
        say(summary);
        return EXIT_CANCELLED;
    }
    if (rc != 0) return fail_with_library_error();
    snprintf(summary, sizeof summary, "%d frames in %.1f s (%.1f fps) written to %s", total,
             seconds, seconds > 0 ? total / seconds : 0.0, output_dir.c_str());
    say(summary);
    return EXIT_OK;
}

struct SwapDirArgs {
    std::string source, input_dir, output_dir, reference;
    bool enhance = false;
    int reference_position = 0;
    float reference_distance = 0.3f;
    CLI::Option* distance_option = nullptr;
};

int run_swap_dir(const Settings& s, const SwapDirArgs& a) {
    if (face_swap_video_init(a.source.c_str()) != 0) return fail_with_library_error();
    if (a.distance_option->count()) face_swap_video_set_reference_distance(a.reference_distance);
    if (!a.reference.empty() &&
        face_swap_video_set_reference(a.reference.c_str(), a.reference_position) != 0) {
        int code = fail_with_library_error();
        face_swap_video_cleanup();
        return code;
    }
    if (!make_output_dir(a.output_dir)) {
        face_swap_video_cleanup();
        return EXIT_FAILED;
    }
    RunnerCounters counters = {face_swap_video_progress, face_swap_video_total,
                               face_swap_video_cancel};
    int code = run_directory_job(s, counters, a.output_dir, [&] {
        return face_swap_video_dir(a.input_dir.c_str(), a.output_dir.c_str(), a.enhance ? 1 : 0);
    });
    face_swap_video_cleanup();
    return code;
}

struct FrameArgs {
    std::string mode = "enhance", input, output;
    int scale = 2;
    float blend = 100.0f;
};

int32_t frame_mode_code(const std::string& mode) {
    for (size_t i = 0; i < FRAME_MODES.size(); ++i)
        if (FRAME_MODES[i] == mode) return static_cast<int32_t>(i);
    return -1;
}

int run_process_dir(const Settings& s, const FrameArgs& a) {
    if (!make_output_dir(a.output)) return EXIT_FAILED;
    RunnerCounters counters = {frame_process_video_progress, frame_process_video_total,
                               frame_process_video_cancel};
    return run_directory_job(s, counters, a.output, [&] {
        return frame_process_video_dir(a.input.c_str(), a.output.c_str(), frame_mode_code(a.mode),
                                       a.scale, a.blend);
    });
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

// Sends the library's log to /dev/null while our own messages keep the
// original standard error.
void silence_library_log() {
    int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd < 0) return;
    dup2(null_fd, STDERR_FILENO);
    close(null_fd);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Swap, restore, colorize and upscale faces and frames in image files.\n"
                 "Exit codes: 0 success, 1 failure (the library's message is printed), "
                 "2 usage error, 130 cancelled.",
                 "brightloom"};
    app.set_version_flag("--version", "brightloom " BL_TOOL_VERSION);
    app.require_subcommand(1);
    app.fallthrough();
    Settings settings;
    add_global_options(app, settings);

    std::string source, target, input, output;
    FrameArgs frame;
    auto* swap = app.add_subcommand("swap", "Put the best face of SOURCE in place of every face of TARGET");
    auto* blend = app.add_subcommand("blend", "As swap, with a softer mask edge");
    for (auto* sub : {swap, blend}) {
        sub->add_option("source", source, "Image with the face to use")->required();
        sub->add_option("target", target, "Image whose faces are replaced")->required();
        sub->add_option("output", output, "Result image (.png, .jpg or .bmp)")->required();
    }
    auto* enhance = app.add_subcommand("enhance", "Restore every face of INPUT");
    auto* colorize = app.add_subcommand("colorize", "Colorize INPUT, keeping its lightness");
    auto* upscale = app.add_subcommand("upscale", "Upscale INPUT by 2 or 4");
    for (auto* sub : {enhance, colorize, upscale}) {
        sub->add_option("input", input, "Input image")->required();
        sub->add_option("output", output, "Result image (.png, .jpg or .bmp)")->required();
    }
    add_blend_option(colorize, frame.blend, "colorized result");
    add_blend_option(upscale, frame.blend, "model result");
    add_scale_option(upscale, frame.scale);

    SwapDirArgs swap_dir;
    auto* swap_dir_cmd = app.add_subcommand(
        "swap-dir", "Swap the best face of SOURCE into every frame image of INPUT_DIR");
    swap_dir_cmd->add_option("source", swap_dir.source, "Image with the face to use")->required();
    swap_dir_cmd->add_option("input_dir", swap_dir.input_dir, "Folder of frame images")->required();
    swap_dir_cmd->add_option("output_dir", swap_dir.output_dir, "Folder for the results (created)")
        ->required();
    swap_dir_cmd->add_flag("--enhance", swap_dir.enhance, "Restore the swapped faces");
    swap_dir_cmd->add_option("--reference", swap_dir.reference,
                             "Only swap faces resembling a face of this image");
    swap_dir_cmd->add_option("--reference-position", swap_dir.reference_position,
                             "Which face of the reference image, 0 = most confident")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    swap_dir.distance_option =
        swap_dir_cmd->add_option("--reference-distance", swap_dir.reference_distance,
                                 "Largest identity distance still swapped, (0, 1] (0.3)")
            ->check(CLI::Range(0.0f, 1.0f));

    auto* process_dir = app.add_subcommand(
        "process-dir", "Enhance, colorize or upscale every frame image of INPUT_DIR");
    process_dir->add_option("mode", frame.mode, "enhance, colorize or upscale")
        ->required()
        ->check(CLI::IsMember(FRAME_MODES));
    process_dir->add_option("input_dir", frame.input, "Folder of frame images")->required();
    process_dir->add_option("output_dir", frame.output, "Folder for the results (created)")->required();
    add_blend_option(process_dir, frame.blend, "processed frame (colorize, upscale)");
    add_scale_option(process_dir, frame.scale);

    for (auto* sub : app.get_subcommands({}))
        sub->footer("Global options (--models, the settings, --quiet) may come before or after the\n"
                    "subcommand; see brightloom --help.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? EXIT_OK : EXIT_USAGE;
    }

    g_terminal_fd = dup(STDERR_FILENO);
    if (g_terminal_fd < 0) g_terminal_fd = STDERR_FILENO;
    if (settings.quiet) silence_library_log();

    bool want_swap = swap->parsed() || blend->parsed() || swap_dir_cmd->parsed();
    int code = initialize(settings, want_swap);
    if (code != EXIT_OK) return code;

    if (swap->parsed())
        code = finish_one_shot(face_swap(source.c_str(), target.c_str(), output.c_str()), output);
    else if (blend->parsed())
        code = finish_one_shot(face_blend(source.c_str(), target.c_str(), output.c_str()), output);
    else if (enhance->parsed())
        code = finish_one_shot(face_enhance(input.c_str(), output.c_str()), output);
    else if (colorize->parsed())
        code = finish_one_shot(frame_colorize(input.c_str(), output.c_str(), frame.blend), output);
    else if (upscale->parsed())
        code = finish_one_shot(
            frame_upscale(input.c_str(), output.c_str(), frame.scale, frame.blend), output);
    else if (swap_dir_cmd->parsed())
        code = run_swap_dir(settings, swap_dir);
    else if (process_dir->parsed())
        code = run_process_dir(settings, frame);
    brightloom_shutdown();
    return code;
}
