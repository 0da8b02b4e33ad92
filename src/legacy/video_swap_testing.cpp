#include "legacy/video_swap_testing.h"

#include "legacy/video_swap.h"

const bl_face* bl_video_source_face(void) {
    return g_bl_video_session ? &g_bl_video_session->source_face : nullptr;
}

float bl_video_reference_distance(void) { return g_bl_video_ref_distance; }

int bl_video_reference_active(void) { return g_bl_video_ref_active; }
