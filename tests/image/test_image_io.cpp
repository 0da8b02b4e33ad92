// The image record, its files (including hostile ones), resampling and the
// planar tensor conversion.
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "brightloom.h"
#include "support/test_images.h"
#include "image/image_io.h"
#include "image/crafted_files.h"
#include "image/png_reference.h"
#include "support/testutil.h"

using bl_test::at;
using bl_test::bmp_declaring;
using bl_test::gif_declaring;
using bl_test::load;
using bl_test::png_declaring;
using bl_test::write_bytes;
using bl_test::write_text;
using bl_test::image_ptr;
using bl_test::patterned;
using bl_test::same_pixels;
using bl_test::TempDir;

namespace {

enum class kind { png, jpeg, bmp, webp, other };

kind kind_of(const std::string& path) {
    std::vector<uint8_t> b = bl_test::read_file(path);
    if (b.size() >= 8 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') return kind::png;
    if (b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return kind::jpeg;
    if (b.size() >= 2 && b[0] == 'B' && b[1] == 'M') return kind::bmp;
    if (b.size() >= 12 && memcmp(b.data(), "RIFF", 4) == 0 && memcmp(b.data() + 8, "WEBP", 4) == 0)
        return kind::webp;
    return kind::other;
}

}  // namespace

// -------------------------------------------------------------- the record

TEST(ImageRecord, CreateCloneFreeAndRefusedSizes) {
    image_ptr image(bl_image_create(3, 2, 4));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 3);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ(image->channels, 4);
    for (int i = 0; i < 24; ++i) ASSERT_EQ(image->data[i], 0);

    image_ptr source = patterned(7, 5, 3);
    image_ptr copy(bl_image_clone(source.get()));
    ASSERT_TRUE(copy);
    EXPECT_NE(copy->data, source->data);
    EXPECT_TRUE(same_pixels(copy.get(), source.get()));
    EXPECT_EQ(bl_image_clone(nullptr), nullptr);

    // Negative sizes and byte counts past 32 bits are refused, not wrapped.
    EXPECT_EQ(bl_image_create(-1, 5, 3), nullptr);
    EXPECT_EQ(bl_image_create(65536, 65536, 1), nullptr);
    EXPECT_EQ(bl_image_create(40000, 40000, 3), nullptr);
    bl_image_free(nullptr);
}

TEST(ImageRecord, SwapRbExchangesFirstAndThirdOnly) {
    image_ptr gray = patterned(4, 3, 1);
    image_ptr gray_before(bl_image_clone(gray.get()));
    bl_image_swap_rb(gray.get());
    EXPECT_TRUE(same_pixels(gray.get(), gray_before.get()));

    image_ptr rgba = patterned(4, 3, 4);
    image_ptr before(bl_image_clone(rgba.get()));
    bl_image_swap_rb(rgba.get());
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(at(rgba.get(), x, y, 0), at(before.get(), x, y, 2));
            EXPECT_EQ(at(rgba.get(), x, y, 1), at(before.get(), x, y, 1));
            EXPECT_EQ(at(rgba.get(), x, y, 2), at(before.get(), x, y, 0));
            EXPECT_EQ(at(rgba.get(), x, y, 3), at(before.get(), x, y, 3));
        }
}

// ------------------------------------------------------------------ files

TEST(ImageFiles, PngRoundTripIsExactAndLoadsAsRgb) {
    TempDir dir;
    image_ptr rgb = patterned(33, 17, 3);
    ASSERT_EQ(bl_image_save(rgb.get(), dir.file("a.png").c_str()), 0);
    image_ptr back = load(dir.file("a.png"));
    ASSERT_TRUE(back);
    EXPECT_TRUE(same_pixels(back.get(), rgb.get()));

    // Gray comes back as three equal channels; alpha is dropped.
    image_ptr gray = patterned(9, 4, 1);
    ASSERT_EQ(bl_image_save(gray.get(), dir.file("g.png").c_str()), 0);
    back = load(dir.file("g.png"));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->channels, 3);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x)
            for (int c = 0; c < 3; ++c) ASSERT_EQ(at(back.get(), x, y, c), at(gray.get(), x, y, 0));

    image_ptr rgba = patterned(9, 4, 4);
    ASSERT_EQ(bl_image_save(rgba.get(), dir.file("rgba.png").c_str()), 0);
    back = load(dir.file("rgba.png"));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->channels, 3);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(at(back.get(), 5, 2, c), at(rgba.get(), 5, 2, c));
}

