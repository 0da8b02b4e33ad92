// Crossing between the caller's images (brightloom_image: any row stride) and
// the library's own (bl_image: packed rows, malloc'd pixels).
#ifndef BL_PUBLIC_IMAGE_H
#define BL_PUBLIC_IMAGE_H

#include "brightloom.h"
#include "image/image_io.h"

// BRIGHTLOOM_OK when `image` can be read: positive sides within the pixel
// limit, a stride of at least 3 * width, pixels present. Otherwise
// BAD_ARGUMENT (or TOO_LARGE) with a message naming `what` ("image",
// "source image", ...).
brightloom_status bl_public_image_check(const brightloom_image* image, const char* what);

// The caller's image as a bl_image the operations only read. Packed rows are
// used in place; other strides are copied packed into *holder, which then
// owns the pixels the view points at. The image must have passed the check.
// False only when the copy runs out of memory.
bool bl_public_image_view(const brightloom_image* image, bl_image* view, bl_image_ptr* holder);

// Hands a 3-channel result to the caller: *out takes its pixels (released by
// brightloom_image_release) and the record itself is freed.
void bl_public_image_take(bl_image* owned, brightloom_image* out);

#endif
