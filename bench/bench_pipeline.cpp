// End to end: the public operations on real photos with a full model
// directory (the cost-matched stand-ins, see bench/run_pipeline.sh), timed the
// way a user meets them: initialization per model, the first call after it,
// the steady state, a directory of frames, peak memory and threads. The
// library is compiled into this program with the runtime counters
// (BL_BENCH_TIMING), so every figure also says how much of it ran inside the
// runtime's Run.
//
//   bench_pipeline MODELS_DIR [SOURCE [ONE_FACE [GROUP [SMALL]]]] [options]
//     --repeat N      steady-state calls per operation (median; default 3)
//     --frames N      frames of the directory swap (default 30)
//     --tuning T,S    sessions with T intra-op threads (0: the runtime picks)
//                     and spinning S (0/1) instead of the library's choice
//     --memory M      where the sessions keep run memory: arenas (each its
//                     own), off (no arena), off-pattern (no arena, no
//                     planned block per run), shared (one for all),
//                     shared-exact (one for all, grown by what is asked),
//                     shrunk (an arena each, emptied after every run) or
//                     cache (freed blocks kept up to a budget for all)
//     --only LIST     comma-separated subset of: swap,group,enhance,colorize,
//                     upscale,frames
// Prints one "name<TAB>value<TAB>unit" line per figure.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "brightloom.h"
#include "image/image_io.h"
#include "inference/bench_timing.h"
#include "inference/block_cache.h"
#include "inference/model_session.h"
#include "inference/session_tuning_testing.h"

namespace {

struct options {
    std::string models;
    std::string source, one_face, group, small;
    int repeat = 3;
    int frames = 30;
    bool tuned = false;
    bl_session_tuning tuning{0, 1, BL_MEMORY_SESSION_ARENAS};
    int memory = -1;  // --memory; -1: the library's choice
    std::string only;
};

struct timed {
    double ms;
    double run_ms;  // of which inside the runtime's Run
    double cpu_ms;  // processor time of the whole process meanwhile
};

double now_ms() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// User and system time of every thread of the process: workers that spin
// burn it without moving the work forward.
double cpu_ms() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

void report(const std::string& name, double value, const char* unit) {
    printf("%s\t%.3f\t%s\n", name.c_str(), value, unit);
    fflush(stdout);
}

[[noreturn]] void fail(const std::string& what) {
    fprintf(stderr, "bench_pipeline: %s: %s\n", what.c_str(), brightloom_get_error());
    exit(1);
}

timed time_call(const std::function<int32_t()>& call, const std::string& what) {
    bl_bench_timing* timing = bl_bench_timing_get();
    int64_t run_before = timing->run_ns;
    double start = now_ms(), cpu_start = cpu_ms();
    if (call() != 0) fail(what);
    return timed{now_ms() - start, (timing->run_ns - run_before) / 1e6, cpu_ms() - cpu_start};
}

// First call, then the median of `repeat` further calls, with the share of
// the steady call spent outside Run.
void measure(const options& o, const std::string& name, const std::function<int32_t()>& call) {
    timed first = time_call(call, name);
    report(name + " first", first.ms, "ms");
    std::vector<timed> steady;
    for (int i = 0; i < o.repeat; ++i) steady.push_back(time_call(call, name));
    std::sort(steady.begin(), steady.end(),
              [](const timed& a, const timed& b) { return a.ms < b.ms; });
    const timed& median = steady[steady.size() / 2];
    report(name + " steady", median.ms, "ms");
    report(name + " steady in Run", median.run_ms, "ms");
    report(name + " steady outside Run", 100.0 * (median.ms - median.run_ms) / median.ms, "%");
    report(name + " steady / Run", median.ms / median.run_ms, "x");
    report(name + " steady CPU time", median.cpu_ms, "ms");
}

// The process's resident set now (VmRSS), in MiB.
double resident_mib() {
    double kib = 0;
    if (FILE* status = fopen("/proc/self/status", "r")) {
        char line[256];
        while (fgets(line, sizeof line, status))
            if (sscanf(line, "VmRSS: %lf kB", &kib) == 1) break;
        fclose(status);
    }
    return kib / 1024.0;
}

int thread_count() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
    }
    return count;
}

