#include "inference/model_session.h"

#include <string.h>

#include <chrono>
#include <memory>
#include <mutex>

#include "inference/bench_timing.h"
#include "inference/block_cache.h"
#include "inference/session_preload.h"
#include "platform/cpu_cores.h"
#include "platform/log_sink.h"

#ifdef _WIN32
#include "platform/platform.h"
#endif

bl_forced_tuning g_bl_forced_tuning;

namespace {

// Writes `line` with the status's message (when the line has one) and
// releases the status. A none line is silent.
void report_status(const OrtApi* ort, OrtStatus* status, const char* line) {
    if (line) bl_log(BRIGHTLOOM_LOG_ERROR, line, ort->GetErrorMessage(status));
    ort->ReleaseStatus(status);
}

// Statuses whose outcome changes nothing for us are still released.
void ignore_status(const OrtApi* ort, OrtStatus* status) {
    if (status) ort->ReleaseStatus(status);
}

// One owner per runtime handle type, so an early return cannot leak.
struct options_release {
    const OrtApi* ort;
    void operator()(OrtSessionOptions* opts) const { ort->ReleaseSessionOptions(opts); }
};
using options_ptr = std::unique_ptr<OrtSessionOptions, options_release>;

struct value_list {
    const OrtApi* ort;
    std::vector<OrtValue*> values;
    ~value_list() {
        for (OrtValue* value : values)
            if (value) ort->ReleaseValue(value);
    }
};

OrtStatus* create_session_from_path(const OrtApi* ort, OrtEnv* env, const char* path,
                                    const OrtSessionOptions* opts, OrtSession** session) {
#ifdef _WIN32
    // The runtime takes UTF-16 paths on Windows.
    std::wstring wide;
    if (!bl_wide_path(path, &wide))
        return ort->CreateStatus(ORT_INVALID_ARGUMENT, "model path is not valid UTF-8");
    return ort->CreateSession(env, wide.c_str(), opts, session);
#else
    return ort->CreateSession(env, path, opts, session);
#endif
}

#ifdef BL_BENCH_TIMING
int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
#endif

OrtStatus* timed_create_session(const OrtApi* ort, OrtEnv* env, const char* path,
                                const OrtSessionOptions* opts, OrtSession** session) {
#ifdef BL_BENCH_TIMING
    // An open creates several sessions at once.
    static std::mutex timing_lock;
    int64_t start = now_ns();
    OrtStatus* status = create_session_from_path(ort, env, path, opts, session);
    std::lock_guard<std::mutex> lock(timing_lock);
    bl_bench_timing_get()->session_ns.emplace_back(path, now_ns() - start);
    return status;
#else
    return create_session_from_path(ort, env, path, opts, session);
#endif
}

// The runtime reads "0"/"1" for the spinning entry; an entry it rejects
// leaves its default (spinning), which only costs speed.
void apply_tuning(const OrtApi* ort, OrtSessionOptions* opts, const bl_session_tuning& tuning) {
    ignore_status(ort, ort->SetIntraOpNumThreads(opts, tuning.intra_threads));
    ignore_status(ort, ort->AddSessionConfigEntry(opts, "session.intra_op.allow_spinning",
                                                  tuning.allow_spinning ? "1" : "0"));
    ignore_status(ort, ort->SetSessionGraphOptimizationLevel(opts, ORT_ENABLE_ALL));
    if (tuning.memory == BL_MEMORY_NO_ARENA || tuning.memory == BL_MEMORY_NO_ARENA_NO_PATTERN)
        ignore_status(ort, ort->DisableCpuMemArena(opts));
    if (tuning.memory == BL_MEMORY_NO_ARENA_NO_PATTERN)
        ignore_status(ort, ort->DisableMemPattern(opts));
    if (tuning.memory == BL_MEMORY_SHARED_ARENA || tuning.memory == BL_MEMORY_SHARED_EXACT_ARENA ||
        tuning.memory == BL_MEMORY_BLOCK_CACHE)
        ignore_status(ort, ort->AddSessionConfigEntry(opts, "session.use_env_allocators", "1"));
}

// Every name the runtime hands out goes back to the allocator it came from.
using name_getter = OrtStatus* (*)(const OrtApi*, const OrtSession*, size_t, OrtAllocator*, char**);

OrtStatus* input_name(const OrtApi* ort, const OrtSession* s, size_t i, OrtAllocator* a, char** n) {
    return ort->SessionGetInputName(s, i, a, n);
}
OrtStatus* output_name(const OrtApi* ort, const OrtSession* s, size_t i, OrtAllocator* a, char** n) {
    return ort->SessionGetOutputName(s, i, a, n);
}

OrtStatus* fetch_names(const OrtApi* ort, const OrtSession* session, size_t count,
                       name_getter get, std::vector<std::string>* names) {
    OrtAllocator* allocator = nullptr;
    if (OrtStatus* status = ort->GetAllocatorWithDefaultOptions(&allocator)) return status;
    names->clear();
    for (size_t i = 0; i < count; ++i) {
        char* name = nullptr;
        if (OrtStatus* status = get(ort, session, i, allocator, &name)) return status;
        std::string copy;
        // The name goes back to the runtime even when the copy cannot be made.
        try {
            copy = name;
        } catch (...) {
            ignore_status(ort, ort->AllocatorFree(allocator, name));
            throw;
        }
        ignore_status(ort, ort->AllocatorFree(allocator, name));
        names->push_back(std::move(copy));
    }
    return nullptr;
}

OrtStatus* fetch_all_names(const OrtApi* ort, const OrtSession* session, bl_model* model) {
    size_t inputs = 0, outputs = 0;
    if (OrtStatus* status = ort->SessionGetInputCount(session, &inputs)) return status;
    if (OrtStatus* status = ort->SessionGetOutputCount(session, &outputs)) return status;
    if (OrtStatus* status = fetch_names(ort, session, inputs, input_name, &model->inputs))
        return status;
    return fetch_names(ort, session, outputs, output_name, &model->outputs);
}

size_t element_count(const int64_t* shape, size_t rank) {
    size_t count = 1;
    for (size_t i = 0; i < rank; ++i) count *= static_cast<size_t>(shape[i]);
    return count;
}

// One arena for every session of the environment that grows by exactly
// what a run asks (strategy 1) rather than doubling.
void register_exact_arena(const OrtApi* ort, const bl_runtime* runtime) {
    OrtArenaCfg* cfg = nullptr;
    if (OrtStatus* status = ort->CreateArenaCfg(0, 1, -1, -1, &cfg)) {
        ignore_status(ort, status);
        return;
    }
    ignore_status(ort, ort->CreateAndRegisterAllocator(runtime->env, runtime->mem, cfg));
    ort->ReleaseArenaCfg(cfg);
}

// Run options that hand every session's free arena blocks back to the system
// at the end of each run, so that an arena speeds up the allocations within a
// run but keeps nothing between runs. Read-only once made: runs on several
// threads may share them.
OrtStatus* make_shrinking_run_options(const OrtApi* ort, OrtRunOptions** out) {
    if (OrtStatus* status = ort->CreateRunOptions(out)) {
        *out = nullptr;
        return status;
    }
    if (OrtStatus* status = ort->AddRunConfigEntry(*out, "memory.enable_memory_arena_shrinkage", "cpu:0")) {
        ort->ReleaseRunOptions(*out);
        *out = nullptr;
        return status;
    }
    return nullptr;
}

}  // namespace

