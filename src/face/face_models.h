// The face models one engine holds, handed together to the steps that use
// several of them (analysing a face, swapping every face of an image).
#ifndef BL_FACE_MODELS_H
#define BL_FACE_MODELS_H

#include "face/face_detect.h"
#include "face/face_masks.h"
#include "face/face_swap.h"
#include "inference/model_session.h"

struct bl_face_models {
    bl_detector detector;
    bl_model landmarker;  // optional
    bl_model recognizer;  // open when the engine swaps
    bl_swapper swapper;   // open when the engine swaps
    bl_model enhancer;    // optional
    bl_model occluder;    // optional
    bl_model parser;      // optional

    bl_paste_masks masks() const { return {&occluder, &parser}; }
};

// Closes every model; safe on closed ones.
void bl_face_models_close(bl_face_models* models);

#endif
