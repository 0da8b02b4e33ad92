// Engine state shared with the other modules: settings getters and the error
// buffer. Only public operations write the error buffer.
#ifndef BL_ENGINE_H
#define BL_ENGINE_H

#include <stdint.h>

#include <new>

int bl_is_initialized(void);
int bl_is_swap_available(void);
float bl_get_detector_score(void);
float bl_get_mask_blur(void);
float bl_get_enhancer_blend(void);
// Live view of the four padding values: top, right, bottom, left.
const int32_t* bl_get_mask_padding(void);
// The model-name settings as stored (at most 63 bytes each).
const char* bl_get_detector_model(void);
const char* bl_get_swapper_model(void);
const char* bl_get_enhancer_model(void);

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void bl_set_error(const char* format, ...);

// Runs the body of an exported operation so that no exception reaches the C
// caller: running out of memory (or any other escape) becomes a failure with
// a message instead of terminating the host.
template <typename Body>
int32_t bl_guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        bl_set_error("Out of memory");
    } catch (...) {
        bl_set_error("Internal error");
    }
    return -1;
}

#endif
