// Frame upscaling by 2 or 4 in overlapping 128 x 128 tiles.
#ifndef BL_FRAME_UPSCALER_H
#define BL_FRAME_UPSCALER_H

#include <stdint.h>

#include "image/image_io.h"
#include "inference/model_session.h"

// An upscaler model and the factor its tiling trusts it to enlarge by.
struct bl_upscaler {
    bl_model model;
    int scale = 2;
};

// Records `scale` whatever the outcome, then opens the model: 0 when the
// session was created, -1 otherwise; writes its own lines.
int bl_upscaler_open(const bl_runtime* runtime, const char* path, int scale,
                     bl_upscaler* upscaler);

// New image enlarged by `upscaler`; blend is the share of the model result
// in percent. None on failure (a closed upscaler too) and when `cancel`
// (may be NULL) asks to stop, which is read before every tile.
bl_image* bl_upscale_frame(const bl_upscaler* upscaler, const bl_image* frame, float blend,
                           const volatile int32_t* cancel = nullptr);

#endif
