// Model slots and the call pattern every inference follows. Every model of the
// library lives in a slot (environment, CPU memory description, session
// options, session); this file opens and closes slots and runs sessions over
// tensors that wrap our own memory, so the release rules of the runtime are
// honoured in one place instead of nine.
#ifndef BL_MODEL_SESSION_H
#define BL_MODEL_SESSION_H

#include <stddef.h>
#include <stdint.h>
#include <vector>

#include "inference/ort_api.h"

// Handles of one model slot; all none while closed. Slots that run in another
// slot's environment (the landmarker and recognizer in the detector's) leave
// env and mem none.
struct bl_slot {
    OrtEnv* env;
    OrtMemoryInfo* mem;
    OrtSessionOptions* opts;
    OrtSession* session;
};

// What a slot writes to stderr when a step of its opening fails. A none line
// means the step fails silently. Lines with "%s" get the runtime's message.
struct bl_slot_lines {
    const char* log_id;          // the environment's log identifier
    const char* env_failed;      // e.g. "[face_detect] CreateEnv failed: %s\n"
    const char* mem_failed;      // e.g. "[face_detect] CreateMemoryInfo failed\n"
    const char* options_failed;  // e.g. "[face_detect] Load model failed: %s\n"
    const char* session_failed;  // e.g. "[face_detect] Load model failed: %s\n"
};

// Releases whatever the slot holds (an earlier open, or the leftovers of a
// failed one), then creates its environment (logging level warning) and its
// CPU memory description. 0 or -1.
int bl_slot_create_env(const OrtApi* ort, bl_slot* slot, const bl_slot_lines* lines);

// Releases the slot's session and options, then creates options (the tuning
// below, all graph optimizations) and the session from the UTF-8 `path` in
// `env`. 0 or -1. Handles made before a failing step
// stay in the slot until bl_slot_close.
int bl_slot_create_session(const OrtApi* ort, bl_slot* slot, OrtEnv* env, const char* path,
                           const bl_slot_lines* lines);

// How every session runs its work. The runtime's own thread count misreads
// the machine (one thread on a two-core machine; the host's cores inside a
// container), so the library sets it to the cores this process may use. Its
// workers spinning between runs would take the core that our own work (and
// the host's) needs next, so they sleep instead.
struct bl_session_tuning {
    int intra_threads;   // worker threads of one run; 0: the runtime chooses
    int allow_spinning;  // 1: workers spin after a run waiting for more work
};

// Decides the tuning of the sessions opened from now on: intra_threads from
// bl_cpu_cores_for_process(), no spinning. Called at each initialization; a
// session opened before any call decides it then.
void bl_session_decide_tuning(void);

// The tuning sessions are opened with.
bl_session_tuning bl_session_current_tuning(void);

// Benchmarks and tests only: open sessions with this tuning instead of the
// decided one (none restores deciding).
void bl_session_set_tuning_for_testing(const bl_session_tuning* tuning);

// bl_slot_create_env followed by bl_slot_create_session in the slot's own env.
int bl_slot_open(const OrtApi* ort, bl_slot* slot, const char* path,
                 const bl_slot_lines* lines);

// Releases session, options, memory description and environment, each only if
// present, and sets them to none. Safe on a closed slot and with ort none
// (then nothing can be held).
void bl_slot_close(const OrtApi* ort, bl_slot* slot);

// A float32 tensor over our memory, handed to the runtime without a copy. The
// data must stay alive until the run returns.
struct bl_tensor {
    const char* name;  // bind to the session input of this name; none: input at its position
    float* data;
    const int64_t* shape;
    size_t rank;
};

// What a run writes to stderr on failure; none = silent.
struct bl_run_lines {
    const char* tensor_failed;  // "%s": the runtime's message
    const char* run_failed;     // "%s": the runtime's message
};

enum {
    BL_RUN_OK = 0,
    BL_RUN_FAILED = -1,         // names could not be fetched or the run failed
    BL_RUN_TENSOR_FAILED = -2,  // an input could not be wrapped
};

// Pass as output_count to take every output of the session.
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

// Runs `session`: wraps every input with `mem`, binds inputs by name (all
// named) or by position (none named), fetches `output_count` output names
// (BL_ALL_OUTPUTS: all), runs without run options and keeps the outputs in
// `result`. Names, statuses and input values are released before it returns.
int bl_model_run(const OrtApi* ort, OrtSession* session, OrtMemoryInfo* mem,
                 const bl_tensor* inputs, size_t input_count, size_t output_count,
                 const bl_run_lines* lines, bl_run_result* result);

// Declared shape of the session's input `index`; its rank, or -1. Unknown
// dimensions are reported as -1.
int bl_session_input_shape(const OrtApi* ort, OrtSession* session, size_t index,
                           int64_t* dims, int max);

#endif
