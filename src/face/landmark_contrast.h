// The landmarker's treatment of dark crops: 8-bit Lab conversions and
// contrast-limited adaptive equalisation of the lightness.
#ifndef BL_LANDMARK_CONTRAST_H
#define BL_LANDMARK_CONTRAST_H

#include <stdint.h>

#include "image/image_io.h"

// Equalises the lightness of a crop whose mean lightness byte is below 30:
// 1 when it did, 0 when the crop was left alone, -1 when memory ran out
// (the crop may then be half converted and is of no use).
int bl_dark_crop_contrast(bl_image* crop);

// 8-bit Lab conversions (L scaled to 0 ... 255, a and b offset by 128).
void bl_rgb_to_lab8(const uint8_t rgb[3], uint8_t lab[3]);
void bl_lab8_to_rgb(const uint8_t lab[3], uint8_t rgb[3]);

// Contrast-limited adaptive equalisation of one byte plane in place over 8 x 8
// tiles: 0, or -1 on bad arguments or without memory (plane untouched).
int bl_clahe8(uint8_t* plane, int width, int height);

#endif
