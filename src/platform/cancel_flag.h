// A caller's request to stop an operation: a flag another thread sets
// non-zero while the operation runs. Work reads it only where stopping is
// cheap and leaves nothing half-done behind (before a face, between tiles).
#ifndef BL_CANCEL_FLAG_H
#define BL_CANCEL_FLAG_H

#include <stdint.h>

// True when `flag` asks to stop; a NULL flag never does. Read as an atomic
// load where the compiler offers one, so that a host storing to the flag
// atomically from another thread shares it without a data race.
inline bool bl_cancel_requested(const volatile int32_t* flag) {
    if (!flag) return false;
#if defined(__GNUC__)
    return __atomic_load_n(flag, __ATOMIC_RELAXED) != 0;
#else
    return *flag != 0;
#endif
}

#endif
