// The detector's environment as the slots that run in it (landmarker,
// recognizer) use it.
#ifndef BL_DETECTOR_ENV_H
#define BL_DETECTOR_ENV_H

#include "inference/model_session.h"
#include "inference/ort_api.h"

// Opens `slot` from `path` in the detector's environment, writing "<tag>
// <what> loaded: <path>" on success; refuses (-1, with a line) while the
// detector is closed.
int bl_detector_env_open(bl_slot* slot, const char* path, const OrtApi* api,
                         const bl_slot_lines* lines, const char* tag, const char* what);

// The detector's CPU memory description; none while it is closed.
OrtMemoryInfo* bl_detector_memory(void);

#endif
