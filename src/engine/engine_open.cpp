// Opening and closing an engine: which model files it reads, in which order,
// which are required, and what it logs on the way.
#include <stdio.h>
#include <string.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "engine/bl_status.h"
#include "engine/engine.h"
#include "face/face_detect.h"
#include "face/face_enhancer.h"
#include "face/face_landmark.h"
#include "face/face_masks.h"
#include "face/face_recognize.h"
#include "face/face_swap.h"
#include "frame/frame_colorizer.h"
#include "frame/frame_upscaler.h"
#include "inference/model_warm_up.h"
#include "inference/runtime_loader.h"
#include "inference/session_preload.h"
#include "platform/cpu_cores.h"
#include "platform/platform.h"

namespace {

// A model that did not open is missing when its file cannot be opened at
// all, and failed when the file is there but the runtime refused it.
brightloom_status missing_or_failed(const std::string& path) {
    FILE* file = bl_fopen(path.c_str(), "rb");
    if (!file) return BRIGHTLOOM_MODEL_MISSING;
    fclose(file);
    return BRIGHTLOOM_MODEL_FAILED;
}

brightloom_model_state state_of(brightloom_status status) {
    return status == BRIGHTLOOM_MODEL_MISSING ? BRIGHTLOOM_MODEL_ABSENT : BRIGHTLOOM_MODEL_REFUSED;
}

bl_engine_slot& slot(brightloom_engine* engine, brightloom_model_slot which) {
    return engine->slots[which];
}

// Tries the chosen detector first, then the others in the table's order.
brightloom_status open_detector(brightloom_engine* engine, const char* setting) {
    const bl_model_row* first = bl_model_row_for(BRIGHTLOOM_MODEL_DETECTOR, setting);
    std::vector<const bl_model_row*> candidates = {first};
    std::string tried;
    size_t count = 0;
    const bl_model_row* rows = bl_model_rows(&count);
    for (size_t i = 0; i < count; ++i) {
        if (rows[i].slot != BRIGHTLOOM_MODEL_DETECTOR) continue;
        if (&rows[i] != first) candidates.push_back(&rows[i]);
        tried += std::string(tried.empty() ? "" : ", ") + rows[i].file;
    }
    slot(engine, BRIGHTLOOM_MODEL_DETECTOR).row = first;
    for (const bl_model_row* row : candidates) {
        const std::string path = bl_engine_model_path(engine, row->file);
        if (bl_detector_open(&engine->runtime, path.c_str(), &engine->faces.detector) == 0) {
            bl_log(BRIGHTLOOM_LOG_INFO, "[brightloom] detector loaded: %s\n", row->file);
            slot(engine, BRIGHTLOOM_MODEL_DETECTOR) = {row, BRIGHTLOOM_MODEL_OPEN};
            return BRIGHTLOOM_OK;
        }
    }
    return bl_fail(BRIGHTLOOM_MODEL_MISSING, "No face detector model found in %s (tried %s)",
                   bl_engine_model_dir_shown(engine).c_str(), tried.c_str());
}

// Records whether the file of a slot the engine does not open is there.
void note_unopened(brightloom_engine* engine, brightloom_model_slot which, const char* setting) {
    const bl_model_row* row = bl_model_row_for(which, setting);
    const std::string path = bl_engine_model_path(engine, row->file);
    const bool absent = missing_or_failed(path) == BRIGHTLOOM_MODEL_MISSING;
    slot(engine, which) = {row, absent ? BRIGHTLOOM_MODEL_ABSENT : BRIGHTLOOM_MODEL_NOT_OPENED};
}

brightloom_status open_swap_models(brightloom_engine* engine, const char* swapper_setting) {
    const bl_model_row* recognizer = bl_model_row_for(BRIGHTLOOM_MODEL_RECOGNIZER, nullptr);
    std::string path = bl_engine_model_path(engine, recognizer->file);
    if (bl_recognizer_open(&engine->runtime, path.c_str(), &engine->faces.recognizer) != 0)
        return bl_fail(missing_or_failed(path), "Failed to load face recognizer: %s",
                       bl_engine_model_path_shown(engine, recognizer->file).c_str());
    const bl_model_row* swapper = bl_model_row_for(BRIGHTLOOM_MODEL_SWAPPER, swapper_setting);
    path = bl_engine_model_path(engine, swapper->file);
    if (bl_swapper_open(&engine->runtime, path.c_str(),
                        bl_model_family_for(BRIGHTLOOM_MODEL_SWAPPER, swapper_setting),
                        &engine->faces.swapper) != 0)
        return bl_fail(missing_or_failed(path), "Failed to load face swapper: %s",
                       bl_engine_model_path_shown(engine, swapper->file).c_str());
    slot(engine, BRIGHTLOOM_MODEL_RECOGNIZER) = {recognizer, BRIGHTLOOM_MODEL_OPEN};
    slot(engine, BRIGHTLOOM_MODEL_SWAPPER) = {swapper, BRIGHTLOOM_MODEL_OPEN};
    return BRIGHTLOOM_OK;
}

// An optional model that does not open only costs a warning.
void open_optional(brightloom_engine* engine, brightloom_model_slot which, const char* setting,
                   int (*open)(const bl_runtime*, const char*, bl_model*), bl_model* model,
                   const char* warning) {
    const bl_model_row* row = bl_model_row_for(which, setting);
    const std::string path = bl_engine_model_path(engine, row->file);
    if (open(&engine->runtime, path.c_str(), model) != 0) {
        bl_log(BRIGHTLOOM_LOG_WARNING, "%s", warning);
        slot(engine, which) = {row, state_of(missing_or_failed(path))};
        return;
    }
    slot(engine, which) = {row, BRIGHTLOOM_MODEL_OPEN};
}

// The files open_models opens when all are there, in its order: their
// sessions are made ahead, several at once (a fallback detector is only
// looked for when the first is missing, so it is not among them).
std::vector<std::string> files_to_open(const brightloom_engine* engine,
                                       const brightloom_engine_params& params) {
    std::vector<const bl_model_row*> rows = {
        bl_model_row_for(BRIGHTLOOM_MODEL_DETECTOR, params.detector),
        bl_model_row_for(BRIGHTLOOM_MODEL_LANDMARKER, nullptr)};
    if (params.open_swap) {
        rows.push_back(bl_model_row_for(BRIGHTLOOM_MODEL_RECOGNIZER, nullptr));
        rows.push_back(bl_model_row_for(BRIGHTLOOM_MODEL_SWAPPER, params.swapper));
    }
    rows.push_back(bl_model_row_for(BRIGHTLOOM_MODEL_ENHANCER, params.enhancer));
    for (brightloom_model_slot slot : {BRIGHTLOOM_MODEL_OCCLUDER, BRIGHTLOOM_MODEL_PARSER,
                                       BRIGHTLOOM_MODEL_COLORIZER})
        rows.push_back(bl_model_row_for(slot, nullptr));
    std::vector<std::string> paths;
    for (const bl_model_row* row : rows) paths.push_back(bl_engine_model_path(engine, row->file));
    return paths;
}

// Sessions no longer made ahead once the open is over, however it ends.
struct preload_scope {
    bl_runtime& runtime;
    preload_scope(bl_runtime& opened, bl_session_preload& preload) : runtime(opened) {
        runtime.preload = &preload;
    }
    ~preload_scope() { runtime.preload = nullptr; }
};

const OrtApi* runtime_api(void) {
    const OrtApiBase* base = bl_runtime_api_base();
    if (!base || !base->GetApi) return nullptr;
    return base->GetApi(BL_ORT_API_VERSION);
}

brightloom_status open_models(brightloom_engine* engine, const brightloom_engine_params& params) {
    const OrtApi* api = runtime_api();
    if (!api) return bl_fail(BRIGHTLOOM_MODEL_FAILED, "Failed to get ONNX Runtime API");
    bl_session_tuning tuning = bl_session_tuning_for(params.intra_threads);
    tuning.cache_budget = static_cast<size_t>(params.run_memory_mib) << 20;
    if (bl_runtime_open(api, tuning, &engine->runtime) != 0)
        return bl_fail(BRIGHTLOOM_MODEL_FAILED, "Failed to create the runtime environment");
    // As many sessions at once as a run takes threads.
    const int threads = tuning.intra_threads > 0 ? tuning.intra_threads : bl_cpu_cores_for_process();
    bl_session_preload preload(&engine->runtime, files_to_open(engine, params), threads);
    preload_scope ahead(engine->runtime, preload);

    if (brightloom_status status = open_detector(engine, params.detector)) return status;
    open_optional(engine, BRIGHTLOOM_MODEL_LANDMARKER, nullptr, bl_landmarker_open,
                  &engine->faces.landmarker,
                  "[brightloom] Warning: 68-point landmarker not loaded (optional)\n");
    if (params.open_swap) {
        if (brightloom_status status = open_swap_models(engine, params.swapper)) return status;
    } else {
        bl_log(BRIGHTLOOM_LOG_INFO, "[brightloom] lite init: recognizer + swapper skipped\n");
        note_unopened(engine, BRIGHTLOOM_MODEL_RECOGNIZER, nullptr);
        note_unopened(engine, BRIGHTLOOM_MODEL_SWAPPER, params.swapper);
    }
    open_optional(engine, BRIGHTLOOM_MODEL_ENHANCER, params.enhancer, bl_face_enhancer_open,
                  &engine->faces.enhancer, "[brightloom] Warning: enhancer not loaded (optional)\n");
    open_optional(engine, BRIGHTLOOM_MODEL_OCCLUDER, nullptr, bl_occluder_open,
                  &engine->faces.occluder, "[brightloom] Warning: occluder not loaded (optional)\n");
    open_optional(engine, BRIGHTLOOM_MODEL_PARSER, nullptr, bl_parser_open, &engine->faces.parser,
                  "[brightloom] Warning: face_parser not loaded (optional)\n");
    open_optional(engine, BRIGHTLOOM_MODEL_COLORIZER, nullptr, bl_colorizer_open,
                  &engine->colorizer,
                  "[brightloom] Warning: DDColor colorizer not loaded (optional)\n");
    engine->swap = params.open_swap != 0;
    bl_log(BRIGHTLOOM_LOG_INFO, "[brightloom] Initialized with model_dir: %s (swap=%d)\n",
           engine->model_dir.c_str(), engine->swap ? 1 : 0);
    return BRIGHTLOOM_OK;
}

// One run of every open model, the upscalers excepted (they open on first
// use). A model that cannot be warmed is only slower on its first call.
void warm_up_models(const brightloom_engine* engine) {
    const bl_model* models[] = {
        &engine->faces.detector.model, &engine->faces.landmarker, &engine->faces.recognizer,
        &engine->faces.swapper.model,  &engine->faces.enhancer,   &engine->faces.occluder,
        &engine->faces.parser,         &engine->colorizer,
    };
    for (const bl_model* model : models)
        if (model->is_open()) bl_model_warm_up(model);
}

// Worker threads of one run, at most the cores this process may use: every
// model session keeps a pool of its own, so 200 asked for made some 1600
// threads that only wait on each other, and a million never finished
// opening. A count above the cores is taken as the cores, as 0 is.
int capped_threads(int asked) {
    const int cores = bl_cpu_cores_for_process();
    if (asked <= cores) return asked;
    bl_log(BRIGHTLOOM_LOG_INFO,
           "[brightloom] intra_threads %d capped at the %d cores this process may use\n", asked,
           cores);
    return cores;
}

}  // namespace

