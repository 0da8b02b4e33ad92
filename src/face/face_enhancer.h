// The face enhancer (restores one aligned face) and its slot; the frame
// enhancer that upscales whole frames is frame/frame_enhancer.h.
#ifndef BL_FACE_ENHANCER_H
#define BL_FACE_ENHANCER_H

#include <stdint.h>

#include "face/face.h"
#include "image/image_io.h"
#include "inference/ort_api.h"

int bl_face_enhancer_init(const char* path, const OrtApi* api);
void bl_face_enhancer_shutdown(void);

// New image: frame with one face restored and blended; none on failure.
bl_image* bl_face_enhancer_apply(const bl_face* face, const bl_image* frame, float blend,
                                 float mask_blur, const int32_t mask_padding[4]);

#endif
