// Frame colorization in CIE L*a*b*: the model predicts a* and b* from a grey
// rendering; the frame keeps its own lightness.
#ifndef BL_FRAME_COLORIZER_H
#define BL_FRAME_COLORIZER_H

#include "image/image_io.h"
#include "inference/model_session.h"

// 0 when the session was created, -1 otherwise; writes its own lines.
int bl_colorizer_open(const bl_runtime* runtime, const char* path, bl_model* colorizer);

// Gamma-encoded sRGB components 0 ... 1 to L*, a*, b* (D65).
void rgb_to_lab(float r, float g, float b, float* L, float* a, float* b_out);
// The inverse, clamped to 0 ... 1 per channel before gamma encoding.
void bl_lab_to_rgb(float L, float a, float b, float* r, float* g, float* b_out);

// New image colorized by `colorizer`; blend is the share of the result in
// percent. None on failure (a closed colorizer too).
bl_image* bl_colorize_frame(const bl_model* colorizer, const bl_image* frame, float blend);

#endif
