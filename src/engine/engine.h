// One engine: the runtime, every model, what it was opened with and where
// its lines go. Operations only read it (the upscalers excepted, which open
// on first use under their lock), so any number of threads may share it.
#ifndef BL_ENGINE_STATE_H
#define BL_ENGINE_STATE_H

#include <mutex>
#include <string>

#include "brightloom.h"
#include "engine/model_table.h"
#include "face/face_models.h"
#include "frame/frame_upscaler.h"
#include "inference/model_session.h"
#include "platform/log_sink.h"

// What the engine did with one model slot, for brightloom_engine_describe.
struct bl_engine_slot {
    const bl_model_row* row = nullptr;
    brightloom_model_state state = BRIGHTLOOM_MODEL_ABSENT;
};

struct brightloom_engine {
    bl_runtime runtime;
    bl_face_models faces;
    bl_model colorizer;  // optional
    // Factor 2 and factor 4, each opened on its first use and kept open.
    std::mutex upscaler_lock;
    bl_upscaler upscalers[2];
    // Whether a use found the factor's file there but refused (under the lock).
    bool upscaler_refused[2] = {false, false};
    // Indexed by brightloom_model_slot, the upscalers excepted.
    bl_engine_slot slots[BRIGHTLOOM_MODEL_UPSCALER];
    std::string model_dir;
    // Messages name model files without the directory (engine params private_model_dir).
    bool private_model_dir = false;
    bool swap = false;  // the recognizer and swapper are open
    bl_log_sink log = {nullptr, nullptr};
};

// Opens an engine as brightloom_engine_open does, params already complete
// (their size checked and defaults filled). On failure *engine is none and
// this thread's message says why.
brightloom_status bl_engine_open(const char* model_dir, const brightloom_engine_params& params,
                                 brightloom_engine** engine);
void bl_engine_close(brightloom_engine* engine);

// The path of `file` in the engine's model directory, as the directory was given.
std::string bl_engine_model_path(const brightloom_engine* engine, const char* file);
// The same as messages name them: the file alone when the engine keeps its
// directory private.
std::string bl_engine_model_path_shown(const brightloom_engine* engine, const char* file);
// The model directory as messages name it.
std::string bl_engine_model_dir_shown(const brightloom_engine* engine);

// The model of an upscale factor (2 or 4), opened now when it is not yet.
// With `reopen` it is closed and opened again, and the other factor's model
// closed, as the file operation has always done. MODEL_MISSING or
// MODEL_FAILED ("Failed to load frame enhancer: <path>") when it cannot open.
brightloom_status bl_engine_upscaler(brightloom_engine* engine, int factor, bool reopen,
                                     const bl_upscaler** upscaler);

// Complete caller structs: `size` says how much of the struct the caller
// knows; the fields past it keep their defaults. BAD_ARGUMENT for a size of 0.
brightloom_status bl_complete_params(const brightloom_engine_params* given,
                                     brightloom_engine_params* params);
brightloom_status bl_complete_options(const brightloom_options* given, brightloom_options* options);

// Marks the calling thread as inside a call on `engine` (and `session`, may
// be none) while the scope lives. brightloom_engine_close and
// brightloom_swap_session_close called from inside (a host's log or
// progress callback) then do nothing instead of freeing what the call uses,
// or waiting for the call they are in. Every exported call on an engine
// opens one; scopes nest.
struct bl_call_mark {
    const brightloom_engine* engine;
    const brightloom_swap_session* session;
    const bl_call_mark* outer;
};
class bl_engine_call_scope {
public:
    bl_engine_call_scope(const brightloom_engine* engine, const brightloom_swap_session* session);
    ~bl_engine_call_scope();
    bl_engine_call_scope(const bl_engine_call_scope&) = delete;
    bl_engine_call_scope& operator=(const bl_engine_call_scope&) = delete;

private:
    bl_call_mark mark_;
};

// True when the calling thread is inside a call on `engine` or `session`.
bool bl_inside_call_on(const brightloom_engine* engine, const brightloom_swap_session* session);

// bl_complete_options, then the checks of the fields every engine-interface
// operation may read (number ranges, max_faces), BAD_ARGUMENT naming the
// field. The video-file jobs run it before their first frame, so options no
// frame could take refuse the job instead of passing every frame through.
brightloom_status bl_checked_common_options(const brightloom_options* given,
                                            brightloom_options* options);

#endif
