#include "inference/model_session.h"

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "inference/bench_timing.h"
#include "platform/cpu_cores.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Writes `line` with the status's message (when the line has one) and
// releases the status. A none line is silent.
void report_status(const OrtApi* ort, OrtStatus* status, const char* line) {
    if (line) fprintf(stderr, line, ort->GetErrorMessage(status));
    ort->ReleaseStatus(status);
}

// Statuses whose outcome changes nothing for us are still released.
void ignore_status(const OrtApi* ort, OrtStatus* status) {
    if (status) ort->ReleaseStatus(status);
}

OrtStatus* create_session_from_path(const OrtApi* ort, OrtEnv* env, const char* path,
                                    const OrtSessionOptions* opts, OrtSession** session) {
#ifdef _WIN32
    // The runtime takes UTF-16 paths on Windows.
    int wide_count = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    std::wstring wide(wide_count > 0 ? wide_count : 1, L'\0');
    if (wide_count > 0) MultiByteToWideChar(CP_UTF8, 0, path, -1, &wide[0], wide_count);
    return ort->CreateSession(env, wide.c_str(), opts, session);
#else
    return ort->CreateSession(env, path, opts, session);
#endif
}

// Every name the runtime hands out is returned to the allocator it came from.
struct name_list {
    const OrtApi* ort;
    OrtAllocator* allocator;
    std::vector<char*> names;
    ~name_list() {
        for (char* name : names)
            if (name) ignore_status(ort, ort->AllocatorFree(allocator, name));
    }
};

struct value_list {
    const OrtApi* ort;
    std::vector<OrtValue*> values;
    ~value_list() {
        for (OrtValue* value : values)
            if (value) ort->ReleaseValue(value);
    }
};

// The decided tuning; intra_threads -1 until decided. A test override wins.
std::atomic<int> g_intra_threads{-1};
std::atomic<int> g_allow_spinning{0};
std::atomic<bool> g_tuning_overridden{false};

#ifdef BL_BENCH_TIMING
int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
#endif

// The runtime reads "0"/"1" for this entry; an entry it rejects leaves its
// default (spinning), which only costs speed.
void apply_tuning(const OrtApi* ort, OrtSessionOptions* opts, const bl_session_tuning& tuning) {
    ignore_status(ort, ort->SetIntraOpNumThreads(opts, tuning.intra_threads));
    ignore_status(ort, ort->AddSessionConfigEntry(opts, "session.intra_op.allow_spinning",
                                                  tuning.allow_spinning ? "1" : "0"));
}

OrtStatus* timed_create_session(const OrtApi* ort, OrtEnv* env, const char* path,
                                const OrtSessionOptions* opts, OrtSession** session) {
#ifdef BL_BENCH_TIMING
    int64_t start = now_ns();
    OrtStatus* status = create_session_from_path(ort, env, path, opts, session);
    bl_bench_timing_get()->session_ns.emplace_back(path, now_ns() - start);
    return status;
#else
    return create_session_from_path(ort, env, path, opts, session);
#endif
}

size_t element_count(const int64_t* shape, size_t rank) {
    size_t count = 1;
    for (size_t i = 0; i < rank; ++i) count *= static_cast<size_t>(shape[i]);
    return count;
}

}  // namespace

#ifdef BL_BENCH_TIMING
bl_bench_timing* bl_bench_timing_get(void) {
    static bl_bench_timing timing;
    return &timing;
}
#endif

void bl_session_decide_tuning(void) {
    if (g_tuning_overridden.load()) return;
    g_intra_threads.store(bl_cpu_cores_for_process());
    g_allow_spinning.store(0);
}

bl_session_tuning bl_session_current_tuning(void) {
    if (g_intra_threads.load() < 0) bl_session_decide_tuning();
    return bl_session_tuning{g_intra_threads.load(), g_allow_spinning.load()};
}

void bl_session_set_tuning_for_testing(const bl_session_tuning* tuning) {
    g_tuning_overridden.store(tuning != nullptr);
    if (tuning) {
        g_intra_threads.store(tuning->intra_threads);
        g_allow_spinning.store(tuning->allow_spinning);
    } else {
        g_intra_threads.store(-1);
    }
}

void bl_slot_close(const OrtApi* ort, bl_slot* slot) {
    if (!ort || !slot) return;
    if (slot->session) ort->ReleaseSession(slot->session);
    if (slot->opts) ort->ReleaseSessionOptions(slot->opts);
    if (slot->mem) ort->ReleaseMemoryInfo(slot->mem);
    if (slot->env) ort->ReleaseEnv(slot->env);
    *slot = bl_slot{};
}

int bl_slot_create_env(const OrtApi* ort, bl_slot* slot, const bl_slot_lines* lines) {
    bl_slot_close(ort, slot);
    if (OrtStatus* status = ort->CreateEnv(ORT_LOGGING_LEVEL_WARNING, lines->log_id, &slot->env)) {
        report_status(ort, status, lines->env_failed);
        return -1;
    }
    if (OrtStatus* status = ort->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &slot->mem)) {
        report_status(ort, status, lines->mem_failed);
        return -1;
    }
    return 0;
}

