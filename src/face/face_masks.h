// The occlusion and region masks that narrow a paste mask, with the occluder
// and face-parser slots.
#ifndef BL_FACE_MASKS_H
#define BL_FACE_MASKS_H

#include "image/image_io.h"
#include "inference/ort_api.h"

int bl_occluder_init(const char* path, const OrtApi* api);
int bl_parser_init(const char* path, const OrtApi* api);
void bl_occluder_shutdown(void);
void bl_parser_shutdown(void);
int bl_occluder_available(void);
int bl_parser_available(void);

// Crop-sized masks (1 = paste); 0 on success, -1 on failure (a closed slot,
// a failed run, no memory), the mask then being of no use.
int bl_create_occlusion_mask(const bl_image* crop, float* mask);
int bl_create_region_mask(const bl_image* crop, float* mask);

// Bilinear resize of a float map, sampling at pixel centres.
void bl_mask_resize_bilinear(const float* src, int src_width, int src_height, float* dst,
                             int dst_width, int dst_height);

#endif
