// Statuses and the per-thread message of the engine interface.
#include "engine/bl_status.h"

#include <stdarg.h>
#include <stdio.h>

// One message per thread: a host that serves requests on many threads reads
// the message of its own failed call, never another request's.
static thread_local char t_error[1024] = "";

brightloom_status bl_fail(brightloom_status status, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(t_error, sizeof t_error, format, args);
    va_end(args);
    return status;
}

const char* bl_thread_error(void) { return t_error; }

void bl_clear_thread_error(void) { t_error[0] = '\0'; }

extern "C" {

const char* brightloom_last_error(void) { return t_error; }

const char* brightloom_status_name(brightloom_status status) {
    switch (status) {
        case BRIGHTLOOM_OK: return "ok";
        case BRIGHTLOOM_BAD_ARGUMENT: return "bad argument";
        case BRIGHTLOOM_UNREADABLE_INPUT: return "unreadable input";
        case BRIGHTLOOM_UNSUPPORTED_FORMAT: return "unsupported format";
        case BRIGHTLOOM_TOO_LARGE: return "too large";
        case BRIGHTLOOM_NO_FACE: return "no face";
        case BRIGHTLOOM_MODEL_MISSING: return "model missing";
        case BRIGHTLOOM_MODEL_FAILED: return "model failed";
        case BRIGHTLOOM_CANNOT_WRITE: return "cannot write";
        case BRIGHTLOOM_OUT_OF_MEMORY: return "out of memory";
        case BRIGHTLOOM_CANCELLED: return "cancelled";
        case BRIGHTLOOM_INTERNAL: return "internal";
        case BRIGHTLOOM_UNAVAILABLE: return "unavailable";
    }
    return "unknown status";
}

}  // extern "C"
