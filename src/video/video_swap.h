// The video face-swap session's state as the rest of the library (and the
// tests) may see it.
#ifndef BL_VIDEO_SWAP_H
#define BL_VIDEO_SWAP_H

#include "face/face_constants.h"
#include "face/face_detect.h"

// The cached source face, or none while no session is ready.
const bl_face* bl_video_source_face(void);

// 1 while frames are filtered by a reference face, else 0.
int bl_video_reference_active(void);

// The current reference distance threshold.
float bl_video_reference_distance(void);

// Identity distance of two unit-length embeddings: (1 - a.b) * 0.5, from 0
// (same direction) to 1 (opposite), the dot product summed in index order.
float bl_video_embedding_distance(const float a[BL_EMBEDDING_SIZE],
                                  const float b[BL_EMBEDDING_SIZE]);

#endif
