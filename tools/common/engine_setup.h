// An engine opened from the global options, for the commands that run their
// own calls (serve, detect) instead of the process-wide library.
#ifndef BL_TOOLS_COMMON_ENGINE_SETUP_H
#define BL_TOOLS_COMMON_ENGINE_SETUP_H

#include <memory>
#include <string>

#include "brightloom.h"
#include "settings.h"

struct EngineSetup {
    std::unique_ptr<brightloom_engine, void (*)(brightloom_engine*)> engine{nullptr,
                                                                            brightloom_engine_close};
    // The detector's model file, as the engine tells it.
    std::string detector;
    // False when the recognizer or swapper could not be opened.
    bool can_swap = false;
    // Why not, when they were asked for: the library's message.
    std::string swap_problem;
};

// How an engine is opened besides the settings. With `warm_up` every model
// runs once at open (engine params warm_up): for a host that answers many
// calls, so that the first is not the slowest. With `private_model_dir` its
// messages name model files without the model directory (engine params
// private_model_dir): for a host that passes them on to others.
struct EngineChoices {
    bool warm_up = false;
    bool private_model_dir = false;
};

// Opens the engine with `intra_threads` per model run (0: every core). When
// `want_swap` and the swapping models cannot be opened, goes on without
// them after a warning. False (the error said) when no engine could be had.
bool open_engine(const Settings& s, int intra_threads, bool want_swap, EngineSetup& setup,
                 const EngineChoices& choices = EngineChoices());

#endif
