// Commands over whole video files: swap-video and process-video. ffmpeg
// decodes and encodes; every frame goes through the library's single-frame
// operation under the same live bar and Ctrl-C handling as the directory runs.
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "brightloom.h"
#include "child_process.h"
#include "common.h"
#include "../common/image_size.h"
#include "progress_monitor.h"
#include "video_job.h"

namespace {

struct VideoArgs {
    std::string input, output;
    EncodeOptions encoding;
    // Found and checked before the models load.
    std::string ffmpeg;
    VideoInfo info;
};
VideoArgs g_video;

struct SwapVideoArgs {
    std::string source, reference;
    bool enhance = false;
    int reference_frame = -1;
    int reference_position = 0;
    float reference_distance = 0.3f;
    CLI::Option* distance_option = nullptr;
};
SwapVideoArgs g_swap;

struct ProcessVideoArgs {
    std::string mode = "enhance";
    int scale = 2;
    float blend = 100.0f;
};
ProcessVideoArgs g_process;

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

int fail(const std::string& message, int code = EXIT_FAILED) {
    say("error: " + message);
    return code;
}

// A file the command reads, which OUTPUT must not replace: its path and
// what the refusal calls it ("the input").
struct ReadFile {
    std::string path;
    const char* name;
};

// Everything that can be refused without models: ffmpeg, the options, the
// paths and the input's streams.
int check_video_job(const std::vector<ReadFile>& also_read) {
    VideoArgs& a = g_video;
    a.ffmpeg = find_program("ffmpeg");
    std::string ffprobe = find_program("ffprobe");
    if (a.ffmpeg.empty() || ffprobe.empty())
        return fail("ffmpeg is not installed: install the Debian package ffmpeg");
    std::string problem = check_encode_options(a.output, a.encoding);
    if (!problem.empty()) return fail(problem, EXIT_USAGE);
    if (!readable_file(a.input)) return fail("Cannot read input: " + a.input);
    std::vector<ReadFile> read = {{a.input, "the input"}};
    read.insert(read.end(), also_read.begin(), also_read.end());
    for (const ReadFile& file : read)
        if (same_file(file.path, a.output))
            return fail(std::string("Output is ") + file.name + ": " + a.output);
    if (!writable_output(a.output)) return fail("Cannot write output: " + a.output);
    if (!probe_video(ffprobe, a.input, a.info, problem)) return fail(problem);
    return EXIT_OK;
}

int report(VideoJob& job, VideoJob::Outcome outcome, const std::string& error, double seconds) {
    char summary[512];
    if (outcome == VideoJob::Outcome::Cancelled) {
        snprintf(summary, sizeof summary, "cancelled after %d frames; %s not written", job.done(),
                 g_video.output.c_str());
        say(summary);
        return EXIT_CANCELLED;
    }
    if (outcome == VideoJob::Outcome::Failed) return fail(error);
    if (job.failed_frames() > 0) {
        snprintf(summary, sizeof summary,
                 "warning: %d of %d frames could not be processed and were kept unchanged",
                 job.failed_frames(), job.done());
        say(summary);
    }
    snprintf(summary, sizeof summary, "%d frames in %.1f s (%.1f fps) written to %s", job.done(),
             seconds, seconds > 0 ? job.done() / seconds : 0.0, g_video.output.c_str());
    say(summary);
    return EXIT_OK;
}

// Runs `operation` over every frame under the progress bar; `prepare` (the
// reference face) runs first, inside the same Ctrl-C handling.
int run_video_job(const Settings& s, const VideoJob::FrameOperation& operation,
                  const std::function<bool(VideoJob&, std::string&)>& prepare) {
    // A broken pipe to ffmpeg is reported as ffmpeg's failure, not a signal.
    signal(SIGPIPE, SIG_IGN);
    VideoArgs& a = g_video;
    VideoJob job(a.ffmpeg, a.input, a.output, a.encoding, a.info);
    RunnerCounters counters = {[&job] { return job.done(); }, [&job] { return job.total(); },
                               [&job] { job.cancel(); }};
    ProgressMonitor monitor(counters, terminal_fd(), s.quiet, VideoJob::hard_stop);
    std::string error;
    VideoJob::Outcome outcome = VideoJob::Outcome::Failed;
    if (job.prepare(error) && (!prepare || prepare(job, error)))
        outcome = job.run(operation, error);
    // Before the signal handling ends: a second Ctrl-C now still removes
    // what a cancelled run leaves.
    job.clean_up();
    monitor.finish();
    return report(job, outcome, error, monitor.elapsed_seconds());
}

bool set_reference(VideoJob& job, std::string& error) {
    const SwapVideoArgs& a = g_swap;
    std::string image = a.reference;
    if (a.reference_frame >= 0 && !job.extract_frame(a.reference_frame, image, error)) return false;
    if (image.empty()) return true;
    if (face_swap_video_set_reference(image.c_str(), a.reference_position) != 0) {
        error = brightloom_get_error();
        return false;
    }
    return true;
}

int run_swap_video(const Settings& s) {
    const SwapVideoArgs& a = g_swap;
    if (face_swap_video_init(a.source.c_str()) != 0) return fail_with_library_error();
    if (a.distance_option->count()) face_swap_video_set_reference_distance(a.reference_distance);
    bool enhance = a.enhance;
    int code = run_video_job(s, [enhance](const std::string& in, const std::string& out) {
        if (face_swap_video_frame(in.c_str(), out.c_str()) != 0) return false;
        // A swapped frame whose faces cannot be restored stays as swapped.
        if (enhance) face_enhance(out.c_str(), out.c_str());
        return true;
    }, set_reference);
    face_swap_video_cleanup();
    return code;
}

int run_process_video(const Settings& s) {
    const ProcessVideoArgs& a = g_process;
    return run_video_job(s, [&a](const std::string& in, const std::string& out) {
        if (a.mode == "enhance") return face_enhance(in.c_str(), out.c_str()) == 0;
        if (a.mode == "colorize") return frame_colorize(in.c_str(), out.c_str(), a.blend) == 0;
        return frame_upscale(in.c_str(), out.c_str(), a.scale, a.blend) == 0;
    }, nullptr);
}

void add_video_file_options(CLI::App* sub) {
    sub->add_option("input", g_video.input, "Video file")->required();
    sub->add_option("output", g_video.output,
                    "Result video (.mp4, .m4v, .mov, .mkv or .webm); written only when complete")
        ->required();
}

void add_encoding_options(CLI::App* sub) {
    EncodeOptions& e = g_video.encoding;
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
    add_encoding_options(sub);
    return sub;
}

}  // namespace

void add_video_commands(CLI::App& app, CommandList& commands) {
    Command swap_video;
    swap_video.app = add_swap_video_command(app);
    swap_video.models = ModelSet::Full;
    swap_video.before_init = [] {
        std::vector<ReadFile> also_read = {{g_swap.source, "the source image"}};
        if (!g_swap.reference.empty())
            also_read.push_back({g_swap.reference, "the reference image"});
        return check_video_job(also_read);
    };
    swap_video.run = run_swap_video;
    commands.push_back(swap_video);

    Command process_video;
    process_video.app = add_process_video_command(app);
    process_video.before_init = [] {
        g_video.encoding.scale = g_process.mode == "upscale" ? g_process.scale : 1;
        int code = check_video_job({});
        if (code != EXIT_OK || g_process.mode != "upscale") return code;
        std::string problem = upscale_limit_problem({g_video.info.width, g_video.info.height},
                                                    g_process.scale, g_video.input);
        return problem.empty() ? EXIT_OK : fail(problem);
    };
    process_video.run = run_process_video;
    commands.push_back(process_video);
}
