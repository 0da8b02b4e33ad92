// The 68-point landmarker.
#ifndef BL_FACE_LANDMARK_H
#define BL_FACE_LANDMARK_H

#include "face/face.h"
#include "image/image_io.h"
#include "inference/model_session.h"

// 0 when the session was created, -1 otherwise; writes its own log lines.
int bl_landmarker_open(const bl_runtime* runtime, const char* path, bl_model* landmarker);

// Refines face->landmark68 and landmark5_align with `landmarker`; returns
// the model's confidence, 0 when nothing was done (a closed landmarker too).
float bl_detect_landmark68(const bl_model* landmarker, const bl_image* image, bl_face* face);
void bl_landmark68_to_5(const float landmark68[136], float out[10]);

// The landmarker's steps, for tests: the matrix that centres the box in the
// 256 x 256 crop with its longer side over 195 pixels, and the crop as the
// model receives it (dark crops equalised, see face/landmark_contrast.h;
// none on failure).
void bl_landmark68_crop_matrix(const float box[4], float m[6]);
bl_image* bl_landmark68_crop(const bl_image* image, const float m[6]);

#endif
