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
#include "image/image_io.h"
#include "support/test_images.h"
#include "support/testutil.h"

using bl_test::bytes;
using bl_test::image_ptr;
using bl_test::TempDir;

// The writer's PNG encoder into memory, declared only in its implementation part.
extern "C" unsigned char* stbi_write_png_to_mem(const unsigned char* pixels, int stride_bytes,
                                                int x, int y, int n, int* out_len);

namespace {

// A library-owned image released when the test leaves, on every path.
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

// The caller's view of a packed library image.
brightloom_image caller_view(const bl_image* image) {
    return {image->width, image->height, image->width * 3, image->data};
}

// Whether a returned image holds exactly the pixels of `expected`.
::testing::AssertionResult same_picture(const brightloom_image& got, const bl_image* expected) {
    if (got.width != expected->width || got.height != expected->height || got.stride != got.width * 3)
        return ::testing::AssertionFailure()
               << got.width << " x " << got.height << " (stride " << got.stride << ") vs "
               << expected->width << " x " << expected->height;
    const size_t n = static_cast<size_t>(expected->width) * expected->height * 3;
    if (memcmp(got.pixels, expected->data, n) != 0) return ::testing::AssertionFailure() << "pixels differ";
    return ::testing::AssertionSuccess();
}

double mean_difference(const brightloom_image& got, const bl_image* expected) {
    const size_t n = static_cast<size_t>(expected->width) * expected->height * 3;
    double total = 0;
    for (size_t i = 0; i < n; ++i) total += abs(static_cast<int>(got.pixels[i]) - expected->data[i]);
    return total / static_cast<double>(n);
}

// A gently varying picture, on which a lossy codec stays close.
image_ptr smooth(int width, int height) {
    return bl_test::make_image(width, height, [](int x, int y, uint8_t rgb[3]) {
        for (int c = 0; c < 3; ++c) rgb[c] = static_cast<uint8_t>(x * 2 + y * 2 + c * 30);
    });
}

// One call of the interface with the status and message it must give.
struct expected_call {
    const char* name;
    std::function<brightloom_status()> call;
    brightloom_status status;
    std::string message;
};

template <size_t N>
void expect_calls(const expected_call (&cases)[N]) {
    for (const expected_call& c : cases) {
        EXPECT_EQ(c.call(), c.status) << c.name;
        EXPECT_EQ(brightloom_last_error(), c.message) << c.name;
    }
}

}  // namespace

// ------------------------------------------------------------------ decode

TEST(ImageMemory, DecodeAndLoadGiveWhatTheFileLoaderGivesOnTheCorpus) {
    const std::vector<std::string> paths = bl_test::corpus_image_paths();
    ASSERT_GT(paths.size(), 150u) << "corpus missing from " << BL_TEST_IMAGE_CORPUS_DIR;
    for (const std::string& path : paths) {
        image_ptr loaded(bl_image_load(path.c_str()));
        ASSERT_TRUE(loaded) << path;
        const bytes file = bl_test::read_file(path);
        held_image decoded, public_load;
        ASSERT_EQ(brightloom_image_decode(file.data(), file.size(), &decoded.image), BRIGHTLOOM_OK) << path;
        EXPECT_TRUE(same_picture(decoded.image, loaded.get())) << path;
        ASSERT_EQ(brightloom_image_load(path.c_str(), &public_load.image), BRIGHTLOOM_OK) << path;
        EXPECT_TRUE(same_picture(public_load.image, loaded.get())) << path;
    }
}

