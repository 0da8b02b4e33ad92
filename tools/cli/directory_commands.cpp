// Commands over folders of frame images: swap-dir and process-dir, run under
// the live progress bar with Ctrl-C cancelling after the current frame.
#include <stdio.h>

#include "brightloom.h"
#include "common.h"
#include "progress_monitor.h"

namespace {

struct SwapDirArgs {
    std::string source, input_dir, output_dir, reference;
    bool enhance = false;
    int reference_position = 0;
    float reference_distance = brightloom_default_options().reference_distance;
    CLI::Option* distance_option = nullptr;
};
SwapDirArgs g_swap;

struct ProcessDirArgs {
    std::string mode = "enhance", input_dir, output_dir;
    int scale = brightloom_default_options().upscale_factor;
    float blend = brightloom_default_options().frame_blend;
};
ProcessDirArgs g_process;

// Runs one directory job under a progress monitor and reports how it ended.
int run_directory_job(const Settings& s, RunnerCounters counters, const std::string& output_dir,
                      const std::function<int32_t()>& job) {
    ProgressMonitor monitor(counters, terminal_fd(), s.quiet);
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

int run_swap_dir(const Settings& s) {
    const SwapDirArgs& a = g_swap;
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

int32_t frame_mode_code(const std::string& mode) {
    for (size_t i = 0; i < FRAME_MODES.size(); ++i)
        if (FRAME_MODES[i] == mode) return static_cast<int32_t>(i);
    return -1;
}

int run_process_dir(const Settings& s) {
    const ProcessDirArgs& a = g_process;
    if (!make_output_dir(a.output_dir)) return EXIT_FAILED;
    RunnerCounters counters = {frame_process_video_progress, frame_process_video_total,
                               frame_process_video_cancel};
    return run_directory_job(s, counters, a.output_dir, [&] {
        return frame_process_video_dir(a.input_dir.c_str(), a.output_dir.c_str(),
                                       frame_mode_code(a.mode), a.scale, a.blend);
    });
}

CLI::App* add_swap_dir_command(CLI::App& app) {
    CLI::App* sub = app.add_subcommand(
        "swap-dir", "Swap the best face of SOURCE into every frame image of INPUT_DIR");
    sub->add_option("source", g_swap.source, "Image with the face to use")->required();
    sub->add_option("input_dir", g_swap.input_dir, "Folder of frame images")->required();
    sub->add_option("output_dir", g_swap.output_dir, "Folder for the results (created)")->required();
    sub->add_flag("--enhance", g_swap.enhance, "Restore the swapped faces");
    sub->add_option("--reference", g_swap.reference, "Only swap faces resembling a face of this image");
    g_swap.distance_option = add_reference_match_options(sub, g_swap.reference_position,
                                                         g_swap.reference_distance);
    return sub;
}

CLI::App* add_process_dir_command(CLI::App& app) {
    CLI::App* sub = app.add_subcommand(
        "process-dir", "Enhance, colorize or upscale every frame image of INPUT_DIR");
    add_frame_mode_option(sub, g_process.mode);
    sub->add_option("input_dir", g_process.input_dir, "Folder of frame images")->required();
    sub->add_option("output_dir", g_process.output_dir, "Folder for the results (created)")
        ->required();
    add_blend_option(sub, g_process.blend, "processed frame (colorize, upscale)");
    add_scale_option(sub, g_process.scale);
    return sub;
}

}  // namespace

void add_directory_commands(CLI::App& app, CommandList& commands) {
    Command swap_dir;
    swap_dir.app = add_swap_dir_command(app);
    swap_dir.models = ModelSet::Full;
    swap_dir.run = run_swap_dir;
    commands.push_back(swap_dir);

    Command process_dir;
    process_dir.app = add_process_dir_command(app);
    process_dir.run = run_process_dir;
    commands.push_back(process_dir);
}
