// Files made to hurt the loader, one test per kind of fault once found in
// it: each is refused with its reason or loads as exactly the picture its
// bytes hold, never with memory it does not own in the pixels.
#include <string.h>

#include <string>
#include <vector>

#if !defined(_WIN32)
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "brightloom.h"
#include "image/crafted_files.h"
#include "image/image_io.h"
#include "support/testutil.h"

using bl_test::at;
using bl_test::bytes;
using bl_test::image_ptr;
using bl_test::load;
using bl_test::put_be32;
using bl_test::put_le;
using bl_test::TempDir;
using bl_test::write_bytes;

namespace {

const char UNSUPPORTED[] = "Unsupported image format";
const char CORRUPT[] = "Corrupt or truncated image data";
const char TOO_LARGE[] = "Image too large";

struct hostile_file {
    const char* name;
    bytes data;
    const char* reason;  // why it is refused
};

// Loads every file, and decodes its bytes from memory, expecting the same
// refusal with its reason either way.
void expect_refused(const std::vector<hostile_file>& files) {
    TempDir dir;
    for (const hostile_file& f : files) {
        write_bytes(dir.file(f.name), f.data);
        load_failure failure = load_failure::none;
        EXPECT_FALSE(load(dir.file(f.name), &failure)) << f.name;
        EXPECT_STREQ(load_failure_text(failure), f.reason) << f.name;
        EXPECT_FALSE(image_ptr(bl_image_decode_memory(f.data.data(), f.data.size(), &failure)))
            << f.name;
        EXPECT_STREQ(load_failure_text(failure), f.reason) << f.name << " in memory";
    }
}

bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }

bytes operator+(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A paletted BMP of width x 1 (8 bits) with `entries` palette colours and
// the given indices.
bytes bmp_paletted(const std::vector<uint8_t>& indices, int entries) {
    const uint32_t offset = 54 + 4 * entries;
    bytes out = {'B', 'M'};
    put_le(out, offset + 4, 4);
    put_le(out, 0, 4);
    put_le(out, offset, 4);
    put_le(out, 40, 4);
    put_le(out, static_cast<uint32_t>(indices.size()), 4);
    put_le(out, 1, 4);
    put_le(out, 1, 2);
    put_le(out, 8, 2);
    for (int i = 0; i < 6; ++i) put_le(out, 0, 4);
    for (int i = 0; i < entries; ++i) out.insert(out.end(), {10, 20, 30, 0});
    out.insert(out.end(), indices.begin(), indices.end());
    while (out.size() % 4) out.push_back(0);
    return out;
}

// A paletted PNG of width x 1 (8 bits) with `entries` palette colours.
bytes png_paletted(const std::vector<uint8_t>& indices, int entries) {
    bytes out = bl_test::png_start(static_cast<uint32_t>(indices.size()), 1, 8, 3);
    bytes palette;
    for (int i = 0; i < entries; ++i) palette.insert(palette.end(), {30, 20, 10});
    bl_test::png_chunk(out, "PLTE", palette);
    bytes row = {0};
    row.insert(row.end(), indices.begin(), indices.end());
    bl_test::png_chunk(out, "IDAT", bl_test::deflated(row));
    bl_test::png_chunk(out, "IEND", {});
    return out;
}

}  // namespace

// PIC, PSD and HDR are not photo formats of this field, and the decoder that
// read them crashed (PIC packets failing part-way), overflowed (PSD
// un-premultiply) or allocated gigabytes for a 57-byte HDR header.
TEST(HostileFiles, PicPsdAndHdrAreRefusedAsUnsupported) {
    const bytes pic_header = {0x53, 0x80, 0xF6, 0x34};
    bytes pic = pic_header + text(std::string(84, ' ')) + text("PICT");
    pic.insert(pic.end(), {0, 64, 0, 64, 0, 0, 0, 0, 0, 0, 0, 0});
    pic.insert(pic.end(), {0, 8, 9, 0xF0, 0xFF});  // one packet of a bad type
    bytes psd = text("8BPS") + bytes{0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0x20, 0, 0, 0, 0x20, 0, 0, 8, 0, 3};
    expect_refused({{"cut.pic", pic, UNSUPPORTED},
                    {"big.psd", psd, UNSUPPORTED},
                    {"big.hdr", text("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 30000 +X 30000\n"), UNSUPPORTED}});
}

