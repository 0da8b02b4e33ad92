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

image_ptr load(const std::string& path, load_failure* failure) {
    return image_ptr(bl_image_load(path.c_str(), failure));
}

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

bytes png_start(uint32_t width, uint32_t height, int bit_depth, int colour_type, int interlace) {
    bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    bytes ihdr;
    put_be32(ihdr, width);
    put_be32(ihdr, height);
    ihdr.insert(ihdr.end(), {static_cast<uint8_t>(bit_depth), static_cast<uint8_t>(colour_type), 0, 0,
                             static_cast<uint8_t>(interlace)});
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

bytes png_declaring(uint32_t width, uint32_t height, int bit_depth, int colour_type, int interlace) {
    bytes out = png_start(width, height, bit_depth, colour_type, interlace);
    if (colour_type == 3) png_chunk(out, "PLTE", {10, 20, 30});
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

bytes jpeg_declaring(uint16_t width, uint16_t height) {
    bytes out = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8};
    out.insert(out.end(), {static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height & 255),
                           static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width & 255), 1, 1, 0x11, 0});
    out.insert(out.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 0x3F, 0, 0xFF, 0xD9});
    return out;
}

bytes webp_declaring(uint32_t width, uint32_t height) {
    bytes out = {'R', 'I', 'F', 'F'};
    put_le(out, 4 + 8 + 10, 4);
    for (char c : std::string("WEBPVP8X")) out.push_back(static_cast<uint8_t>(c));
    put_le(out, 10, 4);
    put_le(out, 0, 4);  // no optional chunks, no animation
    put_le(out, width - 1, 3);
    put_le(out, height - 1, 3);
    return out;
}

bytes tga_declaring(uint16_t width, uint16_t height) {
    bytes out = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    put_le(out, width, 2);
    put_le(out, height, 2);
    out.insert(out.end(), {24, 0});
    return out;
}

bytes pnm_declaring(char kind, uint32_t width, uint32_t height, int maxval) {
    const std::string header =
        std::string("P") + kind + "\n" + std::to_string(width) + " " + std::to_string(height) + "\n" +
        std::to_string(maxval) + "\n";
    return bytes(header.begin(), header.end());
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
