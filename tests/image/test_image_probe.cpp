// brightloom_image_probe: the size and format a header declares, read by the
// decoders' own header readers and stopped before the pixels, for every
// format, past the pixel cap, turned by EXIF, and from files whose size lies
// after a megabyte of metadata.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "brightloom.h"
#include "image/crafted_files.h"
#include "support/testutil.h"

namespace {

using bl_test::bytes;

struct ProbeCase {
    const char* what;
    bytes file;
    brightloom_status status;
    int32_t width, height;
    brightloom_format format;
};

brightloom_image_info fresh_info() {
    brightloom_image_info info = {};
    info.size = sizeof info;
    return info;
}

// A JPEG whose frame header follows `metadata` bytes of APP2 segments.
bytes jpeg_after_metadata(uint16_t width, uint16_t height, size_t metadata) {
    const bytes plain = bl_test::jpeg_declaring(width, height);
    bytes out(plain.begin(), plain.begin() + 2);
    while (metadata > 0) {
        const size_t body = metadata < 65533 ? metadata : 65533;
        out.insert(out.end(), {0xFF, 0xE2, static_cast<uint8_t>((body + 2) >> 8),
                               static_cast<uint8_t>((body + 2) & 255)});
        out.insert(out.end(), body, 0x20);
        metadata -= body;
    }
    out.insert(out.end(), plain.begin() + 2, plain.end());
    return out;
}

bytes first_bytes(const bytes& whole, size_t count) {
    return bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(count));
}

std::vector<ProbeCase> probe_cases() {
    using namespace bl_test;
    return {
        {"png", png_declaring(640, 480), BRIGHTLOOM_OK, 640, 480, BRIGHTLOOM_FORMAT_PNG},
        {"jpeg", jpeg_declaring(300, 200), BRIGHTLOOM_OK, 300, 200, BRIGHTLOOM_FORMAT_JPEG},
        // Turned a quarter by its EXIF orientation: the decoded picture's sides.
        {"jpeg turned", with_exif_orientation(jpeg_declaring(300, 200), 6), BRIGHTLOOM_OK, 200,
         300, BRIGHTLOOM_FORMAT_JPEG},
        {"jpeg mirrored", with_exif_orientation(jpeg_declaring(300, 200), 2), BRIGHTLOOM_OK, 300,
         200, BRIGHTLOOM_FORMAT_JPEG},
        {"gif", gif_declaring(120, 90), BRIGHTLOOM_OK, 120, 90, BRIGHTLOOM_FORMAT_GIF},
        {"webp", webp_declaring(1000, 700), BRIGHTLOOM_OK, 1000, 700, BRIGHTLOOM_FORMAT_WEBP},
        {"bmp", bmp_declaring(64, 48), BRIGHTLOOM_OK, 64, 48, BRIGHTLOOM_FORMAT_BMP},
        {"bmp top-down", bmp_declaring(64, -48), BRIGHTLOOM_OK, 64, 48, BRIGHTLOOM_FORMAT_BMP},
        {"tga", tga_declaring(33, 17), BRIGHTLOOM_OK, 33, 17, BRIGHTLOOM_FORMAT_TGA},
        {"pnm", pnm_declaring('6', 50, 40), BRIGHTLOOM_OK, 50, 40, BRIGHTLOOM_FORMAT_PNM},
        // Past the pixel cap, where a decode refuses: the size is still told.
        {"png past the cap", png_declaring(100000, 100000), BRIGHTLOOM_OK, 100000, 100000,
         BRIGHTLOOM_FORMAT_PNG},
        {"jpeg past the cap", jpeg_declaring(65000, 65000), BRIGHTLOOM_OK, 65000, 65000,
         BRIGHTLOOM_FORMAT_JPEG},
        {"jpeg after 1.5 MiB of metadata", jpeg_after_metadata(320, 240, 3 << 19), BRIGHTLOOM_OK,
         320, 240, BRIGHTLOOM_FORMAT_JPEG},
        {"no image", bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!',
                           '!', '!', '!', '!', '!', '!'},
         BRIGHTLOOM_UNSUPPORTED_FORMAT, 0, 0, BRIGHTLOOM_FORMAT_PNG},
        {"png cut in its header", first_bytes(png_declaring(64, 64), 20),
         BRIGHTLOOM_UNREADABLE_INPUT, 0, 0, BRIGHTLOOM_FORMAT_PNG},
        {"bmp of width 0", bmp_declaring(0, 10), BRIGHTLOOM_UNREADABLE_INPUT, 0, 0,
         BRIGHTLOOM_FORMAT_PNG},
    };
}

