#include "image_size.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include <webp/decode.h>

#include "brightloom.h"
#include "os.h"

// Only the header readers are used; the formats are those the library
// reads, apart from WebP, which stb does not know.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_WINDOWS_UTF8
#define STBI_NO_LINEAR
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_GIF
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#define STBI_ONLY_PNM
// Once inlined here, stb's PNG reader looks to GCC as if it read the bit
// depth before the header chunk sets it; the reader returns before that
// when the first chunk is not the header.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace {

// A WebP file's size is in its first chunk, within 30 bytes of the start.
const size_t WEBP_HEADER_BYTES = 64;

bool read_webp_size(const std::string& path, int64_t& width, int64_t& height) {
    std::ifstream file(os::path_from_utf8(path), std::ios::binary);
    std::vector<char> head(WEBP_HEADER_BYTES);
    file.read(head.data(), static_cast<std::streamsize>(head.size()));
    int w = 0, h = 0;
    if (!WebPGetInfo(reinterpret_cast<const uint8_t*>(head.data()),
                     static_cast<size_t>(file.gcount()), &w, &h))
        return false;
    width = w;
    height = h;
    return true;
}

}  // namespace

bool read_image_size(const std::string& path, int64_t& width, int64_t& height) {
    // What is read from a pipe is gone for the library.
    std::error_code error;
    if (!std::filesystem::is_regular_file(os::path_from_utf8(path), error)) return false;
    int w = 0, h = 0, channels = 0;
    if (stbi_info(path.c_str(), &w, &h, &channels) && w > 0 && h > 0) {
        width = w;
        height = h;
        return true;
    }
    return read_webp_size(path, width, height);
}

std::string upscale_limit_problem(int64_t width, int64_t height, int scale,
                                  const std::string& input) {
    const int64_t limit = BRIGHTLOOM_MAX_IMAGE_PIXELS;
    if (width <= 0 || height <= 0) return std::string();
    int64_t result_width = width * scale, result_height = height * scale;
    // A side alone over the limit is checked first, so the product below
    // cannot overflow.
    bool over = width > limit || height > limit || result_width * result_height > limit;
    if (!over) return std::string();
    return "Upscaled result of " + std::to_string(result_width) + "x" +
           std::to_string(result_height) + " pixels is over the limit of " +
           std::to_string(limit) + " pixels (2^28): " + input;
}
