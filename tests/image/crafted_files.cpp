#include "image/crafted_files.h"

#include <stdio.h>
#include <zlib.h>

#include <gtest/gtest.h>

namespace bl_test {

void write_bytes(const std::string& path, const bytes& data) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

void write_text(const std::string& path, const std::string& text) {
    write_bytes(path, bytes(text.begin(), text.end()));
}

image_ptr load(const std::string& path) { return image_ptr(bl_image_load(path.c_str())); }

void put_be32(bytes& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

void put_le(bytes& out, uint32_t v, int count) {
    for (int i = 0; i < count; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void png_chunk(bytes& out, const char* type, const bytes& body) {
    put_be32(out, static_cast<uint32_t>(body.size()));
    bytes typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    out.insert(out.end(), typed.begin(), typed.end());
    put_be32(out, static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
}

bytes png_start(uint32_t width, uint32_t height, int bit_depth, int colour_type) {
    bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    bytes ihdr;
    put_be32(ihdr, width);
    put_be32(ihdr, height);
    ihdr.insert(ihdr.end(), {static_cast<uint8_t>(bit_depth), static_cast<uint8_t>(colour_type), 0, 0, 0});
    png_chunk(out, "IHDR", ihdr);
    return out;
}

bytes deflated(const bytes& raw) {
    uLongf length = compressBound(static_cast<uLong>(raw.size()));
    bytes out(length);
    compress(out.data(), &length, raw.data(), static_cast<uLong>(raw.size()));
    out.resize(length);
    return out;
}

bytes png_declaring(uint32_t width, uint32_t height, int bit_depth, int colour_type) {
    bytes out = png_start(width, height, bit_depth, colour_type);
    png_chunk(out, "IDAT", deflated(bytes(64, 0)));
    png_chunk(out, "IEND", {});
    return out;
}

bytes bmp_declaring(int32_t width, int32_t height) {
    bytes out = {'B', 'M'};
    put_le(out, 54, 4);  // file size (a lie)
    put_le(out, 0, 4);
    put_le(out, 54, 4);  // pixel offset
    put_le(out, 40, 4);  // info header size
    put_le(out, static_cast<uint32_t>(width), 4);
    put_le(out, static_cast<uint32_t>(height), 4);
    put_le(out, 1, 2);
    put_le(out, 24, 2);
    for (int i = 0; i < 6; ++i) put_le(out, 0, 4);
    return out;
}

bytes gif_declaring(uint16_t width, uint16_t height) {
    bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    put_le(out, width, 2);
    put_le(out, height, 2);
    out.insert(out.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255,  // 2-colour table
                           0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0,     // 1 x 1 frame
                           2, 2, 0x4C, 0x01, 0, 0x3B});
    return out;
}

bytes with_exif_orientation(const bytes& jpeg, int orientation) {
    // Little-endian TIFF data: header, one directory with one entry.
    bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0};
    put_le(tiff, static_cast<uint32_t>(orientation), 2);
    tiff.insert(tiff.end(), {0, 0, 0, 0, 0, 0});
    bytes app1 = {0xFF, 0xE1};
    const size_t length = 2 + 6 + tiff.size();
    app1.push_back(static_cast<uint8_t>(length >> 8));
    app1.push_back(static_cast<uint8_t>(length & 255));
    app1.insert(app1.end(), {'E', 'x', 'i', 'f', 0, 0});
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), app1.begin(), app1.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

}  // namespace bl_test
