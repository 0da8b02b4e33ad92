// What the server offers: one entry per operation of the engine, with the
// form fields it reads, the model files it needs and the call that runs it.
#ifndef BL_TOOLS_SERVE_OPERATIONS_H
#define BL_TOOLS_SERVE_OPERATIONS_H

#include <stdint.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

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

struct Operation {
    std::string name;                 // served at POST /api/<name>
    std::vector<std::string> images;  // form fields holding its images, in call order
    // Reads the optional fields into `job`: "" or the problem (a 400 answer).
    std::function<std::string(const Form&, Job&)> read_options;
    // "" or why the job's result would pass the library's pixel cap (a 413
    // answer before the job waits for its turn); only upscale grows an image.
    std::function<std::string(const Form&, const Job&)> result_too_large;
    // Model files the job needs besides the detector.
    std::function<std::vector<std::string>(const Job&)> model_files;
    std::function<brightloom_status(const EngineContext&, const std::vector<brightloom_image>&,
                                    const Job&, Outcome&)>
        run;
};

// The operations, for the swapper and enhancer the tool was started with.
std::vector<Operation> make_operations(const Settings& s);

// The model files present in the model directory (".onnx" names).
std::set<std::string> list_model_files(const std::string& dir);

// Whether a job needing `files` needs the recognizer, which the engine
// opens only together with the swapper.
bool uses_recognizer(const std::vector<std::string>& files);

// The first of `needed` that is not in `present`, or "".
std::string first_missing(const std::vector<std::string>& needed,
                          const std::set<std::string>& present);

#endif
