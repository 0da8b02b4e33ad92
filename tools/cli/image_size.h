// The size an image file declares in its header, and the upscale limit it
// is checked against before the models load.
#ifndef BL_TOOLS_CLI_IMAGE_SIZE_H
#define BL_TOOLS_CLI_IMAGE_SIZE_H

#include <stdint.h>

#include <string>

// Width and height from the header of a regular file in one of the formats
// the library reads; false when the header does not say (unknown format,
// damaged, unreadable, a pipe), in which case the library reports the problem.
bool read_image_size(const std::string& path, int64_t& width, int64_t& height);

// "" when a width x height frame enlarged `scale` times stays within
// BRIGHTLOOM_MAX_IMAGE_PIXELS; otherwise the refusal naming the limit.
// The library would only fail with "Frame enhancement failed", after
// loading the model and the frame.
std::string upscale_limit_problem(int64_t width, int64_t height, int scale,
                                  const std::string& input);

#endif
