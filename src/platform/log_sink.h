// Where the library's log lines go: to the callback of the engine serving
// the current call, or, without one, to standard error exactly as written.
#ifndef BL_LOG_SINK_H
#define BL_LOG_SINK_H

#include "brightloom.h"

// A host's callback and the data it is called with; a none callback means
// standard error.
struct bl_log_sink {
    brightloom_log_fn fn;
    void* user_data;
};

// Routes this thread's lines to `sink` for as long as the scope lives. Every
// exported call opens one, so code deep inside an operation logs without
// being handed the engine; scopes nest (the 32 functions call the engine).
class bl_log_scope {
public:
    explicit bl_log_scope(const bl_log_sink* sink);
    ~bl_log_scope();
    bl_log_scope(const bl_log_scope&) = delete;
    bl_log_scope& operator=(const bl_log_scope&) = delete;

private:
    const bl_log_sink* saved_;
};

// Writes one line. `format` ends in "\n" as the stderr line does; the
// callback receives the line without it.
// MinGW's own printf checking knows only the Windows formats; the library
// prints through the C99 ones there too (%zu included).
#if defined(__MINGW32__)
__attribute__((format(gnu_printf, 2, 3)))
#elif defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void bl_log(brightloom_log_level level, const char* format, ...);

#endif