// Each kind of refusal gives its own status, the same for bytes and for the
// file holding them; the file's message names it.
TEST(ImageMemory, RefusedInputsGiveTheirStatusAndMessage) {
    TempDir dir;
    image_ptr picture = bl_test::patterned(20, 10, 3);
    ASSERT_EQ(bl_image_save(picture.get(), dir.file("whole.png").c_str()), 0);
    ASSERT_EQ(bl_image_save(picture.get(), dir.file("whole.jpg").c_str()), 0);
    const bytes png = bl_test::read_file(dir.file("whole.png"));
    const bytes jpeg = bl_test::read_file(dir.file("whole.jpg"));
    const std::string psd = "8BPS\x00\x01";
    const struct {
        const char* name;
        bytes data;
        brightloom_status status;
        const char* message;
    } cases[] = {
        {"psd", bytes(psd.begin(), psd.end()), BRIGHTLOOM_UNSUPPORTED_FORMAT, "Unsupported image format"},
        {"text", bytes(40, 'a'), BRIGHTLOOM_UNSUPPORTED_FORMAT, "Unsupported image format"},
        {"over the pixel limit", bl_test::png_declaring(16385, 16384), BRIGHTLOOM_TOO_LARGE, "Image too large"},
        {"gif over the limit", bl_test::gif_declaring(65535, 65535), BRIGHTLOOM_TOO_LARGE, "Image too large"},
        {"claims more than it holds", bl_test::bmp_declaring(4000, 4000), BRIGHTLOOM_UNREADABLE_INPUT,
         "Corrupt or truncated image data"},
        {"truncated png", bytes(png.begin(), png.begin() + static_cast<long>(png.size() / 2)),
         BRIGHTLOOM_UNREADABLE_INPUT, "Corrupt or truncated image data"},
        {"truncated jpeg", bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() * 2 / 3)),
         BRIGHTLOOM_UNREADABLE_INPUT, "Corrupt or truncated image data"},
    };
    for (const auto& c : cases) {
        held_image image;
        image.image.width = 7;  // cleared on failure
        EXPECT_EQ(brightloom_image_decode(c.data.data(), c.data.size(), &image.image), c.status) << c.name;
        EXPECT_STREQ(brightloom_last_error(), c.message) << c.name;
        EXPECT_EQ(image.image.width, 0) << c.name;
        EXPECT_EQ(image.image.pixels, nullptr) << c.name;

        const std::string path = dir.file("refused");
        bl_test::write_bytes(path, c.data);
        EXPECT_EQ(brightloom_image_load(path.c_str(), &image.image), c.status) << c.name;
        EXPECT_EQ(brightloom_last_error(), "Failed to load image: " + path + ": " + c.message) << c.name;
    }
}

TEST(ImageMemory, MissingArgumentsAndUnreadableFilesAreToldApart) {
    TempDir dir;
    bl_test::write_bytes(dir.file("empty.png"), {});
    const std::string missing = dir.file("none.png"), empty = dir.file("empty.png");
    const uint8_t byte = 0;
    held_image image;
    const expected_call cases[] = {
        {"no bytes", [&] { return brightloom_image_decode(nullptr, 10, &image.image); },
         BRIGHTLOOM_BAD_ARGUMENT, "No image bytes to decode"},
        {"zero size", [&] { return brightloom_image_decode(&byte, 0, &image.image); },
         BRIGHTLOOM_BAD_ARGUMENT, "No image bytes to decode"},
        {"no result", [&] { return brightloom_image_decode(&byte, 1, nullptr); }, BRIGHTLOOM_BAD_ARGUMENT,
         "No image to decode into"},
        {"no path", [&] { return brightloom_image_load(nullptr, &image.image); }, BRIGHTLOOM_BAD_ARGUMENT,
         "No image path"},
        {"missing file", [&] { return brightloom_image_load(missing.c_str(), &image.image); },
         BRIGHTLOOM_UNREADABLE_INPUT, "Failed to load image: " + missing + ": Cannot read the file"},
        {"empty file", [&] { return brightloom_image_load(empty.c_str(), &image.image); },
         BRIGHTLOOM_UNREADABLE_INPUT, "Failed to load image: " + empty + ": Cannot read the file"},
    };
    expect_calls(cases);
}

// ------------------------------------------------------------------ encode

TEST(ImageMemory, EncodedBytesDecodeBackToThePicture) {
    image_ptr picture = smooth(61, 37);
    const brightloom_image source = caller_view(picture.get());
    const struct {
        brightloom_format format;
        int32_t quality;
        double mean_limit;  // 0: exact
    } cases[] = {
        {BRIGHTLOOM_FORMAT_PNG, 0, 0},      {BRIGHTLOOM_FORMAT_BMP, 0, 0},
        {BRIGHTLOOM_FORMAT_JPEG, 0, 1.5},   {BRIGHTLOOM_FORMAT_JPEG, 40, 4},
        {BRIGHTLOOM_FORMAT_WEBP, 0, 1.5},   {BRIGHTLOOM_FORMAT_WEBP, 100, 1.5},
    };
    for (const auto& c : cases) {
        held_bytes encoded;
        ASSERT_EQ(brightloom_image_encode(&source, c.format, c.quality, &encoded.data, &encoded.size),
                  BRIGHTLOOM_OK)
            << c.format << " q" << c.quality;
        held_image back;
        ASSERT_EQ(brightloom_image_decode(encoded.data, encoded.size, &back.image), BRIGHTLOOM_OK) << c.format;
        if (c.mean_limit == 0) {
            EXPECT_TRUE(same_picture(back.image, picture.get())) << c.format;
        } else {
            ASSERT_EQ(back.image.width, 61);
            ASSERT_EQ(back.image.height, 37);
            EXPECT_LT(mean_difference(back.image, picture.get()), c.mean_limit) << c.format << " q" << c.quality;
        }
    }
}

