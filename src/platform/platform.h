// The few things that differ between platforms: loading the inference
// runtime, and listing a directory.
#ifndef BL_PLATFORM_H
#define BL_PLATFORM_H

#include "inference/ort_api.h"

// Path separator used when joining directory and file names.
#define BL_PATH_SEPARATOR '/'

// Loads the inference runtime (once per process; never unloaded) and returns
// its entry point's table, or none when the runtime cannot be found. The
// runtime is looked for next to this library first, then through the normal
// loader search.
const OrtApiBase* bl_runtime_api_base(void);

// Tests only: load the runtime from this file instead (none restores the
// normal search). Takes effect for the next load attempt; a runtime already
// loaded stays loaded.
void bl_runtime_set_path_for_testing(const char* path);

#endif