// A grey PNM with samples over 255 was read with the 8-bit routine past its
// buffer. Two-byte samples are read as two bytes, keeping the high byte
// (or stretched to 0 ... 255 for other ranges), and must all be there.
TEST(HostileFiles, PnmWithTwoByteSamplesIsReadAsTwoBytes) {
    TempDir dir;
    const struct {
        const char* header;
        bytes samples;
        uint8_t first, last;
    } cases[] = {
        {"P5\n2 1\n65535\n", {0xAB, 0xCD, 0x01, 0xFF}, 0xAB, 0x01},
        {"P5\n2 1\n1000\n", {0x03, 0xE8, 0x01, 0xF4}, 255, 128},  // 1000 and 500 of 1000
        {"P6\n1 1\n15\n", {15, 0, 5}, 255, 85},
    };
    for (const auto& c : cases) {
        write_bytes(dir.file("a.pgm"), text(c.header) + c.samples);
        image_ptr image = load(dir.file("a.pgm"));
        ASSERT_TRUE(image) << c.header;
        EXPECT_EQ(at(image.get(), 0, 0, 0), c.first) << c.header;
        EXPECT_EQ(at(image.get(), image->width - 1, 0, 2), c.last) << c.header;
    }
    expect_refused({
        // 1000 x 1000 16-bit grey with 8-bit's worth of samples.
        {"half.pgm", text("P5\n1000 1000\n65535\n") + bytes(1000000, 7), CORRUPT},
        // Header numbers past any int: the parser once overflowed.
        {"long.pgm", text("P5\n99999999999999999999999 1\n255\n") + bytes(8, 1), CORRUPT},
        {"range.pgm", text("P5\n1 1\n70000\n\x01\x02"), CORRUPT},
        {"zero.pgm", text("P5\n1 1\n0\n\x01"), CORRUPT},
    });
}

// The previous JPEG decoder skipped 0xFF fill bytes before the start marker,
// past our checks, into a Huffman table builder that wrote beyond its
// array. A JPEG starts with its start marker; such a file is refused, and so
// is a table that declares more codes than it may hold.
TEST(HostileFiles, JpegWithFillBeforeTheStartOrBogusTablesIsRefused) {
    TempDir dir;
    image_ptr image = bl_test::patterned(16, 16, 3);
    ASSERT_EQ(bl_image_save(image.get(), dir.file("good.jpg").c_str()), 0);
    const bytes good = bl_test::read_file(dir.file("good.jpg"));
    bytes table = {0xFF, 0xC4};
    const int symbols = 16 * 255, length = 2 + 17 + symbols;
    table.insert(table.end(), {static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 255), 0});
    table.insert(table.end(), 16, 255);
    table.insert(table.end(), symbols, 0x41);
    const bytes bad_table = bytes(good.begin(), good.begin() + 2) + table + bytes(good.begin() + 2, good.end());
    expect_refused({{"filled.jpg", bytes(6, 0xFF) + bad_table, UNSUPPORTED},
                    {"filled_good.jpg", bytes{0xFF, 0xFF} + good, UNSUPPORTED},
                    {"table.jpg", bad_table, CORRUPT}});
}

