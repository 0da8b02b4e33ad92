// The recognizer: a face's identity as 512 values.
#ifndef BL_FACE_RECOGNIZE_H
#define BL_FACE_RECOGNIZE_H

#include "face/face.h"
#include "image/image_io.h"
#include "inference/model_session.h"

// 0 when the session was created, -1 otherwise; writes its own log lines.
int bl_recognizer_open(const bl_runtime* runtime, const char* path, bl_model* recognizer);

// Fills face->embedding and normed_embedding with `recognizer`. 0 or -1 (a
// closed recognizer too).
int bl_recognize_face(const bl_model* recognizer, const bl_image* image, bl_face* face);

#endif
