// Images in memory through the engine interface: decoding bytes as loading
// files does, encoding into bytes as saving files does, the statuses and
// messages of each refusal, and the caller's padded rows.
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <stb_image_write.h>
#include <webp/encode.h>

#include "brightloom.h"
#include "image/crafted_files.h"
#include "image/image_corpus.h"
#include "support/test_images.h"
#include "support/testutil.h"

using bl_test::bytes;
using bl_test::image_ptr;
using bl_test::TempDir;

// The writer's PNG encoder into memory, declared only in its implementation part.
extern "C" unsigned char* stbi_write_png_to_mem(const unsigned char* pixels, int stride_bytes,
                                                int x, int y, int n, int* out_len);

namespace {

// What the library hands out, released when the test leaves on any path.
struct held_image {
    brightloom_image image = {};
    ~held_image() { brightloom_image_release(&image); }
};
struct held_bytes {
    uint8_t* data = nullptr;
    size_t size = 0;
    ~held_bytes() { brightloom_bytes_release(data); }
    bytes copy() const { return bytes(data, data + size); }
};

brightloom_image caller_view(const bl_image* image) {
    return {image->width, image->height, image->width * 3, image->data};
}

// The mean difference of a returned image's samples from `expected`'s; -1
// when the sizes or the stride are not the packed ones of `expected`.
double mean_difference(const brightloom_image& got, const bl_image* expected) {
    if (got.width != expected->width || got.height != expected->height || got.stride != got.width * 3) return -1;
    const size_t n = static_cast<size_t>(expected->width) * expected->height * 3;
    double total = 0;
    for (size_t i = 0; i < n; ++i) total += abs(static_cast<int>(got.pixels[i]) - expected->data[i]);
    return total / static_cast<double>(n);
}

// One call of the interface with the status and message it must give.
struct expected_call {
    const char* name;
    std::function<brightloom_status()> call;
    brightloom_status status;
    std::string message;
};

// The header of a 16-bit grey TGA of `width` x `height` that announces a
// 255-byte identification field and ends after the header.
bytes tga_with_long_id(int width, int height) {
    bytes header(18, 0);
    header[0] = 255;
    header[2] = 3;
    header[12] = static_cast<uint8_t>(width), header[13] = static_cast<uint8_t>(width >> 8);
    header[14] = static_cast<uint8_t>(height), header[15] = static_cast<uint8_t>(height >> 8);
    header[16] = 16;
    return header;
}

}  // namespace

TEST(ImageMemory, DecodeAndLoadGiveWhatTheFileLoaderGivesOnTheCorpus) {
    const std::vector<std::string> paths = bl_test::corpus_image_paths();
    ASSERT_GT(paths.size(), 150u) << "corpus missing from " << BL_TEST_IMAGE_CORPUS_DIR;
    for (const std::string& path : paths) {
        image_ptr loaded(bl_image_load(path.c_str()));
        ASSERT_TRUE(loaded) << path;
        const bytes file = bl_test::read_file(path);
        held_image decoded, public_load;
        ASSERT_EQ(brightloom_image_decode(file.data(), file.size(), &decoded.image), BRIGHTLOOM_OK) << path;
        EXPECT_EQ(mean_difference(decoded.image, loaded.get()), 0) << path;
        ASSERT_EQ(brightloom_image_load(path.c_str(), &public_load.image), BRIGHTLOOM_OK) << path;
        EXPECT_EQ(mean_difference(public_load.image, loaded.get()), 0) << path;
    }
}