// A palette index past the palette copied uninitialised stack bytes into
// the pixels. A BMP with one is refused; a PNG's missing entries read as
// black (libpng keeps a zeroed 256-entry palette), the same on every load.
TEST(HostileFiles, PaletteIndicesPastThePaletteNeverShowOtherMemory) {
    expect_refused({{"index.bmp", bmp_paletted({0, 1, 200}, 2), CORRUPT}});
    TempDir dir;
    write_bytes(dir.file("ok.bmp"), bmp_paletted({0, 1, 1}, 2));
    image_ptr ok = load(dir.file("ok.bmp"));
    ASSERT_TRUE(ok);
    EXPECT_EQ(at(ok.get(), 2, 0, 0), 30);

    write_bytes(dir.file("index.png"), png_paletted({0, 1, 200, 255}, 2));
    image_ptr png = load(dir.file("index.png"));
    ASSERT_TRUE(png);
    EXPECT_EQ(at(png.get(), 1, 0, 0), 30);
    for (int x = 2; x < 4; ++x)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(at(png.get(), x, 0, c), 0) << x;
}

// Small files declaring pictures just under the pixel limit made the decoder
// allocate gigabytes before reading a pixel. Every format's declared size is
// now weighed against the file's length at the format's best compression,
// before anything is allocated; only the limit itself gives "too large".
TEST(HostileFiles, SmallFilesCannotClaimMorePixelsThanTheyHold) {
    // Just under 2^28 pixels.
    const uint16_t w = 16384, h = 16383;
    bytes tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    put_le(tga, 8000, 2);
    put_le(tga, 8000, 2);
    tga.insert(tga.end(), {24, 0});
    bytes tga_rle = tga;
    tga_rle[2] = 10;
    for (int i = 0; i < 230; ++i) tga_rle.insert(tga_rle.end(), {0xFF, 1, 2, 3});  // 128-pixel runs
    bytes jpeg = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8};
    jpeg.insert(jpeg.end(), {static_cast<uint8_t>(h >> 8), static_cast<uint8_t>(h & 255), 0x3F, 0xFF, 1, 1, 0x11, 0});
    jpeg.insert(jpeg.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 0x3F, 0, 0xFF, 0xD9});
    // A lossless WebP header of 16383 x 16383.
    bytes webp = text("RIFF") + bytes{30, 0, 0, 0} + text("WEBPVP8L") + bytes{17, 0, 0, 0, 0x2F};
    put_le(webp, 16382 | 16382u << 14, 4);
    webp.insert(webp.end(), {0x10, 0x07, 0x10, 0x11, 0x11, 0x88, 0x88, 0x08, 0x08, 0, 0, 0});
    // A text chunk declaring 1.8 GB in a file of a hundred bytes: libpng
    // allocates and clears a chunk's declared length before reading it.
    bytes text_chunk = bl_test::png_start(33, 9, 1, 0);
    put_be32(text_chunk, 0x6E000000);
    text_chunk = text_chunk + text("tEXtComment") + bytes(60, 'x');
    expect_refused({
        {"text.png", text_chunk, CORRUPT},
        {"screen.gif", bl_test::gif_declaring(w, h), CORRUPT},
        {"deep.png", bl_test::png_declaring(w, h, 16, 6), CORRUPT},
        {"tga.tga", tga, CORRUPT},
        {"runs.tga", tga_rle, CORRUPT},
        {"header.jpg", jpeg, CORRUPT},
        {"header.webp", webp, CORRUPT},
        {"limit.gif", bl_test::gif_declaring(65535, 65535), TOO_LARGE},
        {"limit.png", bl_test::png_declaring(16385, 16384), TOO_LARGE},
    });
}