std::string base_name(const std::string& path) {
    size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

void measure_init(const options& o) {
    bl_bench_timing* timing = bl_bench_timing_get();
    timing->session_ns.clear();
    double start = now_ms();
    if (brightloom_init(o.models.c_str()) != 0) fail("brightloom_init");
    report("init total", now_ms() - start, "ms");
    for (const auto& session : timing->session_ns)
        report("init " + base_name(session.first), session.second / 1e6, "ms");
    report("threads after init", thread_count(), "");
    report("resident after init", resident_mib(), "MiB");
    bl_session_tuning tuning = bl_session_tuning_for(0);
    report("intra-op threads", tuning.intra_threads, "");
}

// `count` 1920x1080 PNG frames of `photo`, scaled to the frame's height and
// centred on black, as a video's frames would be.
void write_frames(const std::string& photo, const std::string& dir, int count) {
    bl_image_ptr image(bl_image_load(photo.c_str()));
    if (!image) fail("loading " + photo);
    int height = 1080;
    int width = std::min(1920, static_cast<int>(1080.0 * image->width / image->height));
    bl_image_ptr scaled(bl_image_resize(image.get(), width, height));
    bl_image_ptr frame(bl_image_create(1920, 1080, 3));
    if (!scaled || !frame) fail("making frames");
    int left = (1920 - width) / 2;
    for (int y = 0; y < height; ++y)
        memcpy(frame->data + (static_cast<size_t>(y) * 1920 + left) * 3,
               scaled->data + static_cast<size_t>(y) * width * 3, static_cast<size_t>(width) * 3);
    for (int i = 0; i < count; ++i) {
        char name[32];
        snprintf(name, sizeof name, "/frame_%04d.png", i);
        if (bl_image_save(frame.get(), (dir + name).c_str()) != 0) fail("writing frames");
    }
}

void measure_frames(const options& o, const std::string& work) {
    std::string in = work + "/frames_in", out = work + "/frames_out";
    mkdir(in.c_str(), 0755);
    mkdir(out.c_str(), 0755);
    write_frames(o.one_face, in, o.frames);
    if (face_swap_video_init(o.source.c_str()) != 0) fail("face_swap_video_init");
    timed run = time_call([&] { return face_swap_video_dir(in.c_str(), out.c_str(), 0); },
                          "face_swap_video_dir");
    face_swap_video_cleanup();
    report("frame dir swap", o.frames * 1000.0 / run.ms, "fps");
    report("frame dir swap outside Run", 100.0 * (run.ms - run.run_ms) / run.ms, "%");
    report("frame dir swap CPU time per frame", run.cpu_ms / o.frames, "ms");
}

bool wanted(const options& o, const char* part) {
    if (o.only.empty()) return true;
    std::string list = "," + o.only + ",";
    return list.find(std::string(",") + part + ",") != std::string::npos;
}

options parse(int argc, char** argv) {
    options o;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool has_value = i + 1 < argc;
        if (arg == "--repeat" && has_value) {
            o.repeat = std::max(1, atoi(argv[++i]));
        } else if (arg == "--frames" && has_value) {
            o.frames = std::max(1, atoi(argv[++i]));
        } else if (arg == "--tuning" && has_value) {
            o.tuned = sscanf(argv[++i], "%d,%d", &o.tuning.intra_threads,
                             &o.tuning.allow_spinning) == 2;
            if (!o.tuned) return options{};
        } else if (arg == "--memory" && has_value) {
            const std::string mode = argv[++i];
            o.memory = mode == "arenas" ? BL_MEMORY_SESSION_ARENAS
                       : mode == "off"  ? BL_MEMORY_NO_ARENA
                       : mode == "shared" ? BL_MEMORY_SHARED_ARENA
                       : mode == "off-pattern" ? BL_MEMORY_NO_ARENA_NO_PATTERN
                       : mode == "shared-exact" ? BL_MEMORY_SHARED_EXACT_ARENA
                       : mode == "shrunk" ? BL_MEMORY_SHRUNK_ARENAS
                       : mode == "cache" ? BL_MEMORY_BLOCK_CACHE
                                                : -2;
            if (o.memory == -2) return options{};
        } else if (arg == "--only" && has_value) {
            o.only = argv[++i];
        } else if (arg.compare(0, 2, "--") == 0) {
            return options{};
        } else {
            positional.push_back(arg);
        }
    }
    const std::string images = BL_BENCH_ASSETS_DIR "/images/";
    const char* defaults[] = {"single_obama_official_pd.jpg", "single_biden_pd.jpg",
                              "dlib_voc_2007_007763.jpg", "single_obama_240p_smallface.jpg"};
    std::string* slots[] = {&o.source, &o.one_face, &o.group, &o.small};
    if (!positional.empty()) o.models = positional[0];
    for (size_t k = 0; k < 4; ++k)
        *slots[k] = k + 1 < positional.size() ? positional[k + 1] : images + defaults[k];
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    options o = parse(argc, argv);
    if (o.models.empty()) {
        fprintf(stderr,
                "usage: bench_pipeline MODELS_DIR [SOURCE [ONE_FACE [GROUP [SMALL]]]] "
                "[--repeat N] [--frames N] [--tuning THREADS,SPIN] [--memory arenas|off|off-pattern|shared|shared-exact|shrunk|cache] "
                "[--only LIST]\n");
        return 2;
    }
    if (o.tuned || o.memory >= 0) {
        if (!o.tuned) o.tuning = bl_session_tuning_for(0);
        if (o.memory >= 0) o.tuning.memory = o.memory;
        bl_session_set_tuning_for_testing(&o.tuning);
    }
    char pattern[] = "/tmp/bl_pipeline_XXXXXX";
    if (!mkdtemp(pattern)) fail("making a work folder");
    const std::string work = pattern;
    const std::string out = work + "/out.png";

    measure_init(o);
    if (wanted(o, "swap"))
        measure(o, "face_swap 1 face", [&] { return face_swap(o.source.c_str(), o.one_face.c_str(), out.c_str()); });
    report("threads after a swap", thread_count(), "");
    if (wanted(o, "group"))
        measure(o, "face_swap group", [&] { return face_swap(o.source.c_str(), o.group.c_str(), out.c_str()); });
    if (wanted(o, "enhance"))
        measure(o, "face_enhance", [&] { return face_enhance(o.one_face.c_str(), out.c_str()); });
    if (wanted(o, "colorize"))
        measure(o, "frame_colorize", [&] { return frame_colorize(o.one_face.c_str(), out.c_str(), 100.0f); });
    if (wanted(o, "upscale"))
        measure(o, "frame_upscale x2", [&] { return frame_upscale(o.small.c_str(), out.c_str(), 2, 100.0f); });
    if (wanted(o, "frames")) measure_frames(o, work);
    report("threads at the end", thread_count(), "");
    report("resident after every operation", resident_mib(), "MiB");
    const bl_block_cache_stats cache = bl_block_cache_read_stats();
    if (cache.hits + cache.misses > 0) {
        report("block cache kept", cache.kept_bytes / 1048576.0, "MiB");
        report("block cache hits", 100.0 * cache.hits / (cache.hits + cache.misses), "%");
    }

    brightloom_shutdown();
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    report("peak RSS", usage.ru_maxrss / 1024.0, "MiB");
    // Only what this run wrote: its frames, the output and the folders.
    for (const char* sub : {"/frames_in", "/frames_out"}) {
        std::string dir = work + sub;
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* entry = readdir(d))
                if (entry->d_name[0] != '.') unlink((dir + "/" + entry->d_name).c_str());
            closedir(d);
        }
        rmdir(dir.c_str());
    }
    unlink(out.c_str());
    rmdir(work.c_str());
    return 0;
}
