// The face enhancer: restores one aligned face. (Whole frames are enlarged
// by frame/frame_upscaler.h.)
#ifndef BL_FACE_ENHANCER_H
#define BL_FACE_ENHANCER_H

#include <stdint.h>

#include "face/face.h"
#include "image/image_io.h"
#include "inference/model_session.h"

// 0 when the session was created, -1 otherwise; writes its own lines.
int bl_face_enhancer_open(const bl_runtime* runtime, const char* path, bl_model* enhancer);

// New image: frame with one face restored by `enhancer` and blended; none on
// failure (a closed enhancer too).
bl_image* bl_face_enhancer_apply(const bl_model* enhancer, const bl_face* face,
                                 const bl_image* frame, float blend, float mask_blur,
                                 const int32_t mask_padding[4]);

#endif
