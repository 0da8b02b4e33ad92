// The one-frame files a video job hands to the library and takes back:
// binary PPM in (no conversion of the decoded RGB), BMP out (the library's
// fastest writer).
#ifndef BL_TOOLS_VIDEO_FRAME_FILES_H
#define BL_TOOLS_VIDEO_FRAME_FILES_H

#include <stdint.h>

#include <string>
#include <vector>

bool write_ppm(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);
// A 24-bit uncompressed BMP as RGB rows, top row first.
bool read_bmp(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb);
// Nearest-neighbour enlargement, for a frame an upscale could not process.
std::vector<uint8_t> enlarge(const std::vector<uint8_t>& rgb, int width, int height, int scale);

#endif
