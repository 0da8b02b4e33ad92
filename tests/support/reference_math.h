// Straightforward implementations that the library's fast ones are checked
// against, and small vector helpers the tests compare embeddings with.
#ifndef BL_TEST_REFERENCE_MATH_H
#define BL_TEST_REFERENCE_MATH_H

#include <stdint.h>

#include "image/image_io.h"

namespace bl_test {

// Greedy non-maximum suppression over corner boxes (x1, y1, x2, y2) with the
// inclusive-pixel IoU: an insertion sort by descending score (ties, and
// entries a NaN score stops, in input order), then every later box whose IoU
// with a kept one exceeds iou_threshold is dropped. Returns the number of
// indices written to keep (room for count).
int reference_nms(const float* boxes, const float* scores, int count, float iou_threshold,
                  int32_t* keep);

float vec_dot(const float* a, const float* b, int length);
void mat_vec_mul(const float* matrix, const float* vector, float* output, int rows, int cols);

// bl_paste_back's compositing, mapping and testing every frame pixel instead
// of only the crop's footprint: the fast one must give the identical image.
bl_image* paste_back_full_scan(const bl_image* frame, const bl_image* crop, const float* mask,
                               const float matrix[6]);

}  // namespace bl_test

#endif
