// How a face's patch of one frame moved into the next: a similarity (shift,
// scale, in-plane turn) found by aligning the two frames' pixels. Detectors
// place points with a pixel or two of noise; the pixels themselves move with
// a small fraction of that error, so a track predicts its points from them.
#ifndef BL_FACE_MOTION_H
#define BL_FACE_MOTION_H

#include <vector>

#include "image/image_io.h"

// A face region of one frame, sampled as grey values on a square grid.
struct bl_face_patch {
    float centre[2] = {0.0f, 0.0f};
    float half = 0.0f;          // half the side of the square, in pixels
    std::vector<float> grey;    // BL_PATCH_SIDE x BL_PATCH_SIDE, row by row
};

// Maps a point of the earlier frame into the later one:
// x' = centre + m * (x - centre) + shift, m = [[1 + a, -b], [b, 1 + a]].
struct bl_face_motion {
    float centre[2];
    float a, b;
    float shift[2];
    void apply(const float in[2], float out[2]) const;
};

// The square around `box` (x1, y1, x2, y2) of `frame`, sampled with a small
// box filter so that the coarse grid does not alias. False when out of memory.
bool bl_face_patch_take(const bl_image* frame, const float box[4], bl_face_patch* patch);

// Aligns `earlier` with `frame`, starting from `guess` (from the detector's
// boxes). True with *motion when the alignment converged onto matching
// pixels; false when it did not (a cut, an occlusion, a blank region).
bool bl_face_motion_find(const bl_face_patch& earlier, const bl_image* frame,
                         const bl_face_motion& guess, bl_face_motion* motion);

#endif