TEST(ImageFiles, FormatFollowsExtensionIgnoringCase) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("shots.old").c_str(), 0700), 0);
    image_ptr image = patterned(16, 16, 3);
    const struct {
        const char* name;
        kind expected;
    } cases[] = {{"out.png", kind::png},       {"noext", kind::png},
                 {"out.tiff", kind::png},      {"shots.old/out", kind::png},
                 {"out.JPG", kind::jpeg},      {"out.Jpeg", kind::jpeg},
                 {"out.jpg", kind::jpeg},      {"out.bmp", kind::bmp},
                 {"out.BMP", kind::bmp},       {"out.webp", kind::webp},
                 {"out.WebP", kind::webp}};
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        ASSERT_EQ(bl_image_save(image.get(), path.c_str()), 0) << c.name;
        EXPECT_EQ(kind_of(path), c.expected) << c.name;
        image_ptr back = load(path);
        ASSERT_TRUE(back) << c.name;
        EXPECT_EQ(back->width, 16);
    }
}

TEST(ImageFiles, DegenerateImagesAndUnwritablePathsFail) {
    TempDir dir;
    image_ptr empty(bl_image_create(0, 8, 3));
    EXPECT_EQ(bl_image_save(empty.get(), dir.file("e.jpg").c_str()), -1);
    EXPECT_TRUE(bl_test::file_exists(dir.file("e.jpg")));
    EXPECT_EQ(bl_test::file_size(dir.file("e.jpg")), 0u);
    // A PNG without pixels would be an undecodable file reported as saved.
    EXPECT_EQ(bl_image_save(empty.get(), dir.file("e.png").c_str()), -1);
    EXPECT_EQ(bl_image_save(empty.get(), dir.file("e.webp").c_str()), -1);
    // WebP records sides up to 16383.
    image_ptr wide(bl_image_create(16384, 1, 3));
    EXPECT_EQ(bl_image_save(wide.get(), dir.file("wide.webp").c_str()), -1);

    image_ptr image = patterned(4, 4, 3);
    EXPECT_EQ(bl_image_save(nullptr, dir.file("n.png").c_str()), -1);
    EXPECT_EQ(bl_image_save(image.get(), nullptr), -1);
    EXPECT_EQ(bl_image_save(image.get(), dir.file("missing/x.png").c_str()), -1);
    EXPECT_EQ(bl_image_save(image.get(), dir.file("missing/x.jpg").c_str()), -1);

    // Five channels have no file layout.
    image_ptr five = patterned(4, 4, 5);
    EXPECT_EQ(bl_image_save(five.get(), dir.file("five.png").c_str()), -1);
    EXPECT_EQ(bl_image_save(five.get(), dir.file("five.bmp").c_str()), -1);
}

TEST(ImageFiles, WriteFailureIsReported) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    TempDir dir;
    image_ptr image = patterned(64, 64, 3);
    for (const char* name : {"full.png", "full.jpg", "full.bmp", "full.webp"}) {
        const std::string link = dir.file(name);
        ASSERT_EQ(symlink("/dev/full", link.c_str()), 0);
        EXPECT_EQ(bl_image_save(image.get(), link.c_str()), -1) << name;
    }
}

TEST(ImageFiles, PngIsNoLargerThanTheBuiltInDeflate) {
    TempDir dir;
    // A smooth gradient with mild noise, like a photograph's background.
    std::mt19937 rng(7);
    image_ptr image(bl_image_create(320, 240, 3));
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            for (int c = 0; c < 3; ++c)
                image->data[(y * 320 + x) * 3 + c] =
                    static_cast<uint8_t>((x / 2 + y / 3 + c * 50 + static_cast<int>(rng() % 5)) & 255);
    ASSERT_EQ(bl_image_save(image.get(), dir.file("a.png").c_str()), 0);
    const size_t ours = bl_test::file_size(dir.file("a.png"));
    const size_t builtin = bl_test::png_builtin_deflate_size(image.get());
    EXPECT_GT(ours, 0u);
    EXPECT_LE(ours, builtin);
    EXPECT_LE(ours, bl_test::png_zlib_level4_size(image.get()));
    image_ptr back = load(dir.file("a.png"));
    ASSERT_TRUE(back);
    EXPECT_TRUE(same_pixels(back.get(), image.get()));
}

