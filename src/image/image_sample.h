// The bilinear blend every resampler of the library shares.
#ifndef BL_IMAGE_SAMPLE_H
#define BL_IMAGE_SAMPLE_H

// Four-tap bilinear blend of the values around a point: p00 at the point's
// pixel, p10 to its right, p01 below, p11 diagonally; fx and fy are the
// fractions towards the right and downwards. Each product is formed left to
// right and the four are summed in this order, so that the warp, the
// paste-back, the mask resize and the colorizer's resizes agree bit for bit.
static inline float bl_bilinear(float p00, float p10, float p01, float p11, float fx, float fy) {
    return p00 * (1.0f - fx) * (1.0f - fy) + p10 * fx * (1.0f - fy) + p01 * (1.0f - fx) * fy +
           p11 * fx * fy;
}

#endif