void expect_probed(const ProbeCase& c, brightloom_status status, const brightloom_image_info& info) {
    ASSERT_EQ(status, c.status) << brightloom_last_error();
    if (c.status != BRIGHTLOOM_OK) {
        // Nothing is written on failure.
        EXPECT_EQ(info.width, -7);
        return;
    }
    EXPECT_EQ(info.width, c.width);
    EXPECT_EQ(info.height, c.height);
    EXPECT_EQ(info.format, c.format);
    EXPECT_EQ(info.size, sizeof info);
}

TEST(ImageProbe, MemoryAndFileTellTheDeclaredSizeAndFormat) {
    bl_test::TempDir dir;
    for (const ProbeCase& c : probe_cases()) {
        SCOPED_TRACE(c.what);
        brightloom_image_info info = fresh_info();
        info.width = -7;
        expect_probed(c, brightloom_image_probe(c.file.data(), c.file.size(), &info), info);

        const std::string path = dir.file("probed.img");
        bl_test::write_bytes(path, c.file);
        info = fresh_info();
        info.width = -7;
        expect_probed(c, brightloom_image_probe_file(path.c_str(), &info), info);
    }
}

TEST(ImageProbe, RefusesWhatItCannotAnswer) {
    bl_test::TempDir dir;
    const bytes png = bl_test::png_declaring(8, 8);
    brightloom_image_info info = fresh_info();
    brightloom_image_info zero_size = {};
    const std::string missing = dir.file("missing.png");
    struct Case {
        const char* what;
        brightloom_status status;
        brightloom_status got;
    } cases[] = {
        {"NULL info", BRIGHTLOOM_BAD_ARGUMENT, brightloom_image_probe(png.data(), png.size(), nullptr)},
        {"size 0", BRIGHTLOOM_BAD_ARGUMENT, brightloom_image_probe(png.data(), png.size(), &zero_size)},
        {"NULL bytes", BRIGHTLOOM_BAD_ARGUMENT, brightloom_image_probe(nullptr, 4, &info)},
        {"no bytes", BRIGHTLOOM_UNREADABLE_INPUT, brightloom_image_probe(png.data(), 0, &info)},
        {"NULL path", BRIGHTLOOM_BAD_ARGUMENT, brightloom_image_probe_file(nullptr, &info)},
        {"missing file", BRIGHTLOOM_UNREADABLE_INPUT,
         brightloom_image_probe_file(missing.c_str(), &info)},
        {"a folder", BRIGHTLOOM_UNREADABLE_INPUT, brightloom_image_probe_file(dir.path().c_str(), &info)},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.status) << c.what;
}

// A caller compiled against a shorter struct gets only the fields it knows.
TEST(ImageProbe, WritesNoFieldPastTheCallersSize) {
    const bytes png = bl_test::png_declaring(640, 480);
    brightloom_image_info info = {};
    info.size = offsetof(brightloom_image_info, height);
    info.height = -1;
    info.format = -1;
    ASSERT_EQ(brightloom_image_probe(png.data(), png.size(), &info), BRIGHTLOOM_OK);
    EXPECT_EQ(info.width, 640);
    EXPECT_EQ(info.height, -1);
    EXPECT_EQ(info.format, -1);
}

}  // namespace
