// The size an image file declares in its header, read without decoding it,
// for the formats the library reads. It only lets the server refuse a job
// whose result would be too large before the job runs; the library's
// decoders remain the judges of the file itself.
#ifndef BL_TOOLS_SERVE_IMAGE_SIZE_H
#define BL_TOOLS_SERVE_IMAGE_SIZE_H

#include <cstdint>
#include <string>

struct ImageSize {
    int64_t width = 0, height = 0;
};

// False when the bytes start like no format the library reads, or end
// before the size.
bool declared_image_size(const std::string& bytes, ImageSize& size);

#endif
