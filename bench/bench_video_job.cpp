// A video-file job against the same operation on the same frames in memory,
// per frame: what the job costs beyond the models (decoding, colour
// conversion, the pipes, encoding). Both run in one process, round after
// round, so a machine that gets busier or quieter meets them alike; with
// --serial the job also runs with its frames read, processed and written one
// after another (the way it ran before the read-ahead and write-behind
// threads), as a third column.
//
//   bench_video_job MODELS_DIR [options]
//     MODELS_DIR   a full model directory (the cost-matched stand-ins with
//                  the real detector, see bench/run_pipeline.sh)
//     --frames N   frames of the clip (default 12)
//     --rounds N   rounds (default 3); medians are printed
//     --only LIST  comma-separated subset of swap,enhance,colorize,upscale
//                  (default swap,enhance)
//     --size WxH   frame size (default 1920x1080; an upscale wants small)
//     --serial     also run the job without the overlap
//     --threads N  the models' worker threads (default 0: every core); with
//                  fewer threads than cores the job's ffmpeg children get a
//                  core of their own, as on a machine with cores to spare
//     --photo P    the photo the frames show (default the shared one-face
//                  photo); --source P the swap's source face
// The clip is the photo under a slowly panning window, encoded with libx264,
// so the job's encoder meets moving pictures as it would in use. Prints one
// table per operation: wall and processor time per frame (the job's
// processor time includes its ffmpeg children), and each column against the
// in-memory one. The load average is printed at the start and the end.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "bench_report.h"
#include "brightloom.h"
#include "image/image_io.h"
#include "video_file/child_process.h"
#include "video_file/video_job_testing.h"