// A PNG whose first image-data chunk is empty (valid: the valid-file corpus
// loads one) once made the decoder copy from a null pointer; so did the
// other small undefined behaviour found, all of it now in code that is
// gone or fuzzed. What stays ours: BMP masks wider than a byte.
TEST(HostileFiles, BitfieldMasksWiderThanAByteKeepTheirTopBits) {
    TempDir dir;
    bytes bmp = {'B', 'M'};
    put_le(bmp, 70 + 4, 4);
    put_le(bmp, 0, 4);
    put_le(bmp, 66, 4);
    put_le(bmp, 40, 4);
    put_le(bmp, 1, 4);
    put_le(bmp, 1, 4);
    put_le(bmp, 1, 2);
    put_le(bmp, 32, 2);
    put_le(bmp, 3, 4);  // bit fields: 10-10-10
    for (int i = 0; i < 5; ++i) put_le(bmp, 0, 4);
    put_le(bmp, 0x3FF00000, 4);
    put_le(bmp, 0x000FFC00, 4);
    put_le(bmp, 0x000003FF, 4);
    put_le(bmp, 0x3FF00000 | (0x155u << 10) | 0x0FF, 4);
    write_bytes(dir.file("wide.bmp"), bmp);
    image_ptr image = load(dir.file("wide.bmp"));
    ASSERT_TRUE(image);
    EXPECT_EQ(at(image.get(), 0, 0, 0), 255);
    EXPECT_EQ(at(image.get(), 0, 0, 1), 0x155 >> 2);
    EXPECT_EQ(at(image.get(), 0, 0, 2), 0x0FF >> 2);
}

// Every top-down BMP (negative height) was refused by our own size check.
// The valid-file corpus loads one of every layout; here the check that took
// the sign for a size is met head-on.
TEST(HostileFiles, TopDownBmpIsReadTopFirst) {
    TempDir dir;
    bytes bmp = bl_test::bmp_declaring(1, -2);
    bmp.insert(bmp.end(), {1, 2, 3, 0, 4, 5, 6, 0});
    write_bytes(dir.file("td.bmp"), bmp);
    image_ptr image = load(dir.file("td.bmp"));
    ASSERT_TRUE(image);
    EXPECT_EQ(at(image.get(), 0, 0, 0), 3);  // B, G, R stored
    EXPECT_EQ(at(image.get(), 0, 1, 0), 6);
}

// ------------------------------------------------ declared sizes, every format

