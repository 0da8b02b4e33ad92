// The occlusion and region masks that narrow a paste mask, made by the
// occluder and face-parser models.
#ifndef BL_FACE_MASKS_H
#define BL_FACE_MASKS_H

#include "image/image_io.h"
#include "inference/model_session.h"

// 0 when the session was created, -1 otherwise; each writes its own lines.
int bl_occluder_open(const bl_runtime* runtime, const char* path, bl_model* occluder);
int bl_parser_open(const bl_runtime* runtime, const char* path, bl_model* parser);

// The optional models that narrow a paste mask; none or closed leaves the
// mask as it is.
struct bl_paste_masks {
    const bl_model* occluder;
    const bl_model* parser;
};

// Crop-sized masks (1 = paste); 0 on success, -1 on failure (a closed model,
// a failed run, no memory), the mask then being of no use.
int bl_create_occlusion_mask(const bl_model* occluder, const bl_image* crop, float* mask);
int bl_create_region_mask(const bl_model* parser, const bl_image* crop, float* mask);

// Bilinear resize of a float map, sampling at pixel centres.
void bl_mask_resize_bilinear(const float* src, int src_width, int src_height, float* dst,
                             int dst_width, int dst_height);

#endif
