// Where an engine's open spends its time, model by model: reading the file,
// a session without any graph optimisation or weight prepacking, then with
// prepacking, with the basic optimisations and with all of them (the
// library's level, ORT_ENABLE_ALL), each created whole. Then the sessions of every model created
// one after another against the same on several threads at once, as an open
// could.
//
//   bench_init MODELS_DIR [--rounds N] [--threads T] [--together]
//     MODELS_DIR  a full model directory (the cost-matched stand-ins)
//     --rounds N  creations of every session per stage (median; default 3)
//     --threads T threads of the parallel creation (default: the cores this
//                 process may use)
//     --together  only the sessions created in turn against at once
// Times are the creating thread's processor time (which other work on the
// machine does not stretch) and wall time; the sessions get the library's
// thread count and no spinning. The load average is printed at the start
// and the end.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "bench_clock.h"
#include "bench_report.h"
#include "inference/runtime_loader.h"
#include "platform/cpu_cores.h"

namespace {

// The models an engine opens, in its order (the default swapper and enhancer).
const char* const MODELS[] = {"scrfd_2.5g.onnx",   "2dfan4.onnx",        "arcface_w600k_r50.onnx",
                              "uniface_256.onnx",  "gfpgan_1.4.onnx",    "face_occluder.onnx",
                              "face_parser.onnx",  "ddcolor.onnx"};

struct Stage {
    const char* name;
    GraphOptimizationLevel level;
    bool prepack;
};
const Stage STAGES[] = {
    {"none", ORT_DISABLE_ALL, false},
    {"prepacked", ORT_DISABLE_ALL, true},
    {"basic", ORT_ENABLE_BASIC, true},
    {"all", ORT_ENABLE_ALL, true},
};

const OrtApi* g_ort = nullptr;
OrtEnv* g_env = nullptr;
int g_threads = 1;

[[noreturn]] void fail(const std::string& what) {
    fprintf(stderr, "bench_init: %s\n", what.c_str());
    exit(1);
}

void check(OrtStatus* status, const std::string& what) {
    if (!status) return;
    std::string message = g_ort->GetErrorMessage(status);
    g_ort->ReleaseStatus(status);
    fail(what + ": " + message);
}

double thread_cpu_ms() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct Sample {
    double wall = 0, cpu = 0;
};

OrtSession* create(const std::string& path, const Stage& stage) {
    OrtSessionOptions* options = nullptr;
    check(g_ort->CreateSessionOptions(&options), "session options");
    check(g_ort->SetIntraOpNumThreads(options, g_threads), "threads");
    check(g_ort->AddSessionConfigEntry(options, "session.intra_op.allow_spinning", "0"), "spinning");
    check(g_ort->AddSessionConfigEntry(options, "session.disable_prepacking", stage.prepack ? "0" : "1"),
          "prepacking");
    check(g_ort->SetSessionGraphOptimizationLevel(options, stage.level), "level");
    OrtSession* session = nullptr;
    check(g_ort->CreateSession(g_env, path.c_str(), options, &session), path);
    g_ort->ReleaseSessionOptions(options);
    return session;
}

Sample timed_create(const std::string& path, const Stage& stage) {
    double wall = wall_ms(), cpu = thread_cpu_ms();
    OrtSession* session = create(path, stage);
    Sample sample{wall_ms() - wall, thread_cpu_ms() - cpu};
    g_ort->ReleaseSession(session);
    return sample;
}

// The whole file into memory, as the runtime reads a model.
Sample timed_read(const std::string& path) {
    double wall = wall_ms(), cpu = thread_cpu_ms();
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) fail("reading " + path);
    std::vector<char> bytes;
    char block[1 << 16];
    for (size_t n; (n = fread(block, 1, sizeof block, file)) > 0;) bytes.insert(bytes.end(), block, block + n);
    fclose(file);
    if (bytes.empty()) fail("reading " + path);
    return {wall_ms() - wall, thread_cpu_ms() - cpu};
}