std::string bl_engine_model_path(const brightloom_engine* engine, const char* file) {
    return engine->model_dir + "/" + file;
}

std::string bl_engine_model_path_shown(const brightloom_engine* engine, const char* file) {
    return engine->private_model_dir ? std::string(file) : bl_engine_model_path(engine, file);
}

std::string bl_engine_model_dir_shown(const brightloom_engine* engine) {
    return engine->private_model_dir ? std::string("the model directory") : engine->model_dir;
}

brightloom_status bl_engine_open(const char* model_dir, const brightloom_engine_params& given,
                                 brightloom_engine** engine) {
    *engine = nullptr;
    if (!model_dir || !model_dir[0])
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "model_dir is NULL or empty");
    std::unique_ptr<brightloom_engine> opened(new brightloom_engine());
    opened->model_dir = model_dir;
    opened->private_model_dir = given.private_model_dir != 0;
    opened->log = {given.log, given.log_user_data};
    // Names left NULL take their slot's default row.
    brightloom_engine_params params = given;

    bl_log_scope scope(&opened->log);
    params.intra_threads = capped_threads(given.intra_threads);
    brightloom_status status;
    try {
        status = open_models(opened.get(), params);
        if (status == BRIGHTLOOM_OK && params.warm_up) warm_up_models(opened.get());
    } catch (...) {
        bl_engine_close(opened.release());
        throw;
    }
    if (status != BRIGHTLOOM_OK) {
        bl_engine_close(opened.release());
        return status;
    }
    *engine = opened.release();
    return BRIGHTLOOM_OK;
}

