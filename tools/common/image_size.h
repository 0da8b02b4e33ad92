// The size an image declares in its header, read without decoding it, for
// the formats the library reads. It only lets the tool and the server refuse
// an upscale whose result would pass the pixel limit before the models load
// or the job waits its turn; the library's decoders remain the judges of the
// file itself.
#ifndef BL_TOOLS_COMMON_IMAGE_SIZE_H
#define BL_TOOLS_COMMON_IMAGE_SIZE_H

#include <cstdint>
#include <string>

struct ImageSize {
    int64_t width = 0, height = 0;
};

// False when the bytes start like no format the library reads, or end
// before the size.
bool declared_image_size(const std::string& bytes, ImageSize& size);

// The same for a regular file, read where its size is, whatever length of
// metadata comes before it (a pipe is left alone: what is read from it is
// gone for the library). False when the file does not say.
bool declared_file_image_size(const std::string& path, ImageSize& size);

// Whether `size` enlarged `scale` times passes BRIGHTLOOM_MAX_IMAGE_PIXELS;
// *result gets the enlarged size either way.
bool upscale_passes_pixel_limit(const ImageSize& size, int scale, ImageSize* result);

#endif
