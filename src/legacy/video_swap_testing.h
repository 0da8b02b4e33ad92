// The tests' view of the video face-swap functions' state
// (legacy/video_swap.h). Compiled only into the internal library they
// link (bl_internal), never into the shipped one.
#ifndef BL_VIDEO_SWAP_TESTING_H
#define BL_VIDEO_SWAP_TESTING_H

#include "face/face.h"

// The cached source face, or none while no session is ready.
const bl_face* bl_video_source_face(void);

// 1 while frames are filtered by a reference face, else 0.
int bl_video_reference_active(void);

// The current reference distance threshold.
float bl_video_reference_distance(void);

#endif
