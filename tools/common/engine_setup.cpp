#include "engine_setup.h"

#include <stdio.h>
#include <stdlib.h>

#include "model_table.h"
#include "terminal.h"

namespace {

// Engines log through this instead of straight to standard error: the line
// still goes there, where --quiet may have silenced it.
void log_line(void*, brightloom_log_level, const char* line) {
    std::string text(line);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    text = printable(text) + '\n';
    fwrite(text.data(), 1, text.size(), stderr);
}

const char* name_or_default(const std::string& name) {
    return name.empty() ? nullptr : name.c_str();
}

brightloom_status try_open(const Settings& s, int intra_threads, bool open_swap,
                           const EngineChoices& choices, EngineSetup& setup) {
    brightloom_engine_params params = brightloom_engine_default_params();
    params.detector = name_or_default(s.detector);
    params.swapper = name_or_default(s.swapper);
    params.enhancer = name_or_default(s.enhancer);
    params.open_swap = open_swap ? 1 : 0;
    params.intra_threads = intra_threads;
    params.warm_up = choices.warm_up ? 1 : 0;
    params.private_model_dir = choices.private_model_dir ? 1 : 0;
    params.log = log_line;
    brightloom_engine* engine = nullptr;
    const brightloom_status status = brightloom_engine_open(s.models.c_str(), &params, &engine);
    setup.engine.reset(engine);
    setup.can_swap = status == BRIGHTLOOM_OK && open_swap;
    if (engine) setup.detector = model_file(describe_engine(engine).detector.row);
    return status;
}

}  // namespace

bool open_engine(const Settings& s, int intra_threads, bool want_swap, EngineSetup& setup,
                 const EngineChoices& choices) {
    if (s.models.empty()) {
        say("error: no model directory: give --models DIR or set BRIGHTLOOM_MODELS");
        return false;
    }
    brightloom_status status = try_open(s, intra_threads, want_swap, choices, setup);
    if (want_swap &&
        (status == BRIGHTLOOM_MODEL_MISSING || status == BRIGHTLOOM_MODEL_FAILED)) {
        const std::string why = brightloom_last_error();
        if (try_open(s, intra_threads, false, choices, setup) == BRIGHTLOOM_OK) {
            setup.swap_problem = why;
            say("warning: face swapping is off: " + why);
            return true;
        }
    }
    if (status == BRIGHTLOOM_OK || setup.engine) return true;
    say(std::string("error: ") + brightloom_last_error());
    return false;
}
