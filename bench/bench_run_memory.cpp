// Steady speed of the places a run's memory can live, compared in one
// process: one engine per mode, all open at once, and every operation called
// on each engine in turn, round after round. Separate runs on a shared
// machine differ by 10-15% from one to the next, which hides the few percent
// asked about here; calls interleaved this way meet the same machine. Memory
// is not measured here (one process holds every engine): bench_pipeline
// --memory M gives each mode's resident and peak size.
//
//   bench_run_memory MODELS_DIR [--rounds N] [--modes LIST] [--only LIST]
//     MODELS_DIR  a full model directory (the cost-matched stand-ins, see
//                 bench/run_pipeline.sh)
//     --rounds N  calls of each operation on each engine (default 7)
//     --modes     comma-separated, the first is the reference (default
//                 arenas,off,cache): arenas, off, off-pattern, shared,
//                 shared-exact, shrunk, cache. shared, shared-exact and
//                 cache each register one allocator for the whole process,
//                 so take at most one of them per run.
//     --only      comma-separated subset of swap,group,enhance,colorize,
//                 upscale (x2)
//     --budget M  the cache engine's run memory budget in MiB (engine
//                 params run_memory_mib; default 0, automatic)
// Prints, per operation and mode, the median wall and processor time of a
// call and their ratio to the first mode's; for the cache, the blocks per
// measured call that were found kept (hits) and those that were not
// (misses, with the MiB they asked for), and what the cache holds after.
// The load average is printed at the start and the end: on a shared
// machine, compare the processor times.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "bench_report.h"
#include "brightloom.h"
#include "inference/block_cache.h"
#include "inference/model_session.h"
#include "inference/session_tuning_testing.h"

namespace {

const struct {
    const char* name;
    int memory;
} MODES[] = {
    {"arenas", BL_MEMORY_SESSION_ARENAS},     {"off", BL_MEMORY_NO_ARENA},
    {"off-pattern", BL_MEMORY_NO_ARENA_NO_PATTERN}, {"shared", BL_MEMORY_SHARED_ARENA},
    {"shared-exact", BL_MEMORY_SHARED_EXACT_ARENA}, {"shrunk", BL_MEMORY_SHRUNK_ARENAS},
    {"cache", BL_MEMORY_BLOCK_CACHE},
};

[[noreturn]] void fail(const std::string& what) {
    fprintf(stderr, "bench_run_memory: %s: %s\n", what.c_str(), brightloom_last_error());
    exit(1);
}

int memory_of(const std::string& name) {
    for (const auto& mode : MODES)
        if (name == mode.name) return mode.memory;
    fail("unknown mode " + name);
}

// The cache's counters over one operation's measured calls, per call.
void print_cache_use(const std::string& op, const bl_block_cache_stats& before, int calls) {
    const bl_block_cache_stats after = bl_block_cache_read_stats();
    printf("# %s cache per call: %.1f hits, %.1f misses (%.1f MiB asked); kept %.0f MiB, "
           "peak in use %.0f MiB, budget %.0f MiB\n",
           op.c_str(), double(after.hits - before.hits) / calls,
           double(after.misses - before.misses) / calls,
           (after.missed_bytes - before.missed_bytes) / 1048576.0 / calls,
           after.kept_bytes / 1048576.0, after.peak_in_use / 1048576.0, after.budget / 1048576.0);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct loaded_image {
    brightloom_image image = {};
    explicit loaded_image(const std::string& path) {
        if (brightloom_image_load(path.c_str(), &image) != BRIGHTLOOM_OK) fail("loading " + path);
    }
    ~loaded_image() { brightloom_image_release(&image); }
};

using operation = std::function<brightloom_status(brightloom_engine*, brightloom_image*)>;

brightloom_engine* open_engine(const std::string& models, int memory, int budget_mib) {
    bl_session_tuning tuning = bl_session_tuning_for(0);
    tuning.memory = memory;
    bl_session_set_tuning_for_testing(&tuning);
    brightloom_engine_params params = brightloom_engine_default_params();
    params.run_memory_mib = budget_mib;
    brightloom_engine* engine = nullptr;
    if (brightloom_engine_open(models.c_str(), &params, &engine) != BRIGHTLOOM_OK) fail("opening");
    bl_session_set_tuning_for_testing(nullptr);
    return engine;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_run_memory MODELS_DIR [--rounds N] [--modes LIST] [--only LIST]\n");
        return 2;
    }
    const std::string models = argv[1];
    int rounds = 7;
    int budget_mib = 0;
    std::vector<std::string> modes = split("arenas,off,cache");
    std::vector<std::string> only = split("swap,group,enhance,colorize,upscale");
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--rounds") rounds = std::max(1, atoi(argv[i + 1]));
        else if (flag == "--modes") modes = split(argv[i + 1]);
        else if (flag == "--only") only = split(argv[i + 1]);
        else if (flag == "--budget") budget_mib = std::max(0, atoi(argv[i + 1]));
        else fail("unknown flag " + flag);
    }
    const std::string images = BL_BENCH_ASSETS_DIR "/images/";
    loaded_image source(images + "single_obama_official_pd.jpg");
    loaded_image one_face(images + "single_biden_pd.jpg");
    loaded_image group(images + "dlib_voc_2007_007763.jpg");
    loaded_image small(images + "single_obama_240p_smallface.jpg");
    const brightloom_options options = brightloom_default_options();
    const std::vector<std::pair<std::string, operation>> all = {
        {"swap", [&](brightloom_engine* e, brightloom_image* out) {
             return brightloom_swap_image(e, &source.image, &one_face.image, &options, out);
         }},
        {"group", [&](brightloom_engine* e, brightloom_image* out) {
             return brightloom_swap_image(e, &source.image, &group.image, &options, out);
         }},
        {"enhance", [&](brightloom_engine* e, brightloom_image* out) {
             return brightloom_enhance_image(e, &one_face.image, &options, out);
         }},
        {"colorize", [&](brightloom_engine* e, brightloom_image* out) {
             return brightloom_colorize_image(e, &one_face.image, &options, out);
         }},
        {"upscale", [&](brightloom_engine* e, brightloom_image* out) {
             return brightloom_upscale_image(e, &small.image, &options, out);
         }},
    };