// The quality reaches the lossy encoders: less of it, fewer bytes.
TEST(ImageMemory, LowerQualityGivesFewerBytes) {
    image_ptr picture = bl_test::patterned(64, 48, 3);
    const brightloom_image source = caller_view(picture.get());
    for (brightloom_format format : {BRIGHTLOOM_FORMAT_JPEG, BRIGHTLOOM_FORMAT_WEBP}) {
        held_bytes high, low;
        ASSERT_EQ(brightloom_image_encode(&source, format, 95, &high.data, &high.size), BRIGHTLOOM_OK);
        ASSERT_EQ(brightloom_image_encode(&source, format, 20, &low.data, &low.size), BRIGHTLOOM_OK);
        EXPECT_LT(low.size, high.size) << format;
        held_bytes fallback;
        ASSERT_EQ(brightloom_image_encode(&source, format, 0, &fallback.data, &fallback.size), BRIGHTLOOM_OK);
        EXPECT_EQ(fallback.copy(), high.copy()) << format << ": quality 0 is 95";
    }
}

// Rows padded past 3 x width (with junk in the padding) encode as the
// packed picture does, in every format, for both encode and save.
TEST(ImageMemory, PaddedRowsEncodeAndSaveLikePackedOnes) {
    TempDir dir;
    image_ptr picture = bl_test::patterned(13, 9, 3);
    const brightloom_image packed = caller_view(picture.get());
    const int stride = 13 * 3 + 5;
    std::vector<uint8_t> padded_pixels(static_cast<size_t>(stride) * 9, 0xA5);
    for (int y = 0; y < 9; ++y) memcpy(&padded_pixels[static_cast<size_t>(y) * stride], picture->data + y * 39, 39);
    const brightloom_image padded = {13, 9, stride, padded_pixels.data()};
    const struct {
        brightloom_format format;
        const char* name;
    } formats[] = {{BRIGHTLOOM_FORMAT_PNG, "a.png"}, {BRIGHTLOOM_FORMAT_JPEG, "a.jpg"},
                   {BRIGHTLOOM_FORMAT_BMP, "a.bmp"}, {BRIGHTLOOM_FORMAT_WEBP, "a.webp"}};
    for (const auto& f : formats) {
        held_bytes from_packed, from_padded;
        ASSERT_EQ(brightloom_image_encode(&packed, f.format, 0, &from_packed.data, &from_packed.size), BRIGHTLOOM_OK);
        ASSERT_EQ(brightloom_image_encode(&padded, f.format, 0, &from_padded.data, &from_padded.size), BRIGHTLOOM_OK);
        EXPECT_EQ(from_padded.copy(), from_packed.copy()) << f.name;
        ASSERT_EQ(brightloom_image_save(&padded, dir.file(f.name).c_str()), BRIGHTLOOM_OK) << f.name;
        EXPECT_EQ(bl_test::read_file(dir.file(f.name)), from_packed.copy()) << f.name;
    }
}

// Saving became encoding plus writing: each extension's file holds the
// bytes the image writers (and libwebp) produced when they wrote the file
// themselves, at quality 95.
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
    ASSERT_NE(png_data, nullptr);
    png.assign(png_data, png_data + png_length);
    free(png_data);
    uint8_t* webp_data = nullptr;
    const size_t webp_length = WebPEncodeRGB(p->data, p->width, p->height, p->width * 3, 95.0f, &webp_data);
    ASSERT_GT(webp_length, 0u);
    webp.assign(webp_data, webp_data + webp_length);
    WebPFree(webp_data);

    const struct {
        const char* name;
        const bytes& expected;
    } files[] = {{"a.jpg", jpeg}, {"a.JPEG", jpeg}, {"a.bmp", bmp}, {"a.png", png}, {"a.tiff", png},
                 {"a.webp", webp}};
    const brightloom_image source = caller_view(p);
    for (const auto& f : files) {
        ASSERT_EQ(bl_image_save(p, dir.file(f.name).c_str()), 0) << f.name;
        EXPECT_EQ(bl_test::read_file(dir.file(f.name)), f.expected) << f.name;
        ASSERT_EQ(brightloom_image_save(&source, dir.file(f.name).c_str()), BRIGHTLOOM_OK) << f.name;
        EXPECT_EQ(bl_test::read_file(dir.file(f.name)), f.expected) << f.name << " (engine interface)";
    }
}