// Frames of a video are photographs: their files must not grow with the
// faster compression, and must read back to the same pixels.
TEST(ImageFiles, PhotoPngIsNoLargerThanZlibLevel4AndReadsBack) {
    BL_REQUIRE_ASSETS();
    TempDir dir;
    for (const char* name : {"single_obama_official_pd.jpg", "single_astronaut_pd.png",
                             "group_solvay_1927_gray_pd.png"}) {
        image_ptr photo = load(bl_test::assets_dir() + "/images/" + name);
        ASSERT_TRUE(photo) << name;
        ASSERT_EQ(bl_image_save(photo.get(), dir.file("photo.png").c_str()), 0) << name;
        EXPECT_LE(bl_test::file_size(dir.file("photo.png")),
                  bl_test::png_zlib_level4_size(photo.get()))
            << name;
        image_ptr back = load(dir.file("photo.png"));
        ASSERT_TRUE(back) << name;
        EXPECT_TRUE(same_pixels(back.get(), photo.get())) << name;
    }
}

// --------------------------------------------------------- untrusted input

TEST(UntrustedFiles, EmptyTextAndMissingFilesFail) {
    TempDir dir;
    write_bytes(dir.file("empty.png"), {});
    write_text(dir.file("text.jpg"), "this is not an image, just some words\n");
    EXPECT_FALSE(load(dir.file("empty.png")));
    EXPECT_FALSE(load(dir.file("text.jpg")));
    EXPECT_FALSE(load(dir.file("absent.png")));
    EXPECT_FALSE(load(dir.path()));  // a directory
    EXPECT_EQ(bl_image_load(nullptr), nullptr);
}

TEST(UntrustedFiles, HugeDeclaredSizesAreRefusedBeforeDecoding) {
    TempDir dir;
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"wide.png", png_declaring(100000, 100000)},
        {"over.png", png_declaring(16385, 16384)},        // one row past 2^28 pixels
        {"wrap.png", png_declaring(65536, 65536)},        // 2^32 pixels: 0 in 32 bits
        {"bytes.png", png_declaring(46341, 46341)},       // pixel count past 2^31
        {"wide.bmp", bmp_declaring(70000, 70000)},
        {"wrap.bmp", bmp_declaring(65536, 65536)},
        {"tall.gif", gif_declaring(65535, 65535)},
    };
    for (const auto& c : cases) {
        write_bytes(dir.file(c.name), c.bytes);
        EXPECT_FALSE(load(dir.file(c.name))) << c.name;
    }
    write_text(dir.file("huge.ppm"), "P6\n100000 100000\n255\n\x01\x02\x03");
    EXPECT_FALSE(load(dir.file("huge.ppm")));
    write_text(dir.file("wrap.ppm"), "P6\n65536 65536\n255\n\x01\x02\x03");
    EXPECT_FALSE(load(dir.file("wrap.ppm")));
    // Within the limit, but the samples are missing.
    write_text(dir.file("short.ppm"), "P6\n300 200\n255\n\x01\x02\x03");
    EXPECT_FALSE(load(dir.file("short.ppm")));
    // A size the limit allows still loads.
    write_text(dir.file("ok.ppm"), std::string("P6\n2 1\n255\n") + "\x01\x02\x03\x04\x05\x06");
    image_ptr ok = load(dir.file("ok.ppm"));
    ASSERT_TRUE(ok);
    EXPECT_EQ(at(ok.get(), 1, 0, 2), 6);
}