// Each kind of damage gives its status, the same for the bytes and for the
// file holding them, whose message names it; the image comes back cleared.
TEST(ImageMemory, RefusedBytesGiveTheirStatusAndMessage) {
    TempDir dir;
    image_ptr picture = bl_test::patterned(20, 10, 3);
    ASSERT_EQ(bl_image_save(picture.get(), dir.file("whole.jpg").c_str()), 0);
    const bytes jpeg = bl_test::read_file(dir.file("whole.jpg"));
    const struct {
        bytes data;
        brightloom_status status;
        const char* message;
    } cases[] = {
        {bytes(40, 'a'), BRIGHTLOOM_UNSUPPORTED_FORMAT, "Unsupported image format"},
        {bl_test::png_declaring(16385, 16384), BRIGHTLOOM_TOO_LARGE, "Image too large"},
        {bl_test::bmp_declaring(4000, 4000), BRIGHTLOOM_UNREADABLE_INPUT, "Corrupt or truncated image data"},
        {bytes(jpeg.begin(), jpeg.end() - 200), BRIGHTLOOM_UNREADABLE_INPUT, "Corrupt or truncated image data"},
        // A grey TGA whose identification field runs past the end: a file
        // may be sought beyond its end, and memory must judge it alike.
        {tga_with_long_id(10, 10), BRIGHTLOOM_UNREADABLE_INPUT, "Corrupt or truncated image data"},
        {tga_with_long_id(16000, 20000), BRIGHTLOOM_TOO_LARGE, "Image too large"},
    };
    const std::string path = dir.file("refused");
    for (const auto& c : cases) {
        held_image image;
        image.image.width = 7;
        EXPECT_EQ(brightloom_image_decode(c.data.data(), c.data.size(), &image.image), c.status) << c.message;
        EXPECT_STREQ(brightloom_last_error(), c.message);
        EXPECT_EQ(image.image.width, 0) << c.message;
        bl_test::write_bytes(path, c.data);
        EXPECT_EQ(brightloom_image_load(path.c_str(), &image.image), c.status) << c.message;
        EXPECT_EQ(brightloom_last_error(), "Failed to load image: " + path + ": " + c.message);
    }
}

TEST(ImageMemory, EncodedBytesDecodeBackToThePicture) {
    image_ptr picture = bl_test::make_image(61, 37, [](int x, int y, uint8_t rgb[3]) {
        for (int c = 0; c < 3; ++c) rgb[c] = static_cast<uint8_t>(x * 2 + y * 2 + c * 30);
    });
    const brightloom_image source = caller_view(picture.get());
    const struct {
        brightloom_format format;
        int32_t quality;
        double mean_limit;
    } cases[] = {
        {BRIGHTLOOM_FORMAT_PNG, 0, 0},    {BRIGHTLOOM_FORMAT_BMP, 0, 0},    {BRIGHTLOOM_FORMAT_JPEG, 0, 1.5},
        {BRIGHTLOOM_FORMAT_JPEG, 40, 4},  {BRIGHTLOOM_FORMAT_WEBP, 0, 1.5}, {BRIGHTLOOM_FORMAT_WEBP, 100, 1.5},
    };
    for (const auto& c : cases) {
        held_bytes encoded;
        held_image back;
        ASSERT_EQ(brightloom_image_encode(&source, c.format, c.quality, &encoded.data, &encoded.size), BRIGHTLOOM_OK);
        ASSERT_EQ(brightloom_image_decode(encoded.data, encoded.size, &back.image), BRIGHTLOOM_OK) << c.format;
        const double difference = mean_difference(back.image, picture.get());
        EXPECT_GE(difference, 0) << c.format;
        EXPECT_LE(difference, c.mean_limit) << c.format << " q" << c.quality;
    }
}

