// The runtime environment an engine owns and the one model type every model
// file uses: open (names fetched once and kept), run, close. The release
// rules of the runtime are honoured here once instead of in nine files.
#ifndef BL_MODEL_SESSION_H
#define BL_MODEL_SESSION_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <string>
#include <vector>

#include "inference/ort_api.h"

// How every session runs its work. The runtime's own thread count misreads
// the machine (one thread on a two-core machine; the host's cores inside a
// container), so the library sets it to the cores this process may use. Its
// workers spinning between runs would take the core that our own work (and
// the host's) needs next, so they sleep instead.
// Where a run's intermediate tensors live. By default the runtime gives
// every session an arena of its own that keeps its largest run's memory for
// good; nine sessions then hold nine such high-water marks.
enum bl_session_memory {
    BL_MEMORY_SESSION_ARENAS = 0,  // the runtime's default
    BL_MEMORY_NO_ARENA = 1,        // allocated and freed around every run
    BL_MEMORY_SHARED_ARENA = 2,    // one arena in the environment for every session
    BL_MEMORY_NO_ARENA_NO_PATTERN = 3,  // as NO_ARENA, each tensor allocated on its own
    BL_MEMORY_SHARED_EXACT_ARENA = 4,   // as SHARED_ARENA, growing by what a run asks
    BL_MEMORY_SHRUNK_ARENAS = 5,        // an arena each, handed back at the end of every run
    BL_MEMORY_BLOCK_CACHE = 6,          // freed blocks kept up to a budget for every session
};

struct bl_session_tuning {
    int intra_threads;   // worker threads of one run; 0: the runtime chooses
    int allow_spinning;  // 1: workers spin after a run waiting for more work
    int memory = BL_MEMORY_SESSION_ARENAS;  // a bl_session_memory
    // BL_MEMORY_BLOCK_CACHE: bytes in use and kept together that the engine
    // holds the cache to while open; 0: the cache follows the work.
    size_t cache_budget = 0;
};

// The tuning an engine opened now gets when it asks for `intra_threads`
// (0: the cores this process may use, counted now): no spinning, and run
// memory in the block cache.
// A benchmark's forced tuning (below) wins.
bl_session_tuning bl_session_tuning_for(int intra_threads);

// Forced tuning: while `forced` is set, every engine opened gets these
// values whatever its params ask. Only the benchmarks and tests set it
// (inference/session_tuning_testing.h).
struct bl_forced_tuning {
    std::atomic<bool> forced{false};
    std::atomic<int> intra_threads{0};
    std::atomic<int> allow_spinning{0};
    std::atomic<int> memory{0};
};
extern bl_forced_tuning g_bl_forced_tuning;

class bl_session_preload;

// One engine's runtime: the function table, its environment, the CPU memory
// description every input is wrapped with, and the tuning its sessions get.
// Read-only once open, so any number of runs may share it.
struct bl_runtime {
    const OrtApi* ort = nullptr;
    OrtEnv* env = nullptr;
    OrtMemoryInfo* mem = nullptr;
    OrtRunOptions* run_options = nullptr;  // none: the runtime's defaults
    bl_session_tuning tuning = {0, 0};
    // While an engine opens: the sessions being created ahead of their
    // models' open (inference/session_preload.h).
    bl_session_preload* preload = nullptr;
};

// Creates the environment (logging level warning) and the memory
// description. 0, or -1 with a line and nothing held.
int bl_runtime_open(const OrtApi* ort, const bl_session_tuning& tuning, bl_runtime* runtime);
// Releases what the runtime holds; safe when closed. Every model opened in
// it must be closed first.
void bl_runtime_close(bl_runtime* runtime);

// One model: a session in an engine's runtime and its input and output
// names, fetched at open so that a run allocates none. Runs only read it, so
// threads may run one model at once (the runtime allows concurrent runs of
// a session).
struct bl_model {
    const bl_runtime* runtime = nullptr;
    OrtSession* session = nullptr;
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;

    bool is_open() const { return session != nullptr; }
};

// Opens the model file at the UTF-8 `path` in `runtime`. 0, or -1 after
// writing `load_failed` (a line whose "%s" is the runtime's message) with
// the model left closed. Closes whatever `model` held before.
int bl_model_open(const bl_runtime* runtime, const char* path, const char* load_failed,
                  bl_model* model);
// A session of `path` with the runtime's tuning, or none and the runtime's
// status (which the caller reports or releases). Opening a model takes a
// session made ahead by the runtime's preload first.
OrtStatus* bl_session_create(const bl_runtime* runtime, const char* path, OrtSession** session);
// bl_model_open that, once the model is open, writes `loaded` (a line whose
// "%s" is the path) at info level: the one way the slots say they loaded.
int bl_model_open_announced(const bl_runtime* runtime, const char* path, const char* load_failed,
                            const char* loaded, bl_model* model);
// Releases the session; safe on a closed model.
void bl_model_close(bl_model* model);

// A float32 tensor over our memory, handed to the runtime without a copy. The
// data must stay alive until the run returns.
struct bl_tensor {
    const char* name;  // bind to the model input of this name; none: input at its position
    float* data;
    const int64_t* shape;
    size_t rank;
};

// What a run writes on failure; none = silent.
struct bl_run_lines {
    const char* tensor_failed;  // "%s": the runtime's message
    const char* run_failed;     // "%s": the runtime's message
    // bl_model_run_first_output's short output: "%zu" the values output 0
    // holds, then "%zu" the values expected.
    const char* output_short = nullptr;
};

enum {
    BL_RUN_OK = 0,
    BL_RUN_FAILED = -1,         // the model is closed, has too few outputs, or the run failed
    BL_RUN_TENSOR_FAILED = -2,  // an input could not be wrapped
};

// Pass as output_count to take every output of the model.
#define BL_ALL_OUTPUTS ((size_t)-1)

// Output values of one run; released when this goes out of scope.
struct bl_run_result {
    const OrtApi* ort = nullptr;
    std::vector<OrtValue*> values;

    bl_run_result() = default;
    bl_run_result(const bl_run_result&) = delete;
    bl_run_result& operator=(const bl_run_result&) = delete;
    ~bl_run_result();

    size_t count() const { return values.size(); }
    // Float data of output i and its element count; none when the output is
    // absent or not a float tensor. Callers compare the count with what they
    // read, so a model with a short output never makes us read past its end.
    const float* floats(size_t i, size_t* count) const;
    // The dimensions of output i (at most max of them); its rank, or -1.
    int shape(size_t i, int64_t* dims, int max) const;
};

// Runs `model`: wraps every input with the runtime's memory description,
// binds inputs by name (all named) or by position (none named), takes the
// first `output_count` outputs (BL_ALL_OUTPUTS: all) and keeps them in
// `result`. Input values are released before it returns.
int bl_model_run(const bl_model* model, const bl_tensor* inputs, size_t input_count,
                 size_t output_count, const bl_run_lines* lines, bl_run_result* result);

// Declared shape of the model's input `index`; its rank, or -1. Unknown
// dimensions are reported as -1.
int bl_model_input_shape(const bl_model* model, size_t index, int64_t* dims, int max);

#endif