#ifdef BL_BENCH_TIMING
bl_bench_timing* bl_bench_timing_get(void) {
    static bl_bench_timing timing;
    return &timing;
}
#endif

bl_session_tuning bl_session_tuning_for(int intra_threads) {
    if (g_bl_forced_tuning.forced.load())
        return {g_bl_forced_tuning.intra_threads.load(), g_bl_forced_tuning.allow_spinning.load(),
                g_bl_forced_tuning.memory.load()};
    // An arena per session keeps every model's largest run for good (4x the
    // model bytes resident on the cost-matched stand-ins); no arena keeps
    // nothing but pays for fresh memory on every run (+10-17%). The block
    // cache keeps freed blocks for whichever model runs next, within a
    // budget that follows the largest use so far, so even a colorize's
    // 540 MiB plan stays kept.
    return {intra_threads > 0 ? intra_threads : bl_cpu_cores_for_process(), 0, BL_MEMORY_BLOCK_CACHE};
}

int bl_runtime_open(const OrtApi* ort, const bl_session_tuning& tuning, bl_runtime* runtime) {
    bl_runtime_close(runtime);
    runtime->ort = ort;
    runtime->tuning = tuning;
    runtime->tuning.cache_budget = 0;  // held below; close drops only what is held
    if (OrtStatus* status = ort->CreateEnv(ORT_LOGGING_LEVEL_WARNING, "brightloom", &runtime->env)) {
        runtime->env = nullptr;
        report_status(ort, status, "[brightloom] CreateEnv failed: %s\n");
        return -1;
    }
    if (OrtStatus* status =
            ort->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &runtime->mem)) {
        runtime->mem = nullptr;
        report_status(ort, status, "[brightloom] CreateMemoryInfo failed: %s\n");
        bl_runtime_close(runtime);
        return -1;
    }
    // The runtime keeps one environment per process, so a second engine
    // finds the arena registered and shares it; that refusal is silent, and
    // sessions without a registered arena would only fall back to their own.
    if (tuning.memory == BL_MEMORY_SHARED_ARENA)
        ignore_status(ort, ort->CreateAndRegisterAllocator(runtime->env, runtime->mem, nullptr));
    if (tuning.memory == BL_MEMORY_SHARED_EXACT_ARENA) register_exact_arena(ort, runtime);
    // As with the shared arena, a second engine finds the cache registered.
    if (tuning.memory == BL_MEMORY_BLOCK_CACHE) {
        if (!bl_block_cache_hold_budget(tuning.cache_budget)) {
            bl_log(BRIGHTLOOM_LOG_ERROR, "[brightloom] Run memory budget could not be recorded\n");
            bl_runtime_close(runtime);
            return -1;
        }
        runtime->tuning.cache_budget = tuning.cache_budget;
        if (OrtAllocator* cache = bl_block_cache_allocator(ort))
            ignore_status(ort, ort->RegisterAllocator(runtime->env, cache));
    }
    if (tuning.memory == BL_MEMORY_SHRUNK_ARENAS) {
        if (OrtStatus* status = make_shrinking_run_options(ort, &runtime->run_options)) {
            report_status(ort, status, "[brightloom] CreateRunOptions failed: %s\n");
            bl_runtime_close(runtime);
            return -1;
        }
    }
    return 0;
}