Sample median(std::vector<Sample> samples) {
    std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.cpu < b.cpu; });
    return samples[samples.size() / 2];
}

// Every model's session, `threads` at a time, each thread taking the next
// model not yet taken, in the open's order.
Sample create_all(const std::vector<std::string>& paths, int threads) {
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < paths.size();)
            g_ort->ReleaseSession(create(paths[i], STAGES[3]));
    };
    double wall = wall_ms(), cpu = cpu_ms();
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers) helper.join();
    return {wall_ms() - wall, cpu_ms() - cpu};
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    int rounds = 3, threads = bl_cpu_cores_for_process();
    bool together = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) rounds = std::max(1, atoi(argv[++i]));
        else if (arg == "--threads" && i + 1 < argc) threads = std::max(1, atoi(argv[++i]));
        else if (arg == "--together") together = true;
        else if (dir.empty() && arg.compare(0, 2, "--") != 0) dir = arg;
        else dir.clear(), i = argc;
    }
    if (dir.empty()) {
        fprintf(stderr, "usage: bench_init MODELS_DIR [--rounds N] [--threads T] [--together]\n");
        return 2;
    }
    const OrtApiBase* base = bl_runtime_api_base();
    if (!base || !(g_ort = base->GetApi(BL_ORT_API_VERSION))) fail("no runtime");
    check(g_ort->CreateEnv(ORT_LOGGING_LEVEL_WARNING, "bench_init", &g_env), "environment");
    g_threads = bl_cpu_cores_for_process();
    print_load("at the start");

    std::vector<std::string> paths;
    if (!together) printf("\nper model, median of %d, processor ms of the creating thread (wall ms)\n", rounds);
    if (!together) printf("| model | MiB | read (fread) | session, no optimisation | + prepacking | + basic | all (the library's) |\n");
    if (!together) printf("|---|---:|---:|---:|---:|---:|---:|\n");
    Sample sums[5];
    for (const char* model : MODELS) {
        const std::string path = dir + "/" + model;
        struct stat info {};
        if (stat(path.c_str(), &info) != 0) continue;
        paths.push_back(path);
        if (together) continue;
        std::vector<Sample> reads, stages[4];
        for (int r = 0; r < rounds; ++r) {
            reads.push_back(timed_read(path));
            for (int s = 0; s < 4; ++s) stages[s].push_back(timed_create(path, STAGES[s]));
        }
        // Each stage whole (the runtime reads the file itself): the
        // differences between neighbours are what each step adds.
        Sample parts[5] = {median(reads), median(stages[0]), median(stages[1]), median(stages[2]),
                           median(stages[3])};
        printf("| %s | %.0f |", model, info.st_size / 1048576.0);
        for (int p = 0; p < 5; ++p) {
            printf(" %.0f (%.0f) |", parts[p].cpu, parts[p].wall);
            sums[p].cpu += parts[p].cpu;
            sums[p].wall += parts[p].wall;
        }
        printf("\n");
        fflush(stdout);
    }
    if (!together) {
        printf("| sum | |");
        for (const Sample& s : sums) printf(" %.0f (%.0f) |", s.cpu, s.wall);
        printf("\n");
    }

    printf("\nevery session (all), one after another against %d at once, rounds interleaved, median\n",
           threads);
    std::vector<Sample> one, many;
    for (int r = 0; r < rounds; ++r) {
        one.push_back(create_all(paths, 1));
        many.push_back(create_all(paths, threads));
    }
    Sample a = median(one), b = median(many);
    printf("| | one after another | %d at once | ratio |\n|---|---:|---:|---:|\n", threads);
    printf("| wall ms | %.0f | %.0f | %.2f |\n", a.wall, b.wall, b.wall / a.wall);
    printf("| processor ms | %.0f | %.0f | %.2f |\n", a.cpu, b.cpu, b.cpu / a.cpu);
    print_load("at the end");
    g_ort->ReleaseEnv(g_env);
    return 0;
}
