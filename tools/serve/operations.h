// What the server offers: one entry per image operation of the library, with
// the form fields it reads, the model files it needs and the call that runs it.
#ifndef BL_TOOLS_SERVE_OPERATIONS_H
#define BL_TOOLS_SERVE_OPERATIONS_H

#include <stdint.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "form_fields.h"
#include "settings_scope.h"

struct Settings;

// One request's choices, read from its form.
struct Job {
    JobSettings settings;
    std::string format = "png";  // of the result: png or jpg
    int scale = 2;
    float blend = 100.0f;  // percent, for colorize and upscale
};

struct Operation {
    std::string name;                 // served at POST /api/<name>
    std::vector<std::string> images;  // form fields holding its images, in call order
    // Reads the optional fields into `job`: "" or the problem (a 400 answer).
    std::function<std::string(const Form&, Job&)> read_options;
    // "" or why the job's result would pass the library's pixel cap (a 413
    // answer); only upscale can grow an image.
    std::function<std::string(const Form&, const Job&)> result_too_large;
    // Model files the job needs besides the detector.
    std::function<std::vector<std::string>(const Job&)> model_files;
    std::function<int32_t(const Job&, const std::vector<std::string>& inputs,
                          const std::string& output)>
        run;
};

// The operations, for the swapper and enhancer the tool was started with.
std::vector<Operation> make_operations(const Settings& s);

// The model files present in the model directory (".onnx" names).
std::set<std::string> list_model_files(const std::string& dir);

// The first of `needed` that is not in `present`, or "".
std::string first_missing(const std::vector<std::string>& needed,
                          const std::set<std::string>& present);

#endif
