// What the server offers: one entry per operation of the engine, with the
// form fields it reads, the models it needs and the call that runs it.
#ifndef BL_TOOLS_SERVE_OPERATIONS_H
#define BL_TOOLS_SERVE_OPERATIONS_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "brightloom.h"
#include "form_fields.h"

struct Settings;

// One request's choices, read from its form over the server's defaults.
struct Job {
    brightloom_options options = brightloom_default_options();
    std::string format = "png";  // of an image result: png or jpg
};

// What a job gives back: a new image (released by the caller), or a JSON
// text for an analysis.
struct Outcome {
    brightloom_image image{};
    std::string json;
};

// What the operations need of the server besides their images.
struct EngineContext {
    brightloom_engine* engine;
    std::string detector;  // the model file the engine detects with
};

// One model a job needs: a slot of the engine (an upscaler by its factor).
struct ModelNeed {
    brightloom_model_slot slot;
    int upscale_factor = 0;
};

// The engine whose models the server's operations use; what it has is asked
// of it each time (an upscaler's file is looked at when asked about).
struct EngineModels {
    brightloom_engine* engine = nullptr;
};

struct Operation {
    std::string name;                 // served at POST /api/<name>
    std::vector<std::string> images;  // form fields holding its images, in call order
    // Reads the optional fields into `job`: "" or the problem (a 400 answer).
    std::function<std::string(const Form&, Job&)> read_options;
    // "" or why the job's result would pass the library's pixel cap (a 413
    // answer before the job waits for its turn); only upscale grows an image.
    std::function<std::string(const Form&, const Job&)> result_too_large;
    // Models the job needs besides the detector.
    std::function<std::vector<ModelNeed>(const Job&)> model_files;
    std::function<brightloom_status(const EngineContext&, const std::vector<brightloom_image>&,
                                    const Job&, Outcome&)>
        run;
};

// The operations.
std::vector<Operation> make_operations();

// What `engine` has.
EngineModels engine_models(brightloom_engine* engine);

// The health report's "models": the files of the engine's models that are in
// the model directory.
void to_json(nlohmann::json& json, const EngineModels& models);

// Whether a job needing `needs` needs the recognizer, which the engine
// opens only together with the swapper.
bool uses_recognizer(const std::vector<ModelNeed>& needs);

// The file of the first of `needed` that is not in the model directory, or "".
std::string first_missing(const std::vector<ModelNeed>& needed, const EngineModels& present);

#endif
