// Small numeric kernels of face analysis and mask building.
#ifndef BL_IMAGE_MATH_H
#define BL_IMAGE_MATH_H

#include <stdint.h>

// Greedy non-maximum suppression over corner boxes (x1, y1, x2, y2) with the
// inclusive-pixel IoU; keeps indices in descending score order (ties in input
// order). Returns the number of indices written to keep (room for count).
// Intersection over union of two corner boxes with the inclusive-pixel
// convention (+1 on every extent).
float bl_box_iou(const float* kept, const float* candidate);

int bl_nms(const float* boxes, const float* scores, int count, float iou_threshold,
           int32_t* keep);

float bl_vec_norm(const float* v, int length);
void bl_vec_normalize(float* v, int length);
float bl_vec_dot(const float* a, const float* b, int length);
void bl_mat_vec_mul(const float* matrix, const float* vector, float* output, int rows,
                    int cols);

// Anchor centres (column * stride, row * stride), anchors_per_cell per cell,
// row-major. Returns the number of anchors written.
int bl_create_anchors(int stride, int anchors_per_cell, int rows, int cols, float* output);
void bl_decode_boxes(const float* anchors, const float* distances, int count, float* boxes);
void bl_decode_landmarks(const float* anchors, const float* offsets, int count,
                         float* landmarks);

// Separable Gaussian blur of a float map, in place; edges repeated.
void bl_gaussian_blur_f32(float* map, int width, int height, float sigma);

// Feathered rectangle of ones; padding is top, right, bottom, left in percent.
void bl_create_box_mask(int width, int height, float blur, const int32_t padding[4],
                        float* mask);

#endif
