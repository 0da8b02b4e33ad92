// The tests' view of the 32 functions' state (legacy/legacy_state.h). Compiled
// only into the internal library they link (bl_internal), never into the
// shipped one.
#ifndef BL_LEGACY_STATE_TESTING_H
#define BL_LEGACY_STATE_TESTING_H

#include <stdint.h>

int bl_is_initialized(void);
int bl_is_swap_available(void);
float bl_get_detector_score(void);
float bl_get_mask_blur(void);
float bl_get_enhancer_blend(void);
// Live view of the four padding values: top, right, bottom, left.
const int32_t* bl_get_mask_padding(void);
// The model-name settings as stored (at most 63 bytes each).
const char* bl_get_detector_model(void);
const char* bl_get_swapper_model(void);
const char* bl_get_enhancer_model(void);

#endif