namespace {

// Every format with a declared size just over the pixel limit (16385 x
// 16384), and the sizes that reach a path of their own: a PNG row of 2^31 - 1
// pixels (libpng once set such rows up before the size was judged), a row
// too wide for libpng's working buffers though the picture is within the
// limit, libjpeg's own side maximum, a top-down BMP and a 16-bit PGM.
std::vector<hostile_file> files_declaring_too_much() {
    using namespace bl_test;
    const uint32_t side_max = 0x7FFFFFFF;
    return {
        {"over.png", png_declaring(16385, 16384), TOO_LARGE},
        {"wide.png", png_declaring(side_max, 1), TOO_LARGE},
        {"row16a.png", png_declaring(4194305, 1, 16, 6), TOO_LARGE},
        // A row at the cap is judged by the file's length instead.
        {"row_at_cap.png", png_declaring(4194304, 1, 16, 6), CORRUPT},
        {"over.jpg", jpeg_declaring(16385, 16384), TOO_LARGE},
        {"past_max.jpg", jpeg_declaring(65535, 65535), TOO_LARGE},
        {"over.gif", gif_declaring(16385, 16384), TOO_LARGE},
        {"over.webp", webp_declaring(16385, 16384), TOO_LARGE},
        {"over.bmp", bmp_declaring(16385, 16384), TOO_LARGE},
        {"down.bmp", bmp_declaring(0x7FFFFFFF, -0x7FFFFFFF), TOO_LARGE},
        {"over.tga", tga_declaring(16385, 16384), TOO_LARGE},
        {"over.ppm", pnm_declaring('6', 16385, 16384), TOO_LARGE},
        {"wide.pgm", pnm_declaring('5', side_max, 1, 65535), TOO_LARGE},
    };
}

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#if defined(__has_feature)
#if !__has_feature(address_sanitizer) && !__has_feature(thread_sanitizer)
#define BL_TEST_ADDRESS_CEILING 1
#endif
#else
#define BL_TEST_ADDRESS_CEILING 1
#endif
#endif

#ifdef BL_TEST_ADDRESS_CEILING
// Address space a child may take beyond what it holds when it starts: far
// more than these decoders need for a header, far less than the gigabytes a
// declared size once made them set up.
const long long CEILING_HEADROOM_BYTES = 256ll << 20;

// The process's address space now, in bytes; 0 when it cannot be read.
long long address_space_bytes() {
    FILE* f = fopen("/proc/self/statm", "r");
    long long pages = 0;
    if (f && fscanf(f, "%lld", &pages) != 1) pages = 0;
    if (f) fclose(f);
    return pages * sysconf(_SC_PAGESIZE);
}

// Loads the file and decodes its bytes in a child whose address space may
// grow by CEILING_HEADROOM_BYTES at most: "loaded", the two refusals'
// texts, or why the child gave neither.
std::string loads_under_ceiling(const std::string& path, const bytes& data) {
    const long long now = address_space_bytes();
    if (now <= 0) return "no /proc/self/statm";
    const pid_t child = fork();
    if (child == 0) {
        const rlim_t ceiling = static_cast<rlim_t>(now + CEILING_HEADROOM_BYTES);
        const rlimit limit = {ceiling, ceiling};
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(100);
        load_failure file_failure = load_failure::none, memory_failure = load_failure::none;
        bl_image* loaded = bl_image_load(path.c_str(), &file_failure);
        const int from_file = static_cast<int>(file_failure);
        bl_image* decoded = bl_image_decode_memory(data.data(), data.size(), &memory_failure);
        const int from_memory = static_cast<int>(memory_failure);
        if (loaded && decoded) _exit(98);
        _exit(loaded || decoded ? 99 : from_file * 16 + from_memory);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return "no child";
    if (!WIFEXITED(status)) return "child killed by signal " + std::to_string(WTERMSIG(status));
    const int code = WEXITSTATUS(status);
    if (code >= 98) return code == 98 ? "loaded" : code == 99 ? "loaded one way only" : "setrlimit failed";
    return std::string(load_failure_text(static_cast<load_failure>(code / 16))) + " / " +
           load_failure_text(static_cast<load_failure>(code % 16));
}
#endif

// expect_refused, with every load under the memory ceiling where there is
// one: a decoder that allocated for a declared size before judging it would
// fail differently there (or be killed) instead of taking the machine's memory.
void expect_refused_within_ceiling(const std::vector<hostile_file>& files) {
#ifdef BL_TEST_ADDRESS_CEILING
    TempDir dir;
    for (const hostile_file& f : files) {
        write_bytes(dir.file(f.name), f.data);
        EXPECT_EQ(loads_under_ceiling(dir.file(f.name), f.data), std::string(f.reason) + " / " + f.reason)
            << f.name;
    }
#else
    expect_refused(files);
#endif
}

}  // namespace

// A 74-byte PNG declaring 2^31 - 1 pixels a row cost 6 GB before it was
// refused: libpng set up its rows before the size was judged. Every format
// is now refused from what its header declares, and PNG from what a row
// costs, before anything is allocated for pixels.
TEST(HostileFiles, DeclaredSizesPastTheLimitAreRefusedInEveryFormat) {
    expect_refused_within_ceiling(files_declaring_too_much());
}

// The ceiling the test above loads under leaves room for a real picture.
TEST(HostileFiles, TheMemoryCeilingLetsARealPictureLoad) {
#ifndef BL_TEST_ADDRESS_CEILING
    GTEST_SKIP() << "no address-space ceiling here (Windows, or a sanitizer that reserves "
                    "terabytes of address space): the declared sizes were judged without it";
#else
    TempDir dir;
    image_ptr picture = bl_test::patterned(300, 200, 3);
    ASSERT_EQ(bl_image_save(picture.get(), dir.file("fits.png").c_str()), 0);
    EXPECT_EQ(loads_under_ceiling(dir.file("fits.png"), bl_test::read_file(dir.file("fits.png"))), "loaded");
#endif
}