int bl_slot_create_session(const OrtApi* ort, bl_slot* slot, OrtEnv* env, const char* path,
                           const bl_slot_lines* lines) {
    if (slot->session) ort->ReleaseSession(slot->session);
    if (slot->opts) ort->ReleaseSessionOptions(slot->opts);
    slot->session = nullptr;
    slot->opts = nullptr;

    if (OrtStatus* status = ort->CreateSessionOptions(&slot->opts)) {
        report_status(ort, status, lines->options_failed);
        return -1;
    }
    apply_tuning(ort, slot->opts, bl_session_current_tuning());
    ignore_status(ort, ort->SetSessionGraphOptimizationLevel(slot->opts, ORT_ENABLE_ALL));
    if (OrtStatus* status = timed_create_session(ort, env, path, slot->opts, &slot->session)) {
        slot->session = nullptr;
        report_status(ort, status, lines->session_failed);
        return -1;
    }
    return 0;
}

int bl_slot_open(const OrtApi* ort, bl_slot* slot, const char* path, const bl_slot_lines* lines) {
    if (bl_slot_create_env(ort, slot, lines) != 0) return -1;
    return bl_slot_create_session(ort, slot, slot->env, path, lines);
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

int bl_model_run(const OrtApi* ort, OrtSession* session, OrtMemoryInfo* mem,
                 const bl_tensor* inputs, size_t input_count, size_t output_count,
                 const bl_run_lines* lines, bl_run_result* result) {
    result->ort = ort;
    value_list input_values{ort, std::vector<OrtValue*>(input_count, nullptr)};
    for (size_t i = 0; i < input_count; ++i) {
        const bl_tensor& t = inputs[i];
        size_t bytes = element_count(t.shape, t.rank) * sizeof(float);
        if (OrtStatus* status = ort->CreateTensorWithDataAsOrtValue(
                mem, t.data, bytes, t.shape, t.rank, ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT,
                &input_values.values[i])) {
            input_values.values[i] = nullptr;
            report_status(ort, status, lines->tensor_failed);
            return BL_RUN_TENSOR_FAILED;
        }
    }

    OrtAllocator* allocator = nullptr;
    if (OrtStatus* status = ort->GetAllocatorWithDefaultOptions(&allocator)) {
        report_status(ort, status, lines->run_failed);
        return BL_RUN_FAILED;
    }
    name_list input_names{ort, allocator, {}};
    name_list output_names{ort, allocator, {}};

    // Inputs are bound by name when the caller names them: every session
    // input is looked up, and one that matches no tensor stays unbound, which
    // the runtime reports as a failed run.
    std::vector<const char*> run_input_names;
    std::vector<const OrtValue*> run_inputs;
    bool by_name = input_count > 0 && inputs[0].name != nullptr;
    size_t session_inputs = input_count;
    if (by_name) {
        if (OrtStatus* status = ort->SessionGetInputCount(session, &session_inputs)) {
            report_status(ort, status, lines->run_failed);
            return BL_RUN_FAILED;
        }
    }
    for (size_t i = 0; i < session_inputs; ++i) {
        char* name = nullptr;
        if (OrtStatus* status = ort->SessionGetInputName(session, i, allocator, &name)) {
            report_status(ort, status, lines->run_failed);
            return BL_RUN_FAILED;
        }
        input_names.names.push_back(name);
        if (!by_name) {
            run_input_names.push_back(name);
            run_inputs.push_back(input_values.values[i]);
            continue;
        }
        for (size_t k = 0; k < input_count; ++k) {
            if (inputs[k].name && strcmp(inputs[k].name, name) == 0) {
                run_input_names.push_back(name);
                run_inputs.push_back(input_values.values[k]);
                break;
            }
        }
    }

    if (output_count == BL_ALL_OUTPUTS) {
        if (OrtStatus* status = ort->SessionGetOutputCount(session, &output_count)) {
            report_status(ort, status, lines->run_failed);
            return BL_RUN_FAILED;
        }
    }
    for (size_t i = 0; i < output_count; ++i) {
        char* name = nullptr;
        if (OrtStatus* status = ort->SessionGetOutputName(session, i, allocator, &name)) {
            report_status(ort, status, lines->run_failed);
            return BL_RUN_FAILED;
        }
        output_names.names.push_back(name);
    }

    result->values.assign(output_count, nullptr);
#ifdef BL_BENCH_TIMING
    int64_t run_start = now_ns();
#endif
    OrtStatus* run_status = ort->Run(session, nullptr, run_input_names.data(), run_inputs.data(),
                                     run_inputs.size(), output_names.names.data(), output_count,
                                     result->values.data());
#ifdef BL_BENCH_TIMING
    bl_bench_timing_get()->run_ns += now_ns() - run_start;
    bl_bench_timing_get()->runs += 1;
#endif
    if (OrtStatus* status = run_status) {
        report_status(ort, status, lines->run_failed);
        for (OrtValue*& value : result->values) {
            if (value) ort->ReleaseValue(value);
            value = nullptr;
        }
        result->values.clear();
        return BL_RUN_FAILED;
    }
    return BL_RUN_OK;
}

int bl_session_input_shape(const OrtApi* ort, OrtSession* session, size_t index, int64_t* dims,
                           int max) {
    OrtTypeInfo* type_info = nullptr;
    if (OrtStatus* status = ort->SessionGetInputTypeInfo(session, index, &type_info)) {
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
