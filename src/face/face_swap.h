// The face swapper (four model families).
#ifndef BL_FACE_SWAP_H
#define BL_FACE_SWAP_H

#include <stdint.h>

#include "face/face.h"
#include "image/image_io.h"
#include "face/face_masks.h"
#include "inference/model_session.h"

// The swapper model and its family ("uniface", "inswapper", "blendswap",
// "simswap"), which decides its inputs.
struct bl_swapper {
    bl_model model;
    char type[32] = "uniface";
};

// Records `type` (at most 31 bytes) whatever the outcome, then opens the
// model: 0 when the session was created, -1 otherwise; writes its own lines.
int bl_swapper_open(const bl_runtime* runtime, const char* path, const char* type,
                    bl_swapper* swapper);

// New image: target_image with target_face replaced by source_face's
// identity; none on any failure (target_image is never modified). The paste
// mask is narrowed by the occlusion and region masks when their models are open.
bl_image* bl_swap_face(const bl_swapper* swapper, const bl_paste_masks& masks,
                       const bl_face* source_face, const bl_face* target_face,
                       const bl_image* target_image, const bl_image* source_image,
                       float mask_blur, const int32_t mask_padding[4]);

#endif