TEST(UntrustedFiles, JpegHuffmanTableOverflowingItsSymbolsIsRefused) {
    TempDir dir;
    // A good JPEG with one more Huffman table slipped in before the frame
    // header, declaring 16 x 255 codes for a table of 256 symbols.
    image_ptr image = patterned(16, 16, 3);
    ASSERT_EQ(bl_image_save(image.get(), dir.file("good.jpg").c_str()), 0);
    std::vector<uint8_t> good = bl_test::read_file(dir.file("good.jpg"));
    std::vector<uint8_t> table = {0xFF, 0xC4};
    const int symbols = 16 * 255;
    const int length = 2 + 17 + symbols;
    table.push_back(static_cast<uint8_t>(length >> 8));
    table.push_back(static_cast<uint8_t>(length & 255));
    table.push_back(0x00);
    table.insert(table.end(), 16, 255);
    table.insert(table.end(), symbols, 0x41);
    std::vector<uint8_t> bad(good.begin(), good.begin() + 2);
    bad.insert(bad.end(), table.begin(), table.end());
    bad.insert(bad.end(), good.begin() + 2, good.end());
    write_bytes(dir.file("bad.jpg"), bad);
    EXPECT_FALSE(load(dir.file("bad.jpg")));
    EXPECT_TRUE(load(dir.file("good.jpg")));
}

// A radiance file of 8 x 2 pixels with run-length scanlines; `scanline` is
// written for every row.
static std::string hdr_file(const std::string& scanline, int rows = 2) {
    std::string file = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y " + std::to_string(rows) + " +X 8\n";
    for (int row = 0; row < rows; ++row) file += scanline;
    return file;
}

// Radiance files are not photographs of this field, and the decoder that read
// them could spin forever on a zero-length run or a cut scanline: every one,
// sound or not, is refused as unsupported.
TEST(UntrustedFiles, RadianceFilesAreRefusedAsUnsupported) {
    TempDir dir;
    // Per channel: one run of 8 equal bytes (128 + 8, value).
    std::string good = std::string("\x02\x02\x00\x08", 4);
    for (int channel = 0; channel < 4; ++channel) good += std::string("\x88\x80", 2);
    std::string zero = std::string("\x02\x02\x00\x08", 4) + std::string("\x00", 1);
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {{"good.hdr", hdr_file(good)},
                 {"zero.hdr", hdr_file(zero)},
                 {"cut.hdr", hdr_file(good).substr(0, hdr_file(good).size() - 3)}};
    for (const auto& c : cases) {
        write_text(dir.file(c.name), c.bytes);
        load_failure failure = load_failure::none;
        EXPECT_FALSE(load(dir.file(c.name), &failure)) << c.name;
        EXPECT_STREQ(load_failure_text(failure), "Unsupported image format") << c.name;
    }
}

TEST(UntrustedFiles, TruncatedAndCorruptFilesFailOrLoadSanely) {
    TempDir dir;
    image_ptr image = patterned(48, 40, 3);
    const char* names[] = {"s.png", "s.jpg", "s.bmp", "s.webp"};
    std::mt19937 rng(12345);
    for (const char* name : names) {
        const std::string path = dir.file(name);
        ASSERT_EQ(bl_image_save(image.get(), path.c_str()), 0);
        const std::vector<uint8_t> good = bl_test::read_file(path);

        // Cut within the header: nothing to decode.
        std::vector<uint8_t> cut(good.begin(), good.begin() + 20);
        write_bytes(dir.file("cut"), cut);
        EXPECT_FALSE(load(dir.file("cut"))) << name;

        // Cut anywhere later, or with bytes overwritten: whatever the decoder
        // makes of it, it must not crash, and a picture it returns has the
        // size the header declares.
        for (int round = 0; round < 60; ++round) {
            std::vector<uint8_t> bad = good;
            if (round % 3 == 0) {
                bad.resize(20 + rng() % (good.size() - 20));
            } else {
                const int flips = 1 + static_cast<int>(rng() % 8);
                for (int f = 0; f < flips; ++f) bad[rng() % bad.size()] = static_cast<uint8_t>(rng());
            }
            write_bytes(dir.file("bad"), bad);
            image_ptr back = load(dir.file("bad"));
            if (back) {
                EXPECT_EQ(back->channels, 3);
                EXPECT_LE(static_cast<int64_t>(back->width) * back->height,
                          BRIGHTLOOM_MAX_IMAGE_PIXELS);
            }
        }
    }
    // A PNG missing the end of its image stream is refused.
    const std::vector<uint8_t> png = bl_test::read_file(dir.file("s.png"));
    write_bytes(dir.file("half.png"), std::vector<uint8_t>(png.begin(), png.begin() + png.size() / 2));
    EXPECT_FALSE(load(dir.file("half.png")));
}

// ------------------------------------------------------------- resampling

