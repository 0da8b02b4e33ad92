// Small numeric kernels of face analysis and mask building.
#ifndef BL_IMAGE_MATH_H
#define BL_IMAGE_MATH_H

#include <stddef.h>
#include <stdint.h>

// Intersection over union of two corner boxes with the inclusive-pixel
// convention (+1 on every extent).
float bl_box_iou(const float* kept, const float* candidate);

float bl_vec_norm(const float* v, int length);
void bl_vec_normalize(float* v, int length);

// Anchor centres (column * stride, row * stride), anchors_per_cell per cell,
// row-major. Returns the number of anchors written.
int bl_create_anchors(int stride, int anchors_per_cell, int rows, int cols, float* output);
// Corner boxes from anchor centres and four distances per anchor (left, top,
// right, bottom) given in units of `stride`.
void bl_decode_boxes(const float* anchors, const float* distances, int count, float stride,
                     float* boxes);
// Five points per anchor from ten offsets (x, y) given in units of `stride`.
void bl_decode_landmarks(const float* anchors, const float* offsets, int count, float stride,
                         float* landmarks);

// Whether all n values are finite (no NaN, no infinity).
bool bl_all_finite(const float* v, int n);

// Holds every value inside 0 ... 1; NaN stays.
void bl_clamp_unit(float* values, size_t count);

// Separable Gaussian blur of a float map, in place; edges repeated. 0, or
// -1 with the map untouched when memory runs out.
int bl_gaussian_blur_f32(float* map, int width, int height, float sigma);

// Feathered rectangle of ones; padding is top, right, bottom, left in percent.
// 0, or -1 when memory for the feathering runs out.
int bl_create_box_mask(int width, int height, float blur, const int32_t padding[4],
                       float* mask);

#endif
