// Valid files of every PNG colour type and bit depth (interlaced too), BMP
// layout and GIF arrangement give the pixels the generator wrote, and the
// pixels the previous decoder gave; JPEG photos stay within a tolerance of it.
#include <dirent.h>
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_images.h"
#include "image/image_corpus.h"
#include "image/image_io.h"
#include "image/stb_reference.h"
#include "support/testutil.h"

using bl_test::image_ptr;

namespace {

struct corpus_case {
    std::string image;
    std::string name;
    bl_test::rgb_pixels expected;
};

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::vector<corpus_case> corpus() {
    std::vector<corpus_case> cases;
    const std::string dir = BL_TEST_IMAGE_CORPUS_DIR;
    for (const std::string& path : bl_test::corpus_image_paths()) {
        const std::string image = path.substr(dir.size() + 1);
        corpus_case c;
        c.name = image.substr(0, image.rfind('.'));
        c.image = path;
        const std::vector<uint8_t> raw = bl_test::read_file(dir + "/" + c.name + ".rgb");
        if (raw.size() < 8) continue;
        c.expected.width = static_cast<int>(le32(raw, 0));
        c.expected.height = static_cast<int>(le32(raw, 4));
        c.expected.rgb.assign(raw.begin() + 8, raw.end());
        cases.push_back(c);
    }
    return cases;
}

// Where two pictures first differ, for the failure message.
std::string first_difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i])
            return "sample " + std::to_string(i) + ": " + std::to_string(a[i]) + " vs " +
                   std::to_string(b[i]);
    return "sizes " + std::to_string(a.size()) + " vs " + std::to_string(b.size());
}

}  // namespace

TEST(ImageCorpus, ValidFilesGiveTheWrittenPixels) {
    const std::vector<corpus_case> cases = corpus();
    ASSERT_GT(cases.size(), 150u) << "corpus missing from " << BL_TEST_IMAGE_CORPUS_DIR;
    for (const corpus_case& c : cases) {
        image_ptr loaded(bl_image_load(c.image.c_str()));
        EXPECT_TRUE(loaded) << c.name;
        if (!loaded) continue;
        ASSERT_EQ(loaded->channels, 3) << c.name;
        ASSERT_EQ(loaded->width, c.expected.width) << c.name;
        ASSERT_EQ(loaded->height, c.expected.height) << c.name;
        const std::vector<uint8_t> got(loaded->data, loaded->data + c.expected.rgb.size());
        EXPECT_TRUE(got == c.expected.rgb) << c.name << ": " << first_difference(got, c.expected.rgb);
    }
}

TEST(ImageCorpus, ThePreviousDecoderGaveTheSamePixels) {
    for (const corpus_case& c : corpus()) {
        // The previous decoder counted the palette of an old-style (12-byte
        // header) BMP four entries short and drew those pixels from
        // uninitialised memory: no "before" to keep there.
        if (c.name.find("_core_") != std::string::npos) continue;
        const bl_test::rgb_pixels before = bl_test::previous_decoder_rgb(c.image);
        ASSERT_EQ(before.width, c.expected.width) << c.name;
        ASSERT_EQ(before.height, c.expected.height) << c.name;
        EXPECT_TRUE(before.rgb == c.expected.rgb)
            << c.name << ": " << first_difference(before.rgb, c.expected.rgb);
    }
}

// libjpeg-turbo's inverse DCT and upsampling round differently from the
// previous decoder's: on the shared photos no sample moves by more than
// JPEG_TOLERANCE levels (3 seen), and the mean stays far under one level
// (0.075 at most seen).
TEST(ImageCorpus, JpegPhotosStayCloseToThePreviousDecoder) {
    BL_REQUIRE_ASSETS();
    const int JPEG_TOLERANCE = 4;
    const double JPEG_MEAN_LIMIT = 0.25;
    const std::string dir = bl_test::assets_dir() + "/images";
    DIR* listing = opendir(dir.c_str());
    ASSERT_NE(listing, nullptr);
    int photos = 0;
    while (dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() < 5 || name.compare(name.size() - 4, 4, ".jpg") != 0) continue;
        const std::string path = dir + "/" + name;
        image_ptr now(bl_image_load(path.c_str()));
        const bl_test::rgb_pixels before = bl_test::previous_decoder_rgb(path);
        ASSERT_TRUE(now) << name;
        ASSERT_EQ(now->width, before.width) << name;
        ASSERT_EQ(now->height, before.height) << name;
        double total = 0;
        int largest = 0;
        for (size_t i = 0; i < before.rgb.size(); ++i) {
            const int d = abs(static_cast<int>(now->data[i]) - before.rgb[i]);
            total += d;
            largest = std::max(largest, d);
        }
        EXPECT_LE(largest, JPEG_TOLERANCE) << name;
        EXPECT_LT(total / before.rgb.size(), JPEG_MEAN_LIMIT) << name;
        ++photos;
    }
    closedir(listing);
    EXPECT_GT(photos, 5);
}