void bl_runtime_close(bl_runtime* runtime) {
    if (runtime->ort) {
        if (runtime->run_options) runtime->ort->ReleaseRunOptions(runtime->run_options);
        if (runtime->mem) runtime->ort->ReleaseMemoryInfo(runtime->mem);
        if (runtime->env) runtime->ort->ReleaseEnv(runtime->env);
        if (runtime->tuning.memory == BL_MEMORY_BLOCK_CACHE) {
            bl_block_cache_drop_budget(runtime->tuning.cache_budget);
            bl_block_cache_trim();
        }
    }
    *runtime = bl_runtime{};
}

OrtStatus* bl_session_create(const bl_runtime* runtime, const char* path, OrtSession** session) {
    const OrtApi* ort = runtime->ort;
    *session = nullptr;
    OrtSessionOptions* raw = nullptr;
    if (OrtStatus* status = ort->CreateSessionOptions(&raw)) return status;
    options_ptr opts(raw, options_release{ort});
    apply_tuning(ort, opts.get(), runtime->tuning);
    OrtStatus* status = timed_create_session(ort, runtime->env, path, opts.get(), session);
    if (status) *session = nullptr;
    return status;
}

int bl_model_open(const bl_runtime* runtime, const char* path, const char* load_failed,
                  bl_model* model) {
    bl_model_close(model);
    const OrtApi* ort = runtime->ort;
    if (!ort || !runtime->env) return -1;
    OrtSession* session = runtime->preload ? runtime->preload->take(path) : nullptr;
    if (!session) {
        if (OrtStatus* status = bl_session_create(runtime, path, &session)) {
            report_status(ort, status, load_failed);
            return -1;
        }
    }
    model->runtime = runtime;
    model->session = session;
    // A model whose names cannot be read cannot be run: it counts as not opened.
    OrtStatus* status = nullptr;
    try {
        status = fetch_all_names(ort, session, model);
    } catch (...) {
        bl_model_close(model);
        throw;
    }
    if (status) {
        report_status(ort, status, load_failed);
        bl_model_close(model);
        return -1;
    }
    return 0;
}

