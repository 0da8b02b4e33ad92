// Face swapping (four swapper families), the occlusion and region masks that
// narrow the paste mask, and the face enhancer, with their four model slots.
#ifndef BL_FACE_SWAP_H
#define BL_FACE_SWAP_H

#include <stdint.h>

#include "face/face_detect.h"
#include "image/image_io.h"
#include "inference/ort_api.h"

int bl_swap_init(const char* path, const char* type, const OrtApi* api);
int bl_enhance_init(const char* path, const OrtApi* api);
int bl_occluder_init(const char* path, const OrtApi* api);
int bl_parser_init(const char* path, const OrtApi* api);
void bl_swap_shutdown(void);
void bl_enhance_shutdown(void);
void bl_occluder_shutdown(void);
void bl_parser_shutdown(void);
int bl_occluder_available(void);
int bl_parser_available(void);

// Swapper type recorded by the last bl_swap_init ("uniface" initially).
const char* bl_swap_type(void);

// New image: target_image with target_face replaced by source_face's
// identity; none on any failure (target_image is never modified).
bl_image* bl_swap_face(const bl_face* source_face, const bl_face* target_face,
                       const bl_image* target_image, const bl_image* source_image,
                       float mask_blur, const int32_t mask_padding[4]);

// Crop-sized masks (1 = paste); 0 on success, -1 with mask untouched.
int bl_create_occlusion_mask(const bl_image* crop, float* mask);
int bl_create_region_mask(const bl_image* crop, float* mask);

// Bilinear resize of a float map, sampling at pixel centres.
void bl_mask_resize_bilinear(const float* src, int src_width, int src_height, float* dst,
                             int dst_width, int dst_height);

// New image: frame with one face restored and blended; none on failure.
bl_image* bl_enhance_face(const bl_face* face, const bl_image* frame, float blend,
                          float mask_blur, const int32_t mask_padding[4]);

#endif
