#include "image/stb_reference.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_THREAD_LOCALS
#include <stb/stb_image.h>

namespace bl_test {

rgb_pixels previous_decoder_rgb(const std::string& path) {
    rgb_pixels out;
    int components = 0;
    stbi_uc* pixels = stbi_load(path.c_str(), &out.width, &out.height, &components, 3);
    if (!pixels) return out;
    out.rgb.assign(pixels, pixels + static_cast<size_t>(out.width) * out.height * 3);
    stbi_image_free(pixels);
    return out;
}

}  // namespace bl_test
