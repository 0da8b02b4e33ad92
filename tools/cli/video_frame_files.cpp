#include "video_frame_files.h"

#include <stdio.h>

#include <memory>

#include "brightloom.h"

namespace {

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

uint32_t little_u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

bool write_ppm(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb) {
    File f(fopen(path.c_str(), "wb"));
    if (!f) return false;
    fprintf(f.get(), "P6\n%d %d\n255\n", width, height);
    bool ok = fwrite(rgb.data(), 1, rgb.size(), f.get()) == rgb.size();
    return fclose(f.release()) == 0 && ok;
}

bool read_bmp(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb) {
    File f(fopen(path.c_str(), "rb"));
    uint8_t header[54];
    if (!f || fread(header, 1, sizeof header, f.get()) != sizeof header) return false;
    if (header[0] != 'B' || header[1] != 'M' || header[28] != 24 || little_u32(header + 30) != 0)
        return false;
    int32_t w = static_cast<int32_t>(little_u32(header + 18));
    int32_t h = static_cast<int32_t>(little_u32(header + 22));
    bool bottom_up = h > 0;
    if (h < 0) h = -h;
    if (w <= 0 || h <= 0 || int64_t(w) * h > BRIGHTLOOM_MAX_IMAGE_PIXELS) return false;
    if (fseek(f.get(), static_cast<long>(little_u32(header + 10)), SEEK_SET) != 0) return false;
    size_t row_bytes = size_t(w) * 3, stride = (row_bytes + 3) & ~size_t(3);
    std::vector<uint8_t> row(stride);
    rgb.resize(row_bytes * size_t(h));
    for (int32_t r = 0; r < h; ++r) {
        if (fread(row.data(), 1, stride, f.get()) != stride) return false;
        uint8_t* out = rgb.data() + row_bytes * size_t(bottom_up ? h - 1 - r : r);
        for (size_t x = 0; x < row_bytes; x += 3) {
            out[x] = row[x + 2];
            out[x + 1] = row[x + 1];
            out[x + 2] = row[x];
        }
    }
    width = w;
    height = h;
    return true;
}

std::vector<uint8_t> enlarge(const std::vector<uint8_t>& rgb, int width, int height, int scale) {
    if (scale == 1) return rgb;
    size_t out_width = size_t(width) * size_t(scale);
    std::vector<uint8_t> out(out_width * size_t(height) * size_t(scale) * 3);
    for (size_t y = 0; y < out.size() / (out_width * 3); ++y) {
        const uint8_t* row = rgb.data() + (y / size_t(scale)) * size_t(width) * 3;
        uint8_t* target = out.data() + y * out_width * 3;
        for (size_t x = 0; x < out_width; ++x)
            for (int c = 0; c < 3; ++c) target[x * 3 + c] = row[(x / size_t(scale)) * 3 + c];
    }
    return out;
}
