// The face swapper (four model families) and its slot.
#ifndef BL_FACE_SWAP_H
#define BL_FACE_SWAP_H

#include <stdint.h>

#include "face/face.h"
#include "image/image_io.h"
#include "inference/ort_api.h"

int bl_swap_init(const char* path, const char* type, const OrtApi* api);
void bl_swap_shutdown(void);

// Swapper type recorded by the last bl_swap_init ("uniface" initially).
const char* bl_swap_type(void);

// New image: target_image with target_face replaced by source_face's
// identity; none on any failure (target_image is never modified). The paste
// mask is narrowed by the occlusion and region masks when their models are open.
bl_image* bl_swap_face(const bl_face* source_face, const bl_face* target_face,
                       const bl_image* target_image, const bl_image* source_image,
                       float mask_blur, const int32_t mask_padding[4]);

#endif
