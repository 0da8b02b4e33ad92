// A caller's request to stop an operation: a flag another thread sets
// non-zero while the operation runs. Work reads it only where stopping is
// cheap and leaves nothing half-done behind (before a face, between tiles).
#ifndef BL_CANCEL_FLAG_H
#define BL_CANCEL_FLAG_H

#include <stdint.h>

// True when `flag` asks to stop; a NULL flag never does.
inline bool bl_cancel_requested(const volatile int32_t* flag) { return flag && *flag != 0; }

#endif