TEST(ImageMemory, EncodeAndSaveRefuseWhatTheyCannotWrite) {
    TempDir dir;
    image_ptr picture = bl_test::patterned(4, 3, 3);
    const brightloom_image good = caller_view(picture.get());
    brightloom_image no_pixels = good, narrow_stride = good;
    no_pixels.pixels = nullptr;
    narrow_stride.stride = 11;
    std::vector<uint8_t> row(static_cast<size_t>(3) * 16384);
    const brightloom_image wide = {16384, 1, 3 * 16384, row.data()};
    const std::string unwritable = dir.file("no/such/folder/a.png"), too_wide = dir.file("w.webp");
    uint8_t* data = nullptr;
    size_t size = 0;
    auto encode = [&](const brightloom_image* image, int format, int32_t quality) {
        data = reinterpret_cast<uint8_t*>(&size);  // must come back cleared
        size = 5;
        const brightloom_status status =
            brightloom_image_encode(image, static_cast<brightloom_format>(format), quality, &data, &size);
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(size, 0u);
        return status;
    };
    const expected_call cases[] = {
        {"no image", [&] { return encode(nullptr, BRIGHTLOOM_FORMAT_PNG, 0); }, BRIGHTLOOM_BAD_ARGUMENT,
         "The image has no pixels"},
        {"no pixels", [&] { return encode(&no_pixels, BRIGHTLOOM_FORMAT_PNG, 0); }, BRIGHTLOOM_BAD_ARGUMENT,
         "The image has no pixels"},
        {"stride", [&] { return encode(&narrow_stride, BRIGHTLOOM_FORMAT_BMP, 0); }, BRIGHTLOOM_BAD_ARGUMENT,
         "The image's stride 11 is less than 3 x its width 4"},
        {"format", [&] { return encode(&good, 9, 0); }, BRIGHTLOOM_BAD_ARGUMENT, "Unknown image format 9"},
        {"quality", [&] { return encode(&good, BRIGHTLOOM_FORMAT_JPEG, 101); }, BRIGHTLOOM_BAD_ARGUMENT,
         "Quality 101 is outside 1 ... 100"},
        {"negative quality", [&] { return encode(&good, BRIGHTLOOM_FORMAT_WEBP, -1); }, BRIGHTLOOM_BAD_ARGUMENT,
         "Quality -1 is outside 1 ... 100"},
        {"webp side", [&] { return encode(&wide, BRIGHTLOOM_FORMAT_WEBP, 0); }, BRIGHTLOOM_BAD_ARGUMENT,
         "A 16384 x 1 image is past WebP's 16383 pixels a side"},
        {"no output", [&] { return brightloom_image_encode(&good, BRIGHTLOOM_FORMAT_PNG, 0, nullptr, &size); },
         BRIGHTLOOM_BAD_ARGUMENT, "No place for the encoded bytes"},
        {"save without path", [&] { return brightloom_image_save(&good, nullptr); }, BRIGHTLOOM_BAD_ARGUMENT,
         "No output path"},
        {"save past a side", [&] { return brightloom_image_save(&wide, too_wide.c_str()); },
         BRIGHTLOOM_BAD_ARGUMENT, "A 16384 x 1 image is past WebP's 16383 pixels a side"},
        {"unwritable", [&] { return brightloom_image_save(&good, unwritable.c_str()); }, BRIGHTLOOM_CANNOT_WRITE,
         "Failed to save output: " + unwritable},
    };
    expect_calls(cases);
    EXPECT_FALSE(bl_test::file_exists(too_wide)) << "a refused save writes nothing";
}

TEST(ImageMemory, ReleaseClearsTheImageAndIgnoresNothing) {
    image_ptr picture = bl_test::patterned(3, 2, 3);
    held_bytes png;
    const brightloom_image source = caller_view(picture.get());
    ASSERT_EQ(brightloom_image_encode(&source, BRIGHTLOOM_FORMAT_PNG, 0, &png.data, &png.size), BRIGHTLOOM_OK);
    brightloom_image image = {};
    ASSERT_EQ(brightloom_image_decode(png.data, png.size, &image), BRIGHTLOOM_OK);
    brightloom_image_release(&image);
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(image.height, 0);
    EXPECT_EQ(image.stride, 0);
    EXPECT_EQ(image.pixels, nullptr);
    brightloom_image_release(&image);  // a cleared image
    brightloom_image_release(nullptr);
    brightloom_bytes_release(nullptr);
}
