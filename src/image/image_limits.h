// Limits on the images the library decodes. The public header publishes the
// same cap as BRIGHTLOOM_MAX_IMAGE_PIXELS; the engine checks the two agree.
#ifndef BL_IMAGE_LIMITS_H
#define BL_IMAGE_LIMITS_H

#include <stdint.h>

// Largest image, in pixels (width x height), that is decoded: image files
// come from users, and a small file may declare a picture of any size.
constexpr int64_t BL_MAX_IMAGE_PIXELS = int64_t{1} << 28;

#endif