int bl_model_open_announced(const bl_runtime* runtime, const char* path, const char* load_failed,
                            const char* loaded, bl_model* model) {
    if (bl_model_open(runtime, path, load_failed, model) != 0) return -1;
    bl_log(BRIGHTLOOM_LOG_INFO, loaded, path);
    return 0;
}

void bl_model_close(bl_model* model) {
    if (model->session) model->runtime->ort->ReleaseSession(model->session);
    model->session = nullptr;
    model->runtime = nullptr;
    model->inputs.clear();
    model->outputs.clear();
}

bl_run_result::~bl_run_result() {
    for (OrtValue* value : values)
        if (value) ort->ReleaseValue(value);
}

const float* bl_run_result::floats(size_t i, size_t* count) const {
    if (count) *count = 0;
    if (i >= values.size() || !values[i]) return nullptr;
    OrtTensorTypeAndShapeInfo* info = nullptr;
    if (OrtStatus* status = ort->GetTensorTypeAndShape(values[i], &info)) {
        ort->ReleaseStatus(status);
        return nullptr;
    }
    ONNXTensorElementDataType type = ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED;
    size_t elements = 0;
    OrtStatus* type_status = ort->GetTensorElementType(info, &type);
    OrtStatus* count_status = type_status ? nullptr : ort->GetTensorShapeElementCount(info, &elements);
    ort->ReleaseTensorTypeAndShapeInfo(info);
    if (type_status || count_status) {
        ignore_status(ort, type_status);
        ignore_status(ort, count_status);
        return nullptr;
    }
    if (type != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT) return nullptr;
    void* data = nullptr;
    if (OrtStatus* status = ort->GetTensorMutableData(values[i], &data)) {
        ort->ReleaseStatus(status);
        return nullptr;
    }
    if (count) *count = elements;
    return static_cast<const float*>(data);
}

int bl_run_result::shape(size_t i, int64_t* dims, int max) const {
    if (i >= values.size() || !values[i] || max < 0) return -1;
    OrtTensorTypeAndShapeInfo* info = nullptr;
    if (OrtStatus* status = ort->GetTensorTypeAndShape(values[i], &info)) {
        ort->ReleaseStatus(status);
        return -1;
    }
    size_t rank = 0;
    int result = -1;
    if (OrtStatus* status = ort->GetDimensionsCount(info, &rank)) {
        ort->ReleaseStatus(status);
    } else {
        size_t wanted = rank < static_cast<size_t>(max) ? rank : static_cast<size_t>(max);
        std::vector<int64_t> all(rank > 0 ? rank : 1);
        if (OrtStatus* dims_status = ort->GetDimensions(info, all.data(), rank)) {
            ort->ReleaseStatus(dims_status);
        } else {
            for (size_t d = 0; d < wanted; ++d) dims[d] = all[d];
            result = static_cast<int>(rank);
        }
    }
    ort->ReleaseTensorTypeAndShapeInfo(info);
    return result;
}

namespace {

// Input names and values in the model's input order. Bound by name when the
// caller names its tensors: a model input that matches no tensor stays
// unbound, which the runtime reports as a failed run.
void bind_inputs(const bl_model* model, const bl_tensor* inputs, const value_list& values,
                 std::vector<const char*>* names, std::vector<const OrtValue*>* bound) {
    const size_t count = values.values.size();
    const bool by_name = count > 0 && inputs[0].name != nullptr;
    if (!by_name) {
        for (size_t i = 0; i < count; ++i) {
            names->push_back(model->inputs[i].c_str());
            bound->push_back(values.values[i]);
        }
        return;
    }
    for (const std::string& name : model->inputs) {
        for (size_t k = 0; k < count; ++k) {
            if (inputs[k].name && name == inputs[k].name) {
                names->push_back(name.c_str());
                bound->push_back(values.values[k]);
                break;
            }
        }
    }
}

}  // namespace

