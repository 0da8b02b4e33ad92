// The one place where an exception meets the C interface. Every exported
// function that may throw runs its body here, so no exception reaches the
// host: running out of memory and any other escape each become the answer
// the caller's interface gives for them.
#ifndef BL_EXCEPTION_GUARD_H
#define BL_EXCEPTION_GUARD_H

#include <new>

enum class bl_escape { out_of_memory, other };

// Returns what `body` returns or, when it throws, what `on_escape` answers
// for the kind of escape.
template <typename Body, typename OnEscape>
auto bl_exception_guarded(Body&& body, OnEscape&& on_escape) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return on_escape(bl_escape::out_of_memory);
    } catch (...) {
        return on_escape(bl_escape::other);
    }
}

#endif
