// The recognizer and its slot (in the detector's environment).
#ifndef BL_FACE_RECOGNIZE_H
#define BL_FACE_RECOGNIZE_H

#include "face/face.h"
#include "image/image_io.h"
#include "inference/ort_api.h"

// 0 when the session was created, -1 otherwise (also before the detector is
// open); writes its own log lines.
int bl_recognize_init(const char* path, const OrtApi* api);
void bl_recognize_shutdown(void);

// Fills face->embedding and normed_embedding. 0 or -1.
int bl_recognize_face(const bl_image* image, bl_face* face);

#endif