TEST(Resize, StretchesToTheRequestedSize) {
    image_ptr image = patterned(100, 50, 3);
    image_ptr big(bl_image_resize(image.get(), 640, 640));
    ASSERT_TRUE(big);
    EXPECT_EQ(big->width, 640);
    EXPECT_EQ(big->height, 640);
    EXPECT_EQ(big->channels, 3);
    EXPECT_EQ(bl_image_resize(nullptr, 4, 4), nullptr);
}

TEST(Resize, SameSizeReproducesAndConstantStaysConstant) {
    image_ptr image = patterned(37, 23, 3);
    image_ptr same(bl_image_resize(image.get(), 37, 23));
    ASSERT_TRUE(same);
    EXPECT_TRUE(same_pixels(same.get(), image.get()));

    image_ptr flat = bl_test::solid(64, 32, 3, 173);
    for (const auto& size : {std::pair<int, int>{32, 16}, {128, 64}, {17, 5}}) {
        image_ptr out(bl_image_resize(flat.get(), size.first, size.second));
        ASSERT_TRUE(out);
        for (int i = 0; i < size.first * size.second * 3; ++i) ASSERT_EQ(out->data[i], 173);
    }
}

TEST(Resize, HalvingAveragesNeighbours) {
    // Columns alternate 0 and 200: halving gives values near 100 everywhere.
    image_ptr stripes(bl_image_create(64, 8, 1));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 64; ++x) stripes->data[y * 64 + x] = (x % 2) ? 200 : 0;
    image_ptr half(bl_image_resize(stripes.get(), 32, 4));
    ASSERT_TRUE(half);
    for (int x = 2; x < 30; ++x) EXPECT_NEAR(half->data[2 * 32 + x], 100, 2) << x;
}

TEST(Resize, FourChannelsWeightColourByAlpha) {
    // Left half: invisible red; right half: opaque blue. Colour from the
    // invisible half must not bleed into the blend.
    image_ptr image(bl_image_create(32, 4, 4));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 32; ++x) {
            uint8_t* p = image->data + (y * 32 + x) * 4;
            if (x < 16) {
                p[0] = 255, p[1] = 0, p[2] = 0, p[3] = 0;
            } else {
                p[0] = 0, p[1] = 0, p[2] = 255, p[3] = 255;
            }
        }
    image_ptr half(bl_image_resize(image.get(), 16, 2));
    ASSERT_TRUE(half);
    for (int x = 0; x < 16; ++x) {
        const uint8_t* p = half->data + x * 4;
        if (p[3] > 8) {
            EXPECT_LT(p[0], 8) << x;
        }
    }
}

TEST(Resize, EmptySourceGivesZeroFilledResult) {
    image_ptr empty(bl_image_create(0, 0, 3));
    image_ptr out(bl_image_resize(empty.get(), 4, 4));
    ASSERT_TRUE(out);
    for (int i = 0; i < 48; ++i) ASSERT_EQ(out->data[i], 0);
}

// ------------------------------------------------------------------ tensor

TEST(ToChw, PlanarOrderAndRawBytes) {
    image_ptr image(bl_image_create(2, 1, 3));
    for (int i = 0; i < 6; ++i) image->data[i] = static_cast<uint8_t>(i + 1);
    float* chw = bl_image_to_chw(image.get(), 0, nullptr, nullptr);
    ASSERT_NE(chw, nullptr);
    const float expected[6] = {1, 4, 2, 5, 3, 6};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(chw[i], expected[i]) << i;
    free(chw);
    EXPECT_EQ(bl_image_to_chw(nullptr, 1, nullptr, nullptr), nullptr);
}

TEST(ToChw, NormalisationDividesInOrder) {
    image_ptr image(bl_image_create(256, 1, 3));
    for (int x = 0; x < 256; ++x)
        for (int c = 0; c < 3; ++c) image->data[x * 3 + c] = static_cast<uint8_t>(x);
    const float half[3] = {0.5f, 0.5f, 0.5f};
    float* chw = bl_image_to_chw(image.get(), 1, half, half);
    ASSERT_NE(chw, nullptr);
    EXPECT_EQ(chw[0], -1.0f);
    EXPECT_EQ(chw[255], 1.0f);
    free(chw);

    // Every value equals the scalar formula: a division by 255 (not a
    // multiplication by its reciprocal), the subtraction, the division.
    const float mean[3] = {0.485f, 0.456f, 0.406f}, std[3] = {0.229f, 0.224f, 0.225f};
    chw = bl_image_to_chw(image.get(), 1, mean, std);
    ASSERT_NE(chw, nullptr);
    for (int c = 0; c < 3; ++c)
        for (int x = 0; x < 256; ++x) {
            const float v = static_cast<float>(x) / 255.0f;
            ASSERT_EQ(chw[c * 256 + x], (v - mean[c]) / std[c]) << c << "," << x;
        }
    free(chw);
}

