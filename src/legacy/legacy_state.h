// The 32 original functions' side of the library: their settings, the
// process-wide engine they run on, the error buffer and the checks every
// one of them starts with. Only these functions write the error buffer.
#ifndef BL_LEGACY_STATE_H
#define BL_LEGACY_STATE_H

#include <stdint.h>

#include "brightloom.h"
#include "engine/exception_guard.h"

inline constexpr char BL_NOT_INITIALIZED[] = "Not initialized — call brightloom_init() first";
inline constexpr char BL_SWAP_NOT_AVAILABLE[] =
    "Face swap is not available — engine was initialized with "
    "brightloom_init_lite(want_swap=0); no recognizer/swapper loaded";
inline constexpr char BL_OUT_OF_MEMORY[] = "Out of memory";

// The 32 functions' state, in one place: the engine they run on (none
// before initialization), whether it opened swap, and their settings. The
// tests read it through legacy/legacy_state_testing.h.
struct bl_legacy_model_name {
    char text[64];
};
struct bl_legacy_state {
    brightloom_engine* engine;
    int32_t want_swap;
    bl_legacy_model_name detector_model, swapper_model, enhancer_model;
    float detector_score, mask_blur, enhancer_blend;
    int32_t mask_padding[4];  // top, right, bottom, left
};
extern bl_legacy_state g_bl_legacy;

// The engine the 32 functions run on; none before initialization.
brightloom_engine* bl_process_engine(void);

// The numeric settings as per-call options of the engine.
brightloom_options bl_settings_options(void);

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void bl_set_error(const char* format, ...);

// A failed engine step as these functions report it: the thread's message
// goes into the error buffer. Returns -1 for the caller to return.
int32_t bl_report_failure(void);

// The checks that open the public operations: 0 when they pass, else -1
// with the message. Swap also needs the recognizer and swapper, which a lite
// init leaves closed.
int32_t bl_require_initialized(void);
int32_t bl_require_swap(void);

// The one answer to running out of memory: the operation fails with the
// library's message. Returns -1 for the caller to return.
int32_t bl_out_of_memory(void);

// Runs the body of an exported operation so that no exception reaches the C
// caller: running out of memory (or any other escape) becomes a failure with
// a message instead of terminating the host.
template <typename Body>
int32_t bl_guarded(Body&& body) noexcept {
    return bl_exception_guarded(body, [](bl_escape escape) -> int32_t {
        if (escape == bl_escape::out_of_memory) return bl_out_of_memory();
        bl_set_error("Internal error");
        return -1;
    });
}

#endif
