// Loading the inference runtime: it is found at run time rather than linked,
// next to this library first.
#ifndef BL_RUNTIME_LOADER_H
#define BL_RUNTIME_LOADER_H

#include <string>

#include "inference/ort_api.h"

// Loads the inference runtime (once per process; never unloaded) and returns
// its entry point's table, or none when the runtime cannot be found. The
// runtime is looked for next to this library first, then through the
// system's search (on Windows the safe one, which leaves out the current
// directory).
const OrtApiBase* bl_runtime_api_base(void);

// When set (UTF-8), the runtime is loaded from this file instead of looked
// for; the tests set it through inference/runtime_loader_testing.h.
extern std::string g_bl_runtime_override;

#endif