int bl_model_run(const bl_model* model, const bl_tensor* inputs, size_t input_count,
                 size_t output_count, const bl_run_lines* lines, bl_run_result* result) {
    if (!model->is_open()) return BL_RUN_FAILED;
    const OrtApi* ort = model->runtime->ort;
    result->ort = ort;
    value_list input_values{ort, std::vector<OrtValue*>(input_count, nullptr)};
    for (size_t i = 0; i < input_count; ++i) {
        const bl_tensor& t = inputs[i];
        size_t bytes = element_count(t.shape, t.rank) * sizeof(float);
        if (OrtStatus* status = ort->CreateTensorWithDataAsOrtValue(
                model->runtime->mem, t.data, bytes, t.shape, t.rank,
                ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, &input_values.values[i])) {
            input_values.values[i] = nullptr;
            report_status(ort, status, lines->tensor_failed);
            return BL_RUN_TENSOR_FAILED;
        }
    }
    const bool by_position = input_count > 0 && inputs[0].name == nullptr;
    if (by_position && input_count > model->inputs.size()) {
        if (lines->run_failed)
            bl_log(BRIGHTLOOM_LOG_ERROR, lines->run_failed, "the model has too few inputs");
        return BL_RUN_FAILED;
    }
    std::vector<const char*> input_names;
    std::vector<const OrtValue*> bound;
    bind_inputs(model, inputs, input_values, &input_names, &bound);

    if (output_count == BL_ALL_OUTPUTS) output_count = model->outputs.size();
    if (output_count > model->outputs.size()) {
        if (lines->run_failed)
            bl_log(BRIGHTLOOM_LOG_ERROR, lines->run_failed, "the model has too few outputs");
        return BL_RUN_FAILED;
    }
    std::vector<const char*> output_names;
    for (size_t i = 0; i < output_count; ++i) output_names.push_back(model->outputs[i].c_str());

    result->values.assign(output_count, nullptr);
#ifdef BL_BENCH_TIMING
    int64_t run_start = now_ns();
#endif
    OrtStatus* run_status = ort->Run(model->session, model->runtime->run_options, input_names.data(), bound.data(),
                                     bound.size(), output_names.data(), output_count,
                                     result->values.data());
#ifdef BL_BENCH_TIMING
    bl_bench_timing_get()->run_ns += now_ns() - run_start;
    bl_bench_timing_get()->runs += 1;
#endif
    if (run_status) {
        report_status(ort, run_status, lines->run_failed);
        for (OrtValue*& value : result->values) {
            if (value) ort->ReleaseValue(value);
            value = nullptr;
        }
        result->values.clear();
        return BL_RUN_FAILED;
    }
    return BL_RUN_OK;
}

int bl_model_input_shape(const bl_model* model, size_t index, int64_t* dims, int max) {
    if (!model->is_open()) return -1;
    const OrtApi* ort = model->runtime->ort;
    OrtTypeInfo* type_info = nullptr;
    if (OrtStatus* status = ort->SessionGetInputTypeInfo(model->session, index, &type_info)) {
        ort->ReleaseStatus(status);
        return -1;
    }
    int result = -1;
    const OrtTensorTypeAndShapeInfo* info = nullptr;
    size_t rank = 0;
    if (OrtStatus* status = ort->CastTypeInfoToTensorInfo(type_info, &info)) {
        ort->ReleaseStatus(status);
    } else if (info) {
        if (OrtStatus* status = ort->GetDimensionsCount(info, &rank)) {
            ort->ReleaseStatus(status);
        } else {
            std::vector<int64_t> all(rank > 0 ? rank : 1);
            if (OrtStatus* dims_status = ort->GetDimensions(info, all.data(), rank)) {
                ort->ReleaseStatus(dims_status);
            } else {
                for (size_t d = 0; d < rank && d < static_cast<size_t>(max); ++d) dims[d] = all[d];
                result = static_cast<int>(rank);
            }
        }
    }
    ort->ReleaseTypeInfo(type_info);
    return result;
}
