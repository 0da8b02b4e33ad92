// The caller's images in and out of the library's own image type.
#include "engine/bl_public_image.h"

#include <stdlib.h>
#include <string.h>

#include "engine/bl_status.h"
#include "image/image_limits.h"

brightloom_status bl_public_image_check(const brightloom_image* image, const char* what) {
    if (!image || !image->pixels || image->width <= 0 || image->height <= 0)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The %s has no pixels", what);
    if (static_cast<int64_t>(image->width) * image->height > BL_MAX_IMAGE_PIXELS)
        return bl_fail(BRIGHTLOOM_TOO_LARGE, "The %s has more than %lld pixels", what,
                       static_cast<long long>(BL_MAX_IMAGE_PIXELS));
    if (image->stride < 3 * image->width)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT,
                       "The %s's stride %d is less than 3 x its width %d", what, image->stride,
                       image->width);
    return BRIGHTLOOM_OK;
}

bool bl_public_image_view(const brightloom_image* image, bl_image* view, bl_image_ptr* holder) {
    const size_t row = static_cast<size_t>(image->width) * 3;
    if (static_cast<size_t>(image->stride) == row) {
        // The operations never write their inputs, so the caller's pixels are
        // read where they are.
        *view = {image->pixels, image->width, image->height, 3};
        return true;
    }
    holder->reset(bl_image_create(image->width, image->height, 3));
    if (!*holder) return false;
    for (int32_t y = 0; y < image->height; ++y)
        memcpy((*holder)->data + row * y, image->pixels + static_cast<size_t>(image->stride) * y,
               row);
    *view = **holder;
    return true;
}

void bl_public_image_take(bl_image* owned, brightloom_image* out) {
    *out = {owned->width, owned->height, owned->width * 3, owned->data};
    free(owned);
}