namespace {

struct Options {
    std::string models;
    std::string photo = BL_BENCH_ASSETS_DIR "/images/single_biden_pd.jpg";
    std::string source = BL_BENCH_ASSETS_DIR "/images/single_obama_official_pd.jpg";
    int frames = 12;
    int rounds = 3;
    int width = 1920, height = 1080;
    bool serial = false;
    int threads = 0;
    std::vector<std::string> only = {"swap", "enhance"};
};

[[noreturn]] void fail(const std::string& what) {
    fprintf(stderr, "bench_video_job: %s: %s\n", what.c_str(), brightloom_last_error());
    exit(1);
}

// Processor time of this process and of its children already waited for.
double cpu_with_children_ms() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return cpu_ms() + (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

bool run_program(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// The photo scaled to the frame's height plus a margin and centred on
// black; the clip's window pans over it by up to the margin.
void make_clip(const Options& o, const std::string& work, const std::string& clip) {
    const int margin = 40, canvas_w = o.width + margin, canvas_h = o.height + margin;
    bl_image_ptr photo(bl_image_load(o.photo.c_str()));
    if (!photo) fail("loading " + o.photo);
    int width = std::min(canvas_w, static_cast<int>(double(canvas_h) * photo->width / photo->height));
    bl_image_ptr scaled(bl_image_resize(photo.get(), width, canvas_h));
    bl_image_ptr canvas(bl_image_create(canvas_w, canvas_h, 3));
    if (!scaled || !canvas) fail("making the clip's picture");
    const int left = (canvas_w - width) / 2;
    for (int y = 0; y < canvas_h; ++y)
        memcpy(canvas->data + (size_t(y) * canvas_w + left) * 3, scaled->data + size_t(y) * width * 3,
               size_t(width) * 3);
    const std::string still = work + "/still.png";
    if (bl_image_save(canvas.get(), still.c_str()) != 0) fail("writing " + still);
    const std::string pan = "crop=" + std::to_string(o.width) + ":" + std::to_string(o.height) +
                            ":x='20+20*sin(n/7)':y='20+20*cos(n/9)'";
    if (!run_program({"ffmpeg", "-nostdin", "-v", "error", "-y", "-loop", "1", "-i", still, "-vf", pan,
                      "-frames:v", std::to_string(o.frames), "-r", "25", "-pix_fmt", "yuv420p",
                      "-c:v", "libx264", "-preset", "fast", "-crf", "18", clip}))
        fail("ffmpeg cannot make the clip");
    unlink(still.c_str());
}

// The clip's frames as the job's decoder hands them over: RGB, in order.
std::vector<std::vector<uint8_t>> decode_clip(const Options& o, const std::string& clip) {
    ChildProcess decoder;
    ChildProcess::Streams streams;
    streams.pipe_output = true;
    std::string error;
    if (!decoder.start({find_program("ffmpeg"), "-nostdin", "-v", "error", "-i", clip, "-f",
                        "rawvideo", "-pix_fmt", "rgb24", "pipe:1"},
                       streams, error))
        fail("decoding the clip: " + error);
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> frame(size_t(o.width) * o.height * 3);
    while (read_exact(decoder.output_fd(), frame.data(), frame.size())) frames.push_back(frame);
    if (decoder.wait() != 0 || int(frames.size()) != o.frames)
        fail("the clip decoded to " + std::to_string(frames.size()) + " frames");
    return frames;
}

struct Sample {
    double wall = 0, cpu = 0;
};

Sample time_it(const std::function<void()>& work) {
    double wall = wall_ms(), cpu = cpu_with_children_ms();
    work();
    return {wall_ms() - wall, cpu_with_children_ms() - cpu};
}

class Bench {
public:
    Bench(const Options& o, brightloom_engine* engine, const std::string& work)
        : o_(o), engine_(engine), clip_(work + "/clip.mp4"), out_(work + "/out.mp4") {
        make_clip(o, work, clip_);
        frames_ = decode_clip(o, clip_);
        if (brightloom_image_load(o.source.c_str(), &source_) != BRIGHTLOOM_OK) fail("loading source");
        options_ = brightloom_default_options();
        if (o.width * o.height <= 512 * 512) options_.upscale_factor = 2;
    }
    ~Bench() {
        brightloom_image_release(&source_);
        unlink(out_.c_str());
        unlink(clip_.c_str());
    }

    // Every frame through the operation in memory, as the job would.
    Sample in_memory(const std::string& operation) {
        return time_it([&] {
            brightloom_swap_session* session = nullptr;
            if (operation == "swap" &&
                brightloom_swap_session_open(engine_, &source_, nullptr, &options_, &session) !=
                    BRIGHTLOOM_OK)
                fail("opening a swap session");
            for (const std::vector<uint8_t>& rgb : frames_) {
                brightloom_image frame = {o_.width, o_.height, o_.width * 3,
                                          const_cast<uint8_t*>(rgb.data())};
                brightloom_image out = {0, 0, 0, nullptr};
                brightloom_status status =
                    operation == "swap"       ? brightloom_swap_session_frame(session, &frame, &options_, &out)
                    : operation == "enhance"  ? brightloom_enhance_image(engine_, &frame, &options_, &out)
                    : operation == "colorize" ? brightloom_colorize_image(engine_, &frame, &options_, &out)
                                              : brightloom_upscale_image(engine_, &frame, &options_, &out);
                if (status != BRIGHTLOOM_OK) fail(operation + " in memory");
                brightloom_image_release(&out);
            }
            brightloom_swap_session_close(session);
        });
    }

    Sample job(const std::string& operation, bool overlap) {
        bl_video_job_set_overlap_for_testing(overlap);
        brightloom_video_summary summary = {0, 0};
        Sample sample = time_it([&] {
            brightloom_status status =
                operation == "swap"
                    ? brightloom_video_swap_file(engine_, &source_, nullptr, clip_.c_str(),
                                                 out_.c_str(), &options_, nullptr, &summary)
                    : brightloom_video_process_file(engine_, video_operation(operation),
                                                    clip_.c_str(), out_.c_str(), &options_,
                                                    nullptr, &summary);
            if (status != BRIGHTLOOM_OK) fail(operation + " job");
        });
        bl_video_job_set_overlap_for_testing(true);
        if (summary.frames != o_.frames || summary.failed_frames != 0) fail(operation + " job's frames");
        return sample;
    }

private:
    static brightloom_video_operation video_operation(const std::string& name) {
        return name == "enhance"    ? BRIGHTLOOM_VIDEO_ENHANCE
               : name == "colorize" ? BRIGHTLOOM_VIDEO_COLORIZE
                                    : BRIGHTLOOM_VIDEO_UPSCALE;
    }

    const Options& o_;
    brightloom_engine* engine_;
    std::string clip_, out_;
    std::vector<std::vector<uint8_t>> frames_;
    brightloom_image source_ = {0, 0, 0, nullptr};
    brightloom_options options_;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void print_table(const std::string& operation, const std::vector<std::string>& columns,
                 const std::map<std::string, std::vector<Sample>>& samples, int frames) {
    printf("\n%s, per frame (median of %zu rounds)\n", operation.c_str(),
           samples.at(columns[0]).size());
    printf("| | wall ms | x in memory | processor ms | x in memory |\n|---|---:|---:|---:|---:|\n");
    auto per_frame = [&](const std::string& column, double Sample::*field) {
        std::vector<double> values;
        for (const Sample& s : samples.at(column)) values.push_back(s.*field / frames);
        return median(values);
    };
    const double base_wall = per_frame(columns[0], &Sample::wall);
    const double base_cpu = per_frame(columns[0], &Sample::cpu);
    for (const std::string& column : columns) {
        double wall = per_frame(column, &Sample::wall), cpu = per_frame(column, &Sample::cpu);
        printf("| %s | %.0f | %.3f | %.0f | %.3f |\n", column.c_str(), wall, wall / base_wall, cpu,
               cpu / base_cpu);
    }
    fflush(stdout);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool has_value = i + 1 < argc;
        if (arg == "--frames" && has_value) o.frames = std::max(1, atoi(argv[++i]));
        else if (arg == "--rounds" && has_value) o.rounds = std::max(1, atoi(argv[++i]));
        else if (arg == "--only" && has_value) o.only = split(argv[++i]);
        else if (arg == "--size" && has_value) {
            if (sscanf(argv[++i], "%dx%d", &o.width, &o.height) != 2) return Options{};
        } else if (arg == "--serial") o.serial = true;
        else if (arg == "--threads" && has_value) o.threads = atoi(argv[++i]);
        else if (arg == "--photo" && has_value) o.photo = argv[++i];
        else if (arg == "--source" && has_value) o.source = argv[++i];
        else if (arg.compare(0, 2, "--") == 0 || !o.models.empty()) return Options{};
        else o.models = arg;
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    if (o.models.empty()) {
        fprintf(stderr,
                "usage: bench_video_job MODELS_DIR [--frames N] [--rounds N] [--only LIST] "
                "[--size WxH] [--serial] [--threads N] [--photo P] [--source P]\n");
        return 2;
    }
    char pattern[] = "/tmp/bl_video_job_XXXXXX";
    if (!mkdtemp(pattern)) fail("making a work folder");
    brightloom_engine_params params = brightloom_engine_default_params();
    params.warm_up = 1;  // as the video hosts open it
    params.intra_threads = o.threads;
    brightloom_engine* engine = nullptr;
    if (brightloom_engine_open(o.models.c_str(), &params, &engine) != BRIGHTLOOM_OK)
        fail("opening the engine");
    print_load("at the start");
    {
        Bench bench(o, engine, pattern);
        std::vector<std::string> columns = {"in memory", "job"};
        if (o.serial) columns.push_back("job, serial");
        for (const std::string& operation : o.only) {
            // A first round of each, unmeasured: the runtime's first runs of
            // models the open did not warm (the upscalers) and the page cache.
            bench.in_memory(operation);
            bench.job(operation, true);
            std::map<std::string, std::vector<Sample>> samples;
            for (int round = 0; round < o.rounds; ++round) {
                samples["in memory"].push_back(bench.in_memory(operation));
                // The two jobs take turns at going first, so neither always
                // follows the in-memory run.
                if (o.serial && round % 2 == 1)
                    samples["job, serial"].push_back(bench.job(operation, false));
                samples["job"].push_back(bench.job(operation, true));
                if (o.serial && round % 2 == 0)
                    samples["job, serial"].push_back(bench.job(operation, false));
                fprintf(stderr, "[bench_video_job] %s round %d/%d\n", operation.c_str(), round + 1,
                        o.rounds);
            }
            print_table(operation, columns, samples, o.frames);
        }
    }
    print_load("at the end");
    brightloom_engine_close(engine);
    rmdir(pattern);
    return 0;
}
