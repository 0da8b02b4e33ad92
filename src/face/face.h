// The face every model of src/face reads and writes, and the list the
// detector fills.
#ifndef BL_FACE_H
#define BL_FACE_H

#include <stdint.h>

#include "face/face_constants.h"

#define BL_MAX_FACES 64

// One detected face. Plain data: may be copied whole.
struct bl_face {
    float box[4];                 // x1, y1, x2, y2 in source-image pixels
    float landmark5[10];          // the detector's five points
    float score;                  // detector confidence
    float landmark68[136];        // refined points; zero until the landmarker runs
    float landmark5_align[10];    // the points every alignment uses
    float embedding[BL_EMBEDDING_SIZE];         // raw identity vector; zero until recognized
    float normed_embedding[BL_EMBEDDING_SIZE];  // embedding at unit length
};

struct bl_face_list {
    bl_face faces[BL_MAX_FACES];  // best score first
    int32_t count;
};

#endif
