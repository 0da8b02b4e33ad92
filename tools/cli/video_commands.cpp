// Commands over whole video files: swap-video and process-video. The
// library's video-file job does the work on an engine of the command's own;
// the command adds the live bar and the Ctrl-C handling of the directory runs.
#include <signal.h>
#include <stdio.h>

#include <atomic>
#include <filesystem>

#include "brightloom.h"
#include "common.h"
#include "progress_monitor.h"

namespace {

struct VideoArgs {
    std::string input, output;
    int crf = 18;
    std::string preset = "medium";
    std::string codec;
    float smoothing = -1.0f;  // automatic
};
VideoArgs g_video;

struct SwapVideoArgs {
    std::string source, reference;
    bool enhance = false;
    int reference_frame = -1;
    int reference_position = 0;
    float reference_distance = brightloom_default_options().reference_distance;
    CLI::Option* distance_option = nullptr;
};
SwapVideoArgs g_swap;

struct ProcessVideoArgs {
    std::string mode = "enhance";
    int scale = brightloom_default_options().upscale_factor;
    float blend = brightloom_default_options().frame_blend;
};
ProcessVideoArgs g_process;

// The codecs and presets the library's job takes.
const std::vector<std::string> VIDEO_CODECS = {"libx264", "libx265", "libvpx-vp9"};
const std::vector<std::string> VIDEO_PRESETS = {"ultrafast", "superfast", "veryfast", "faster",
                                                "fast",      "medium",    "slow",     "slower",
                                                "veryslow"};

bool same_file(const std::string& a, const std::string& b) {
    std::error_code error;
    if (std::filesystem::exists(b, error))
        return std::filesystem::equivalent(a, b, error) && !error;
    return std::filesystem::weakly_canonical(a, error) == std::filesystem::weakly_canonical(b, error);
}

int fail(const std::string& message, int code = EXIT_FAILED) {
    say("error: " + message);
    return code;
}

brightloom_video_operation process_operation() {
    if (g_process.mode == "enhance") return BRIGHTLOOM_VIDEO_ENHANCE;
    if (g_process.mode == "colorize") return BRIGHTLOOM_VIDEO_COLORIZE;
    return BRIGHTLOOM_VIDEO_UPSCALE;
}

brightloom_video_params video_params() {
    brightloom_video_params params = brightloom_video_default_params();
    params.crf = g_video.crf;
    params.preset = g_video.preset.c_str();
    params.codec = g_video.codec.empty() ? nullptr : g_video.codec.c_str();
    params.reference_frame = g_swap.reference_frame;
    return params;
}

brightloom_options frame_options(const Settings& s) {
    brightloom_options options = options_from(s);
    options.frame_blend = g_process.blend;
    options.upscale_factor = g_process.scale;
    options.enhance_after_swap = g_swap.enhance;
    options.reference_position = g_swap.reference_position < 0 ? 0 : g_swap.reference_position;
    options.reference_distance = g_swap.reference_distance;
    options.smoothing = g_video.smoothing;
    return options;
}

// A file the command reads, which OUTPUT must not replace: its path and
// what the refusal calls it ("the source image").
struct ReadFile {
    std::string path;
    const char* name;
};

// Everything that can be refused without models.
int check_video_job(brightloom_video_operation operation, const std::vector<ReadFile>& also_read) {
    brightloom_options options = brightloom_default_options();
    options.upscale_factor = g_process.scale;
    brightloom_video_params params = video_params();
    brightloom_status status = brightloom_video_check_file(operation, g_video.input.c_str(),
                                                           g_video.output.c_str(), &options, &params);
    if (status != BRIGHTLOOM_OK)
        return fail(brightloom_last_error(), status == BRIGHTLOOM_BAD_ARGUMENT ? EXIT_USAGE : EXIT_FAILED);
    for (const ReadFile& file : also_read)
        if (same_file(file.path, g_video.output))
            return fail(std::string("Output is ") + file.name + ": " + g_video.output);
    return EXIT_OK;
}

int open_engine(const Settings& s, bool swap, brightloom_engine** engine) {
    brightloom_engine_params params = brightloom_engine_default_params();
    params.detector = s.detector.empty() ? nullptr : s.detector.c_str();
    params.swapper = s.swapper.empty() ? nullptr : s.swapper.c_str();
    params.enhancer = s.enhancer.empty() ? nullptr : s.enhancer.c_str();
    params.open_swap = swap;
    if (brightloom_engine_open(s.models.c_str(), &params, engine) != BRIGHTLOOM_OK)
        return fail(brightloom_last_error());
    return EXIT_OK;
}

// What the job tells, for the monitor's thread to read.
struct JobCounters {
    std::atomic<int32_t> done{0}, total{-1};
    volatile int32_t cancel = 0;
};

void count_frames(void* user_data, int32_t done, int32_t total) {
    JobCounters* counters = static_cast<JobCounters*>(user_data);
    counters->done = done;
    counters->total = total;
}

int report(brightloom_status status, const brightloom_video_summary& summary, double seconds) {
    char line[512];
    if (status == BRIGHTLOOM_CANCELLED) {
        snprintf(line, sizeof line, "cancelled after %d frames; %s not written", summary.frames,
                 g_video.output.c_str());
        say(line);
        return EXIT_CANCELLED;
    }
    if (status != BRIGHTLOOM_OK) return fail(brightloom_last_error());
    if (summary.failed_frames > 0) {
        snprintf(line, sizeof line,
                 "warning: %d of %d frames could not be processed and were kept unchanged",
                 summary.failed_frames, summary.frames);
        say(line);
    }
    snprintf(line, sizeof line, "%d frames in %.1f s (%.1f fps) written to %s", summary.frames,
             seconds, seconds > 0 ? summary.frames / seconds : 0.0, g_video.output.c_str());
    say(line);
    return EXIT_OK;
}

// Runs `job` under the progress bar: the first Ctrl-C cancels it, a second
// one (or SIGTERM, SIGHUP, SIGQUIT) stops ffmpeg and removes the partial
// output before the process ends.
int run_video_job(const Settings& s,
                  const std::function<brightloom_status(const brightloom_video_params&,
                                                        brightloom_video_summary*)>& job) {
    // A broken pipe to ffmpeg is reported as ffmpeg's failure, not a signal.
    signal(SIGPIPE, SIG_IGN);
    JobCounters counters;
    RunnerCounters polled = {[&counters] { return counters.done.load(); },
                             [&counters] { return counters.total.load(); },
                             [&counters] { counters.cancel = 1; }};
    ProgressMonitor monitor(polled, terminal_fd(), s.quiet, brightloom_video_hard_stop);
    brightloom_video_params params = video_params();
    params.progress = count_frames;
    params.progress_user_data = &counters;
    params.cancel = &counters.cancel;
    brightloom_video_summary summary = {0, 0};
    brightloom_status status = job(params, &summary);
    monitor.finish();
    return report(status, summary, monitor.elapsed_seconds());
}

int load_image(const std::string& path, const char* what, brightloom_image* image) {
    if (brightloom_image_load(path.c_str(), image) == BRIGHTLOOM_OK) return EXIT_OK;
    return fail(std::string("Failed to load ") + what + ": " + path);
}

int run_swap_video(const Settings& s) {
    const SwapVideoArgs& a = g_swap;
    brightloom_engine* engine = nullptr;
    brightloom_image source = {0, 0, 0, nullptr}, reference = {0, 0, 0, nullptr};
    int code = open_engine(s, true, &engine);
    if (code == EXIT_OK) code = load_image(a.source, "source image", &source);
    if (code == EXIT_OK && !a.reference.empty())
        code = load_image(a.reference, "reference image", &reference);
    if (code == EXIT_OK) {
        brightloom_options options = frame_options(s);
        const brightloom_image* with = a.reference.empty() ? nullptr : &reference;
        code = run_video_job(s, [&](const brightloom_video_params& params,
                                    brightloom_video_summary* summary) {
            return brightloom_video_swap_file(engine, &source, with, g_video.input.c_str(),
                                              g_video.output.c_str(), &options, &params, summary);
        });
    }
    brightloom_image_release(&reference);
    brightloom_image_release(&source);
    brightloom_engine_close(engine);
    return code;
}

int run_process_video(const Settings& s) {
    brightloom_engine* engine = nullptr;
    int code = open_engine(s, false, &engine);
    if (code != EXIT_OK) return code;
    brightloom_options options = frame_options(s);
    code = run_video_job(s, [&](const brightloom_video_params& params,
                                brightloom_video_summary* summary) {
        return brightloom_video_process_file(engine, process_operation(), g_video.input.c_str(),
                                             g_video.output.c_str(), &options, &params, summary);
    });
    brightloom_engine_close(engine);
    return code;
}

void add_video_file_options(CLI::App* sub) {
    sub->add_option("input", g_video.input, "Video file")->required();
    sub->add_option("output", g_video.output,
                    "Result video (.mp4, .m4v, .mov, .mkv or .webm); written only when complete")
        ->required();
}

// Steadies the faces' alignment points from frame to frame (swaps and the
// enhance mode; the others have no faces to place).
void add_smoothing_option(CLI::App* sub) {
    sub->add_option("--smoothing", g_video.smoothing,
                    "Face tracking strength: 0 off (each frame on its own) ... 1; default 0.5")
        ->check(CLI::Range(0.0f, 1.0f));
}

void add_encoding_options(CLI::App* sub) {
    VideoArgs& e = g_video;
    sub->add_option("--crf", e.crf, "Quality: 0 best ... 51 smallest")
        ->check(CLI::Range(0, 51))
        ->capture_default_str();
    sub->add_option("--preset", e.preset, "Encoding speed against size")
        ->check(CLI::IsMember(VIDEO_PRESETS))
        ->capture_default_str();
    sub->add_option("--codec", e.codec, "Video codec (libx264; libvpx-vp9 for .webm)")
        ->check(CLI::IsMember(VIDEO_CODECS));
}

CLI::App* add_swap_video_command(CLI::App& app) {
    CLI::App* sub = app.add_subcommand(
        "swap-video", "Swap the best face of SOURCE into every frame of the video INPUT");
    sub->add_option("source", g_swap.source, "Image with the face to use")->required();
    add_video_file_options(sub);
    sub->add_flag("--enhance", g_swap.enhance, "Restore the swapped faces");
    CLI::Option* reference = sub->add_option(
        "--reference", g_swap.reference, "Only swap faces resembling a face of this image");
    CLI::Option* reference_frame =
        sub->add_option("--reference-frame", g_swap.reference_frame,
                        "Only swap faces resembling a face of frame N of INPUT (0 = first)")
            ->check(CLI::NonNegativeNumber);
    reference->excludes(reference_frame);
    g_swap.distance_option = add_reference_match_options(sub, g_swap.reference_position,
                                                         g_swap.reference_distance);
    add_smoothing_option(sub);
    add_encoding_options(sub);
    return sub;
}

CLI::App* add_process_video_command(CLI::App& app) {
    CLI::App* sub = app.add_subcommand(
        "process-video", "Enhance, colorize or upscale every frame of the video INPUT");
    add_frame_mode_option(sub, g_process.mode);
    add_video_file_options(sub);
    add_blend_option(sub, g_process.blend, "processed frame (colorize, upscale)");
    add_scale_option(sub, g_process.scale);
    add_smoothing_option(sub);
    add_encoding_options(sub);
    return sub;
}

}  // namespace

void add_video_commands(CLI::App& app, CommandList& commands) {
    Command swap_video;
    swap_video.app = add_swap_video_command(app);
    swap_video.models = ModelSet::Engine;
    swap_video.before_init = [] {
        std::vector<ReadFile> also_read = {{g_swap.source, "the source image"}};
        if (!g_swap.reference.empty())
            also_read.push_back({g_swap.reference, "the reference image"});
        return check_video_job(BRIGHTLOOM_VIDEO_SWAP, also_read);
    };
    swap_video.run = run_swap_video;
    commands.push_back(swap_video);

    Command process_video;
    process_video.app = add_process_video_command(app);
    process_video.models = ModelSet::Engine;
    process_video.before_init = [] { return check_video_job(process_operation(), {}); };
    process_video.run = run_process_video;
    commands.push_back(process_video);
}