    std::vector<brightloom_engine*> engines;
    for (const std::string& mode : modes)
        engines.push_back(open_engine(models, memory_of(mode), budget_mib));
    print_load("after opening", "# ");
    printf("operation\tmode\twall ms\tcpu ms\twall vs %s\tcpu vs %s\n", modes[0].c_str(),
           modes[0].c_str());
    for (const auto& op : all) {
        if (std::find(only.begin(), only.end(), op.first) == only.end()) continue;
        std::vector<std::vector<double>> wall(modes.size()), cpu(modes.size());
        bl_block_cache_stats cache_before = {};
        // One call each first: the sessions' first run plans its memory.
        for (int round = -1; round < rounds; ++round) {
            if (round == 0) cache_before = bl_block_cache_read_stats();
            for (size_t m = 0; m < modes.size(); ++m) {
                brightloom_image result = {};
                const double wall_start = wall_ms(), cpu_start = cpu_ms();
                if (op.second(engines[m], &result) != BRIGHTLOOM_OK) fail(op.first);
                const double wall_used = wall_ms() - wall_start, cpu_used = cpu_ms() - cpu_start;
                brightloom_image_release(&result);
                if (round < 0) continue;
                wall[m].push_back(wall_used);
                cpu[m].push_back(cpu_used);
            }
        }
        for (size_t m = 0; m < modes.size(); ++m) {
            printf("%s\t%s\t%.0f\t%.0f\t%+.1f%%\t%+.1f%%\n", op.first.c_str(), modes[m].c_str(),
                   median(wall[m]), median(cpu[m]), 100 * (median(wall[m]) / median(wall[0]) - 1),
                   100 * (median(cpu[m]) / median(cpu[0]) - 1));
            fflush(stdout);
        }
        if (cache_before.hits + cache_before.misses > 0) print_cache_use(op.first, cache_before, rounds);
    }
    print_load("at the end", "# ");
    for (brightloom_engine* engine : engines) brightloom_engine_close(engine);
    return 0;
}
