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
    // The detector's model file, as the engine's log names it ("" unknown).
    std::string detector;
    // False when the recognizer or swapper could not be opened.
    bool can_swap = false;
    // Why not, when they were asked for: the library's message.
    std::string swap_problem;
};

// Opens the engine with `intra_threads` per model run (0: every core). When
// `want_swap` and the swapping models cannot be opened, goes on without
// them after a warning. False (the error said) when no engine could be had.
// With `warm_up` every model runs once at open (engine params warm_up): for
// a host that answers many calls, so that the first is not the slowest.
bool open_engine(const Settings& s, int intra_threads, bool want_swap, EngineSetup& setup,
                 bool warm_up = false);

#endif
