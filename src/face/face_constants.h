// Sizes every face model and its callers agree on.
#ifndef BL_FACE_CONSTANTS_H
#define BL_FACE_CONSTANTS_H

// Side of the square the detector receives: every face operation detects at
// this size, so a face found in a photo is found in a video frame too.
constexpr int BL_DETECT_INPUT_SIZE = 640;

// Length of the recognizer's identity vector (bl_face::embedding).
constexpr int BL_EMBEDDING_SIZE = 512;

#endif
