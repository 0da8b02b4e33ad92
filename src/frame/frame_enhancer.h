// Frame upscaling by 2 or 4 in overlapping 128 x 128 tiles.
#ifndef BL_FRAME_ENHANCER_H
#define BL_FRAME_ENHANCER_H

#include "image/image_io.h"
#include "inference/ort_api.h"

int bl_frame_enhancer_init(const char* path, int scale, const OrtApi* api);
void bl_frame_enhancer_shutdown(void);
// Factor recorded by the last bl_frame_enhancer_init (2 initially).
int bl_frame_enhancer_scale(void);

// New upscaled image; blend is the share of the model result in percent.
bl_image* bl_enhance_frame(const bl_image* frame, float blend);

#endif