// The quality reaches the lossy encoders (less of it, fewer bytes; 0 is 95),
// and rows padded past 3 x width, junk in the padding, encode and save as
// the packed picture does.
TEST(ImageMemory, QualityAndPaddedRowsReachTheEncoders) {
    TempDir dir;
    image_ptr picture = bl_test::patterned(64, 9, 3);
    const brightloom_image packed = caller_view(picture.get());
    const int stride = 64 * 3 + 5;
    std::vector<uint8_t> padded_pixels(static_cast<size_t>(stride) * 9, 0xA5);
    for (int y = 0; y < 9; ++y) memcpy(&padded_pixels[static_cast<size_t>(y) * stride], picture->data + y * 192, 192);
    const brightloom_image padded = {64, 9, stride, padded_pixels.data()};
    const struct {
        brightloom_format format;
        const char* name;
    } formats[] = {{BRIGHTLOOM_FORMAT_PNG, "a.png"}, {BRIGHTLOOM_FORMAT_JPEG, "a.jpg"},
                   {BRIGHTLOOM_FORMAT_BMP, "a.bmp"}, {BRIGHTLOOM_FORMAT_WEBP, "a.webp"}};
    for (const auto& f : formats) {
        held_bytes at_95, at_default, at_20, from_padded;
        ASSERT_EQ(brightloom_image_encode(&packed, f.format, 95, &at_95.data, &at_95.size), BRIGHTLOOM_OK);
        ASSERT_EQ(brightloom_image_encode(&packed, f.format, 0, &at_default.data, &at_default.size), BRIGHTLOOM_OK);
        ASSERT_EQ(brightloom_image_encode(&packed, f.format, 20, &at_20.data, &at_20.size), BRIGHTLOOM_OK);
        ASSERT_EQ(brightloom_image_encode(&padded, f.format, 0, &from_padded.data, &from_padded.size), BRIGHTLOOM_OK);
        EXPECT_EQ(at_default.copy(), at_95.copy()) << f.name;
        const bool lossy = f.format == BRIGHTLOOM_FORMAT_JPEG || f.format == BRIGHTLOOM_FORMAT_WEBP;
        EXPECT_EQ(at_20.size < at_95.size, lossy) << f.name;
        EXPECT_EQ(from_padded.copy(), at_95.copy()) << f.name;
        ASSERT_EQ(brightloom_image_save(&padded, dir.file(f.name).c_str()), BRIGHTLOOM_OK) << f.name;
        EXPECT_EQ(bl_test::read_file(dir.file(f.name)), at_95.copy()) << f.name;
    }
}

// Saving became encoding plus writing: each extension's file holds the bytes
// the writers (and libwebp) wrote when they wrote the file themselves.
TEST(ImageMemory, SaveWritesTheBytesTheWritersAlwaysWrote) {
    TempDir dir;
    image_ptr picture = bl_test::patterned(45, 31, 3);
    const bl_image* p = picture.get();
    auto streamed = [](void* context, void* data, int size) {
        bytes* out = static_cast<bytes*>(context);
        out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    };
    bytes jpeg, bmp, png, webp;
    ASSERT_TRUE(stbi_write_jpg_to_func(streamed, &jpeg, p->width, p->height, 3, p->data, 95));
    ASSERT_TRUE(stbi_write_bmp_to_func(streamed, &bmp, p->width, p->height, 3, p->data));
    int png_length = 0;
    unsigned char* png_data = stbi_write_png_to_mem(p->data, p->width * 3, p->width, p->height, 3, &png_length);
    png.assign(png_data, png_data + png_length);
    free(png_data);
    uint8_t* webp_data = nullptr;
    const size_t webp_length = WebPEncodeRGB(p->data, p->width, p->height, p->width * 3, 95.0f, &webp_data);
    webp.assign(webp_data, webp_data + webp_length);
    WebPFree(webp_data);
    const struct {
        const char* name;
        const bytes& expected;
    } files[] = {{"a.jpg", jpeg}, {"a.JPEG", jpeg}, {"a.bmp", bmp}, {"a.png", png}, {"a.tiff", png}, {"a.webp", webp}};
    for (const auto& f : files) {
        ASSERT_EQ(bl_image_save(p, dir.file(f.name).c_str()), 0) << f.name;
        EXPECT_EQ(bl_test::read_file(dir.file(f.name)), f.expected) << f.name;
    }
}