// Phones store photos sideways and record how to turn them; the loader turns
// them so that faces stand upright. Stored pixel (x, y) of a W x H JPEG lands
// where each orientation puts it; values outside 1 ... 8 change nothing.
TEST(ImageFiles, JpegExifOrientationTurnsThePicture) {
    TempDir dir;
    image_ptr picture = patterned(24, 16, 3);
    ASSERT_EQ(bl_image_save(picture.get(), dir.file("plain.jpg").c_str()), 0);
    const std::vector<uint8_t> plain = bl_test::read_file(dir.file("plain.jpg"));
    image_ptr stored = load(dir.file("plain.jpg"));
    ASSERT_TRUE(stored);
    const int W = 24, H = 16;
    struct place {
        int x, y;
    };
    const struct {
        int orientation;
        bool turned;  // width and height exchanged
        place (*where)(int x, int y);
    } cases[] = {
        {0, false, [](int x, int y) { return place{x, y}; }},
        {1, false, [](int x, int y) { return place{x, y}; }},
        {2, false, [](int x, int y) { return place{W - 1 - x, y}; }},
        {3, false, [](int x, int y) { return place{W - 1 - x, H - 1 - y}; }},
        {4, false, [](int x, int y) { return place{x, H - 1 - y}; }},
        {5, true, [](int x, int y) { return place{y, x}; }},
        {6, true, [](int x, int y) { return place{H - 1 - y, x}; }},
        {7, true, [](int x, int y) { return place{H - 1 - y, W - 1 - x}; }},
        {8, true, [](int x, int y) { return place{y, W - 1 - x}; }},
        {9, false, [](int x, int y) { return place{x, y}; }},
    };
    for (const auto& c : cases) {
        write_bytes(dir.file("turned.jpg"), bl_test::with_exif_orientation(plain, c.orientation));
        image_ptr turned = load(dir.file("turned.jpg"));
        ASSERT_TRUE(turned) << c.orientation;
        ASSERT_EQ(turned->width, c.turned ? H : W) << c.orientation;
        ASSERT_EQ(turned->height, c.turned ? W : H) << c.orientation;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const place p = c.where(x, y);
                for (int ch = 0; ch < 3; ++ch)
                    ASSERT_EQ(at(turned.get(), p.x, p.y, ch), at(stored.get(), x, y, ch))
                        << "orientation " << c.orientation << " at " << x << "," << y;
            }
    }
}

// WebP output is lossy at quality 95: close to the picture, and loaded back
// as any other input.
TEST(ImageFiles, WebpRoundTripStaysClose) {
    TempDir dir;
    image_ptr smooth(bl_image_create(40, 30, 3));
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            for (int c = 0; c < 3; ++c) smooth->data[(y * 40 + x) * 3 + c] = static_cast<uint8_t>(x * 3 + y * 2 + c * 20);
    for (int channels : {1, 2, 3, 4}) {
        image_ptr source(bl_image_create(40, 30, channels));
        for (int i = 0; i < 40 * 30; ++i)
            for (int c = 0; c < channels; ++c) source->data[i * channels + c] = smooth->data[i * 3 + (c < 3 ? c : 0)];
        ASSERT_EQ(bl_image_save(source.get(), dir.file("a.webp").c_str()), 0) << channels;
        image_ptr back = load(dir.file("a.webp"));
        ASSERT_TRUE(back) << channels;
        ASSERT_EQ(back->width, 40);
        for (int y = 2; y < 28; ++y)
            for (int x = 2; x < 38; ++x)
                EXPECT_NEAR(at(back.get(), x, y, 1), at(source.get(), x, y, channels >= 3 ? 1 : 0), 12)
                    << channels << " at " << x << "," << y;
    }
}
