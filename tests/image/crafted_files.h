// Image files made byte by byte for the loader's tests: well-formed headers
// that declare what a hostile file declares, and the pieces to build them.
#ifndef BL_TEST_CRAFTED_FILES_H
#define BL_TEST_CRAFTED_FILES_H

#include <stdint.h>

#include <string>
#include <vector>

#include "support/test_images.h"

namespace bl_test {

using bytes = std::vector<uint8_t>;

void write_bytes(const std::string& path, const bytes& data);
void write_text(const std::string& path, const std::string& text);
// Loads the file; why it failed in *failure when asked.
image_ptr load(const std::string& path, load_failure* failure = nullptr);

void put_be32(bytes& out, uint32_t v);
void put_le(bytes& out, uint32_t v, int count);

// One PNG chunk with its length and checksum.
void png_chunk(bytes& out, const char* type, const bytes& body);
// The PNG signature and a header chunk.
bytes png_start(uint32_t width, uint32_t height, int bit_depth, int colour_type, int interlace = 0);
// A zlib stream of `raw`.
bytes deflated(const bytes& raw);

// A well-formed PNG header declaring width x height (8-bit RGB unless told
// otherwise; a palette of one colour when paletted), with a tiny image
// stream: what a hostile file claiming a huge picture looks like.
bytes png_declaring(uint32_t width, uint32_t height, int bit_depth = 8, int colour_type = 2,
                    int interlace = 0);
// A 24-bit BMP header declaring width x height, with no pixel data.
bytes bmp_declaring(int32_t width, int32_t height);
// A GIF logical screen of width x height with one 1 x 1 frame.
bytes gif_declaring(uint16_t width, uint16_t height);
// A baseline JPEG frame header of width x height (one grey component) and
// an empty scan: no tables, no data.
bytes jpeg_declaring(uint16_t width, uint16_t height);
// A WebP holding only its extended header, whose canvas is width x height
// (each 1 ... 2^24).
bytes webp_declaring(uint32_t width, uint32_t height);
// An uncompressed 24-bit TGA header of width x height, with no pixels.
bytes tga_declaring(uint16_t width, uint16_t height);
// A binary PNM header ("P5" grey or "P6" RGB) of width x height with
// samples up to maxval, and no samples.
bytes pnm_declaring(char kind, uint32_t width, uint32_t height, int maxval = 255);

// A JPEG with an APP1 EXIF block recording `orientation` put after its
// start marker.
bytes with_exif_orientation(const bytes& jpeg, int orientation);

}  // namespace bl_test

#endif
