// The bundled decoder the loader used before its formats moved to their own
// libraries, kept in the tests only: valid files must give the same pixels
// as they always did (JPEG within a stated tolerance).
#ifndef BL_TEST_STB_REFERENCE_H
#define BL_TEST_STB_REFERENCE_H

#include <stdint.h>

#include <string>
#include <vector>

namespace bl_test {

struct rgb_pixels {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // R, G, B row by row; empty when not decoded
};

// The file as the previous decoder read it: 8-bit R, G, B.
rgb_pixels previous_decoder_rgb(const std::string& path);

}  // namespace bl_test

#endif
