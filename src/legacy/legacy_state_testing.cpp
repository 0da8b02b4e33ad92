#include "legacy/legacy_state_testing.h"

#include "legacy/legacy_state.h"

int bl_is_initialized(void) { return g_bl_legacy.engine ? 1 : 0; }
int bl_is_swap_available(void) { return g_bl_legacy.engine && g_bl_legacy.want_swap ? 1 : 0; }
float bl_get_detector_score(void) { return g_bl_legacy.detector_score; }
float bl_get_mask_blur(void) { return g_bl_legacy.mask_blur; }
float bl_get_enhancer_blend(void) { return g_bl_legacy.enhancer_blend; }
const int32_t* bl_get_mask_padding(void) { return g_bl_legacy.mask_padding; }
const char* bl_get_detector_model(void) { return g_bl_legacy.detector_model.text; }
const char* bl_get_swapper_model(void) { return g_bl_legacy.swapper_model.text; }
const char* bl_get_enhancer_model(void) { return g_bl_legacy.enhancer_model.text; }