TEST(ImageMemory, BadArgumentsAndUnusableFilesGiveTheirStatusAndMessage) {
    TempDir dir;
    bl_test::write_bytes(dir.file("empty.png"), {});
    image_ptr picture = bl_test::patterned(4, 3, 3);
    const brightloom_image good = caller_view(picture.get());
    brightloom_image narrow_stride = good;
    narrow_stride.stride = 11;
    std::vector<uint8_t> row(static_cast<size_t>(3) * 16384);
    const brightloom_image wide = {16384, 1, 3 * 16384, row.data()};
    const std::string missing = dir.file("none.png"), empty = dir.file("empty.png");
    const std::string unwritable = dir.file("no/folder/a.png"), too_wide = dir.file("w.webp");
    const uint8_t byte = 0;
    held_image image;
    uint8_t* data = nullptr;
    size_t size = 0;
    auto encode = [&](const brightloom_image* from, int format, int32_t quality) {
        data = &row[0];  // must come back cleared
        size = 5;
        const brightloom_status status =
            brightloom_image_encode(from, static_cast<brightloom_format>(format), quality, &data, &size);
        EXPECT_TRUE(data == nullptr && size == 0);
        return status;
    };
    const brightloom_status BAD = BRIGHTLOOM_BAD_ARGUMENT, UNREADABLE = BRIGHTLOOM_UNREADABLE_INPUT;
    const expected_call cases[] = {
        {"no bytes", [&] { return brightloom_image_decode(nullptr, 10, &image.image); }, BAD, "No image bytes to decode"},
        {"zero size", [&] { return brightloom_image_decode(&byte, 0, &image.image); }, BAD, "No image bytes to decode"},
        {"no result", [&] { return brightloom_image_decode(&byte, 1, nullptr); }, BAD, "No image to decode into"},
        {"no path", [&] { return brightloom_image_load(nullptr, &image.image); }, BAD, "No image path"},
        {"missing file", [&] { return brightloom_image_load(missing.c_str(), &image.image); }, UNREADABLE,
         "Failed to load image: " + missing + ": Cannot read the file"},
        {"empty file", [&] { return brightloom_image_load(empty.c_str(), &image.image); }, UNREADABLE,
         "Failed to load image: " + empty + ": Cannot read the file"},
        {"no image", [&] { return encode(nullptr, BRIGHTLOOM_FORMAT_PNG, 0); }, BAD, "The image has no pixels"},
        {"stride", [&] { return encode(&narrow_stride, BRIGHTLOOM_FORMAT_BMP, 0); }, BAD,
         "The image's stride 11 is less than 3 x its width 4"},
        {"format", [&] { return encode(&good, 9, 0); }, BAD, "Unknown image format 9"},
        {"quality", [&] { return encode(&good, BRIGHTLOOM_FORMAT_JPEG, 101); }, BAD, "Quality 101 is outside 1 ... 100"},
        {"webp side", [&] { return encode(&wide, BRIGHTLOOM_FORMAT_WEBP, 0); }, BAD,
         "A 16384 x 1 image is past WebP's 16383 pixels a side"},
        {"no output", [&] { return brightloom_image_encode(&good, BRIGHTLOOM_FORMAT_PNG, 0, nullptr, &size); }, BAD,
         "No place for the encoded bytes"},
        {"save without path", [&] { return brightloom_image_save(&good, nullptr); }, BAD, "No output path"},
        {"save past a side", [&] { return brightloom_image_save(&wide, too_wide.c_str()); }, BAD,
         "A 16384 x 1 image is past WebP's 16383 pixels a side"},
        {"unwritable", [&] { return brightloom_image_save(&good, unwritable.c_str()); }, BRIGHTLOOM_CANNOT_WRITE,
         "Failed to save output: " + unwritable},
    };
    for (const expected_call& c : cases) {
        EXPECT_EQ(c.call(), c.status) << c.name;
        EXPECT_EQ(brightloom_last_error(), c.message) << c.name;
    }
    EXPECT_FALSE(bl_test::file_exists(too_wide)) << "a refused save writes nothing";
}

TEST(ImageMemory, ReleaseClearsTheImage) {
    image_ptr picture = bl_test::patterned(3, 2, 3);
    const brightloom_image source = caller_view(picture.get());
    held_bytes png;
    ASSERT_EQ(brightloom_image_encode(&source, BRIGHTLOOM_FORMAT_PNG, 0, &png.data, &png.size), BRIGHTLOOM_OK);
    brightloom_image image = {};
    ASSERT_EQ(brightloom_image_decode(png.data, png.size, &image), BRIGHTLOOM_OK);
    brightloom_image_release(&image);
    EXPECT_TRUE(image.width == 0 && image.height == 0 && image.stride == 0 && image.pixels == nullptr);
    brightloom_image_release(&image);
    brightloom_image_release(nullptr);
    brightloom_bytes_release(nullptr);
}
