// Affine alignment of faces to five-point templates, warping, and compositing
// a processed crop back into its frame.
#ifndef BL_IMAGE_WARP_H
#define BL_IMAGE_WARP_H

#include "image/image_io.h"

// Five points (x, y) in normalised crop coordinates: eyes, nose tip, mouth corners.
extern const float WARP_TEMPLATE_ARCFACE_112_V2[10];
extern const float WARP_TEMPLATE_ARCFACE_128_V2[10];
extern const float WARP_TEMPLATE_FFHQ_512[10];

// Least-squares similarity transform (scale, rotation, translation) carrying
// `count` src points onto dst points, as a 2 x 3 row-major matrix.
void bl_estimate_affine(const float* src, const float* dst, int count, float out[6]);

// Inverse of m; a singular matrix gives the identity. Returns out.
float* bl_invert_affine(const float m[6], float out[6]);

// New width x height image; m maps image coordinates to output coordinates.
bl_image* bl_warp_affine(const bl_image* image, const float m[6], int width, int height);

// Crop aligned so the five landmarks land on the template scaled to the crop.
// out_matrix (may be none) receives the image-to-crop matrix.
bl_image* bl_warp_face_by_landmarks(const bl_image* image, const float landmarks[10],
                                    const float tmpl[10], int width, int height,
                                    float out_matrix[6]);

// New copy of frame with crop blended in through mask (crop-sized float map,
// clamped to 0 ... 1); matrix maps frame coordinates to crop coordinates.
bl_image* bl_paste_back(const bl_image* frame, const bl_image* crop, const float* mask,
                        const float matrix[6]);

#endif
