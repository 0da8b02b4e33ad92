// Frame colorization in CIE L*a*b*: the model predicts a* and b* from a grey
// rendering; the frame keeps its own lightness.
#ifndef BL_FRAME_COLORIZER_H
#define BL_FRAME_COLORIZER_H

#include "image/image_io.h"
#include "inference/ort_api.h"

int bl_colorizer_init(const char* path, const OrtApi* api);
void bl_colorizer_shutdown(void);

// Gamma-encoded sRGB components 0 ... 1 to L*, a*, b* (D65).
void rgb_to_lab(float r, float g, float b, float* L, float* a, float* b_out);
// The inverse, clamped to 0 ... 1 per channel before gamma encoding.
void bl_lab_to_rgb(float L, float a, float b, float* r, float* g, float* b_out);

// New colorized image; blend is the share of the result in percent. None on failure.
bl_image* bl_colorize_frame(const bl_image* frame, float blend);

#endif
