// The video face-swap functions' state (a swap session on the process-wide
// engine, and the reference settings) as the tests may see it.
#ifndef BL_VIDEO_SWAP_H
#define BL_VIDEO_SWAP_H

#include "face/face.h"

// The cached source face, or none while no session is ready.
const bl_face* bl_video_source_face(void);

// 1 while frames are filtered by a reference face, else 0.
int bl_video_reference_active(void);

// The current reference distance threshold.
float bl_video_reference_distance(void);

#endif
