#include "platform/log_sink.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <string>

// Per thread: two threads serving two engines each log to their own host.
static thread_local const bl_log_sink* t_sink = nullptr;

bl_log_scope::bl_log_scope(const bl_log_sink* sink) : saved_(t_sink) { t_sink = sink; }

bl_log_scope::~bl_log_scope() { t_sink = saved_; }

// The formatted line without its trailing newline; empty when formatting fails.
static std::string format_line(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int length = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) return std::string();
    std::string line(static_cast<size_t>(length) + 1, '\0');
    vsnprintf(&line[0], line.size(), format, args);
    line.resize(static_cast<size_t>(length));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
}

void bl_log(brightloom_log_level level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const bl_log_sink* sink = t_sink;
    if (!sink || !sink->fn) {
        vfprintf(stderr, format, args);
        va_end(args);
        return;
    }
    // A host's logger must not be able to break the operation that logs,
    // so a line that cannot be formatted (no memory) is dropped.
    try {
        std::string line = format_line(format, args);
        sink->fn(sink->user_data, level, line.c_str());
    } catch (...) {
    }
    va_end(args);
}
