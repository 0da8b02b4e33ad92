// The engine interface's answer to every call: a status for the program and,
// on failure, a message for the person, kept per thread so that threads
// sharing one engine never read each other's messages.
#ifndef BL_STATUS_H
#define BL_STATUS_H

#include "brightloom.h"
#include "engine/exception_guard.h"

// Records this thread's message for a failure and returns `status`, so a
// failing step reads `return bl_fail(BRIGHTLOOM_NO_FACE, "No face ...");`.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
brightloom_status bl_fail(brightloom_status status, const char* format, ...);

// This thread's last message ("" before any failure).
const char* bl_thread_error(void);

// Clears this thread's message at the start of a call.
void bl_clear_thread_error(void);

// Runs the body of an exported engine call so that no exception reaches the C
// caller: running out of memory becomes BRIGHTLOOM_OUT_OF_MEMORY with "Out of
// memory", anything else BRIGHTLOOM_INTERNAL with "Internal error".
template <typename Body>
brightloom_status bl_status_guarded(Body&& body) noexcept {
    return bl_exception_guarded(body, [](bl_escape escape) {
        if (escape == bl_escape::out_of_memory) return bl_fail(BRIGHTLOOM_OUT_OF_MEMORY, "Out of memory");
        return bl_fail(BRIGHTLOOM_INTERNAL, "Internal error");
    });
}

#endif