void bl_engine_close(brightloom_engine* engine) {
    if (!engine) return;
    for (bl_upscaler& upscaler : engine->upscalers) bl_model_close(&upscaler.model);
    bl_model_close(&engine->colorizer);
    bl_face_models_close(&engine->faces);
    bl_runtime_close(&engine->runtime);
    delete engine;
}

brightloom_status bl_engine_upscaler(brightloom_engine* engine, int factor, bool reopen,
                                     const bl_upscaler** upscaler) {
    std::lock_guard<std::mutex> lock(engine->upscaler_lock);
    const int which = factor == 4 ? 1 : 0;
    bl_upscaler& wanted = engine->upscalers[which];
    if (reopen)
        for (bl_upscaler& any : engine->upscalers) bl_model_close(&any.model);
    if (!wanted.model.is_open()) {
        const char* file = bl_upscaler_row(factor == 4 ? 4 : 2)->file;
        const std::string path = bl_engine_model_path(engine, file);
        if (bl_upscaler_open(&engine->runtime, path.c_str(), factor, &wanted) != 0) {
            const brightloom_status status = missing_or_failed(path);
            engine->upscaler_refused[which] = status == BRIGHTLOOM_MODEL_FAILED;
            return bl_fail(status, "Failed to load frame enhancer: %s",
                           bl_engine_model_path_shown(engine, file).c_str());
        }
        engine->upscaler_refused[which] = false;
    }
    *upscaler = &wanted;
    return BRIGHTLOOM_OK;
}

// The caller's struct is copied as far as its size says it reaches, over
// the defaults, so a caller compiled against a shorter struct still works.
template <typename T>
static brightloom_status complete(const T* given, T defaults, T* out, const char* what) {
    *out = defaults;
    if (!given) return BRIGHTLOOM_OK;
    if (given->size == 0)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The %s' size is 0: start from the defaults",
                       what);
    const size_t known = given->size < sizeof(T) ? given->size : sizeof(T);
    memcpy(static_cast<void*>(out), given, known);
    out->size = sizeof(T);
    return BRIGHTLOOM_OK;
}

brightloom_status bl_complete_params(const brightloom_engine_params* given,
                                     brightloom_engine_params* params) {
    return complete(given, brightloom_engine_default_params(), params, "engine params");
}

brightloom_status bl_complete_options(const brightloom_options* given, brightloom_options* options) {
    return complete(given, brightloom_default_options(), options, "options");
}
