// Loading the inference runtime: it is found at run time rather than linked,
// next to this library first.
#ifndef BL_RUNTIME_LOADER_H
#define BL_RUNTIME_LOADER_H

#include "inference/ort_api.h"

// Loads the inference runtime (once per process; never unloaded) and returns
// its entry point's table, or none when the runtime cannot be found. The
// runtime is looked for next to this library first, then through the
// system's search (on Windows the safe one, which leaves out the current
// directory).
const OrtApiBase* bl_runtime_api_base(void);

// Tests only: load the runtime from this file (UTF-8) instead (none restores
// the normal search). Takes effect for the next load attempt; a runtime
// already loaded stays loaded.
void bl_runtime_set_path_for_testing(const char* path);

#endif
