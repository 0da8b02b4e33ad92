// The first call of each operation after an engine opens against its steady
// calls, with the models warmed at open (engine params warm_up) or not, and
// what the open itself costs. One engine per process: a second engine would
// find the process's run memory already grown. Run it once per setting, in
// turn, and compare processor times on a shared machine.
//
//   bench_first_call MODELS_DIR [--warm-up 0|1] [--repeat N] [--only LIST]
//     MODELS_DIR  a full model directory (the cost-matched stand-ins)
//     --warm-up   engine params warm_up (default 0)
//     --repeat N  steady calls per operation after the first (default 3)
//     --only      comma-separated subset of swap,enhance,colorize
// Prints the open's wall and processor time, then per operation the first
// call, the median steady call and their ratio (wall and processor time).
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "brightloom.h"

namespace {

[[noreturn]] void fail(const std::string& what) {
    fprintf(stderr, "bench_first_call: %s: %s\n", what.c_str(), brightloom_last_error());
    exit(1);
}

struct cost {
    double wall, cpu;
};

cost timed(const std::function<void()>& call) {
    const double wall = wall_ms(), cpu = cpu_ms();
    call();
    return {wall_ms() - wall, cpu_ms() - cpu};
}

void print_load() {
    FILE* file = fopen("/proc/loadavg", "r");
    char line[128] = "?\n";
    if (file) {
        if (!fgets(line, sizeof line, file)) line[0] = 0;
        fclose(file);
    }
    printf("# load average: %s", line);
}

struct loaded_image {
    brightloom_image image = {};
    explicit loaded_image(const std::string& path) {
        if (brightloom_image_load(path.c_str(), &image) != BRIGHTLOOM_OK) fail("loading " + path);
    }
    ~loaded_image() { brightloom_image_release(&image); }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_first_call MODELS_DIR [--warm-up 0|1] [--repeat N] [--only LIST]\n");
        return 2;
    }
    int warm_up = 0, repeat = 3;
    std::string only = "swap,enhance,colorize";
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--warm-up") warm_up = atoi(argv[i + 1]);
        else if (flag == "--repeat") repeat = std::max(1, atoi(argv[i + 1]));
        else if (flag == "--only") only = argv[i + 1];
        else fail("unknown flag " + flag);
    }
    const std::string images = BL_BENCH_ASSETS_DIR "/images/";
    loaded_image source(images + "single_obama_official_pd.jpg");
    loaded_image one_face(images + "single_biden_pd.jpg");
    const brightloom_options options = brightloom_default_options();

    print_load();
    brightloom_engine_params params = brightloom_engine_default_params();
    params.warm_up = warm_up;
    brightloom_engine* engine = nullptr;
    const cost open = timed([&] {
        if (brightloom_engine_open(argv[1], &params, &engine) != BRIGHTLOOM_OK) fail("opening");
    });
    printf("open (warm_up %d)\twall %.0f ms\tcpu %.0f ms\n", warm_up, open.wall, open.cpu);
    printf("operation\tfirst wall\tsteady wall\tfirst/steady wall\tfirst cpu\tsteady cpu\tfirst/steady cpu\n");

    using operation = std::function<brightloom_status(brightloom_image*)>;
    const std::vector<std::pair<std::string, operation>> all = {
        {"swap", [&](brightloom_image* out) {
             return brightloom_swap_image(engine, &source.image, &one_face.image, &options, out);
         }},
        {"enhance", [&](brightloom_image* out) {
             return brightloom_enhance_image(engine, &one_face.image, &options, out);
         }},
        {"colorize", [&](brightloom_image* out) {
             return brightloom_colorize_image(engine, &one_face.image, &options, out);
         }},
    };
    for (const auto& op : all) {
        if (("," + only + ",").find("," + op.first + ",") == std::string::npos) continue;
        std::vector<cost> calls;
        for (int i = 0; i <= repeat; ++i) {
            calls.push_back(timed([&] {
                brightloom_image result = {};
                if (op.second(&result) != BRIGHTLOOM_OK) fail(op.first);
                brightloom_image_release(&result);
            }));
        }
        const cost first = calls[0];
        std::vector<cost> steady(calls.begin() + 1, calls.end());
        std::sort(steady.begin(), steady.end(), [](const cost& a, const cost& b) { return a.wall < b.wall; });
        const double steady_wall = steady[steady.size() / 2].wall;
        std::sort(steady.begin(), steady.end(), [](const cost& a, const cost& b) { return a.cpu < b.cpu; });
        const double steady_cpu = steady[steady.size() / 2].cpu;
        printf("%s\t%.0f\t%.0f\t%.2fx\t%.0f\t%.0f\t%.2fx\n", op.first.c_str(), first.wall, steady_wall,
               first.wall / steady_wall, first.cpu, steady_cpu, first.cpu / steady_cpu);
        fflush(stdout);
    }
    brightloom_engine_close(engine);
    print_load();
    return 0;
}
