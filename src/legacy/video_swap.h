// The video face-swap functions' state: the swap session on the process-wide
// engine and the reference settings. The tests read it through
// legacy/video_swap_testing.h.
#ifndef BL_VIDEO_SWAP_H
#define BL_VIDEO_SWAP_H

#include <stdint.h>

#include <memory>

#include "engine/swap_session.h"

// None until face_swap_video_init() succeeds, and again after cleanup.
extern std::unique_ptr<brightloom_swap_session> g_bl_video_session;

// 1 while frames are filtered by a reference face, else 0, and the
// reference distance threshold.
extern int32_t g_bl_video_ref_active;
extern float g_bl_video_ref_distance;

#endif
