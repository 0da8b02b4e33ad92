// face_swap and face_blend from file to file: the failure table, the faces
// used and swapped, the output format and the progress line. The stand-in
// detector finds bright squares on a dark ground; the stand-in recognizer
// derives the embedding from a face's colour.
#include <string>
#include <vector>

#include "brightloom.h"
#include "legacy/legacy_state_testing.h"
#include "face/face_swap.h"
#include "image/image_io.h"
#include "support/test_images.h"
#include "support/testutil.h"

using bl_test::ModelDir;
using bl_test::StderrCapture;
using bl_test::TempDir;

namespace {

using bl_test::NOT_INITIALIZED;

struct square {
    int cx, cy;
    uint8_t r, g, b;
};

// 640 x 640, dark grey, with 64 x 64 squares centred on (cx, cy).
void write_faces(const std::string& path, const std::vector<square>& squares) {
    bl_test::write_image(path, 640, 640, [&](int x, int y, uint8_t rgb[3]) {
        rgb[0] = rgb[1] = rgb[2] = 30;
        for (const square& s : squares)
            if (x >= s.cx - 32 && x < s.cx + 32 && y >= s.cy - 32 && y < s.cy + 32) {
                rgb[0] = s.r;
                rgb[1] = s.g;
                rgb[2] = s.b;
            }
    });
}

struct loaded_image {
    bl_test::image_ptr image;
    explicit loaded_image(const std::string& path) : image(bl_image_load(path.c_str())) {}
    const uint8_t* at(int x, int y) const { return bl_test::pixel_at(image.get(), x, y); }
};

bool same_pixel(const uint8_t* a, const uint8_t* b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

bool same_file(const std::string& a, const std::string& b) {
    return bl_test::read_file(a) == bl_test::read_file(b);
}

class FaceSwap : public ::testing::Test {
protected:
    ModelDir models;
    TempDir files;
    std::string source = files.file("source.png");
    std::string target = files.file("target.png");
    std::string output = files.file("out.png");

    void SetUp() override {
        // Without the occluder and parser the paste mask is the box mask.
        models.add_all_slots()
            .remove("face_occluder.onnx")
            .remove("face_parser.onnx")
            .add("detect/scrfd_2.5g.onnx")
            .add("detect/2dfan4.onnx")
            .add("detect/arcface_w600k_r50.onnx")
            .add("swap/uniface.onnx", "uniface_256.onnx");
        write_faces(source, {{320, 320, 255, 255, 255}});
        write_faces(target, {{160, 160, 255, 40, 40}, {480, 160, 40, 40, 255},
                             {320, 480, 255, 255, 40}});
    }
    void TearDown() override {
        brightloom_shutdown();
        brightloom_set_mask_blur(0.3f);
        brightloom_set_swapper("uniface_256");
    }
    void init() {
        StderrCapture quiet;
        ASSERT_EQ(brightloom_init(models.path().c_str()), 0) << brightloom_get_error();
    }
    int32_t run(const std::string& out) {
        return face_swap(source.c_str(), target.c_str(), out.c_str());
    }
};

}  // namespace

// ------------------------------------------------------------ failure table

TEST_F(FaceSwap, RefusesBeforeInitializationAndAfterShutdown) {
    EXPECT_EQ(run(output), -1);
    EXPECT_STREQ(brightloom_get_error(), NOT_INITIALIZED);
    init();
    brightloom_shutdown();
    EXPECT_EQ(run(output), -1);
    EXPECT_STREQ(brightloom_get_error(), NOT_INITIALIZED);
    EXPECT_FALSE(bl_test::file_exists(output));
}

TEST_F(FaceSwap, RefusesAfterALiteInitialization) {
    {
        StderrCapture quiet;
        ASSERT_EQ(brightloom_init_lite(models.path().c_str(), 0), 0);
    }
    EXPECT_EQ(run(output), -1);
    EXPECT_STREQ(brightloom_get_error(), bl_test::SWAP_NOT_AVAILABLE);
}

TEST_F(FaceSwap, ReportsTheFileOrImageThatFailed) {
    init();
    std::string missing = files.file("missing.png");
    std::string faceless = files.file("faceless.png");
    write_faces(faceless, {});

    EXPECT_EQ(face_swap(missing.c_str(), target.c_str(), output.c_str()), -1);
    EXPECT_EQ(brightloom_get_error(), "Failed to load source image: " + missing);
    // Both files load before any detection: the target is reported even
    // though the source has no face.
    EXPECT_EQ(face_swap(faceless.c_str(), missing.c_str(), output.c_str()), -1);
    EXPECT_EQ(brightloom_get_error(), "Failed to load target image: " + missing);
    EXPECT_EQ(face_swap(faceless.c_str(), target.c_str(), output.c_str()), -1);
    EXPECT_STREQ(brightloom_get_error(), "No face detected in source image");
    EXPECT_EQ(face_swap(source.c_str(), faceless.c_str(), output.c_str()), -1);
    EXPECT_STREQ(brightloom_get_error(), "No face detected in target image");
    EXPECT_FALSE(bl_test::file_exists(output));
}

TEST_F(FaceSwap, UnwritableOutputFailsAfterTheProgressLine) {
    init();
    std::string bad = files.file("no_such_dir/out.png");
    StderrCapture err;
    EXPECT_EQ(run(bad), -1);
    EXPECT_EQ(brightloom_get_error(), "Failed to save output: " + bad);
    EXPECT_NE(err.text().find("[brightloom] face_swap: "), std::string::npos);
}

// ----------------------------------------------------------------- swapping

TEST_F(FaceSwap, SwapsEveryTargetFaceAndCountsThem) {
    init();
    StderrCapture err;
    ASSERT_EQ(run(output), 0) << brightloom_get_error();
    EXPECT_EQ(err.text(), "[brightloom] face_swap: " + source + " + " + target + " → " + output +
                              " (3 faces)\n");
    loaded_image before(target), after(output);
    ASSERT_NE(after.image, nullptr);
    for (auto [x, y] : {std::pair{160, 160}, {480, 160}, {320, 480}})
        EXPECT_FALSE(same_pixel(before.at(x, y), after.at(x, y))) << x << "," << y;
    // Far from every face nothing changes.
    EXPECT_TRUE(same_pixel(before.at(20, 620), after.at(20, 620)));
}

TEST_F(FaceSwap, TakesTheBestScoringSourceFace) {
    init();
    // A dimmer second face in the source changes nothing; that face alone
    // gives another result.
    ASSERT_EQ(run(output), 0);
    write_faces(source, {{160, 480, 200, 150, 150}, {480, 160, 255, 255, 255}});
    std::string with_second = files.file("with_second.png");
    ASSERT_EQ(run(with_second), 0);
    EXPECT_TRUE(same_file(output, with_second));
    write_faces(source, {{160, 480, 200, 150, 150}});
    std::string dim_only = files.file("dim_only.png");
    ASSERT_EQ(run(dim_only), 0);
    EXPECT_FALSE(same_file(output, dim_only));
}

TEST_F(FaceSwap, AFaceTheSwapperFailsOnStaysAsItWas) {
    // This swapper's run fails on a mostly green face.
    models.add("swap/uniface_fails_on_green.onnx", "uniface_256.onnx");
    write_faces(target, {{160, 160, 255, 40, 40}, {480, 480, 40, 255, 40}});
    init();
    StderrCapture err;
    ASSERT_EQ(run(output), 0) << brightloom_get_error();
    std::string text = err.text();
    EXPECT_EQ(bl_test::count_of(text, "[face_swap] Run failed: "), 1) << text;
    EXPECT_NE(text.find("(2 faces)\n"), std::string::npos) << text;
    loaded_image before(target), after(output);
    EXPECT_FALSE(same_pixel(before.at(160, 160), after.at(160, 160)));
    for (int y = 440; y < 520; ++y)
        for (int x = 440; x < 520; ++x)
            ASSERT_TRUE(same_pixel(before.at(x, y), after.at(x, y))) << x << "," << y;
}

TEST_F(FaceSwap, OutputFormatFollowsTheExtension) {
    init();
    const std::pair<const char*, std::vector<uint8_t>> cases[] = {
        {"out.jpg", {0xFF, 0xD8}}, {"out.BMP", {'B', 'M'}}, {"out", {0x89, 'P', 'N', 'G'}}};
    for (const auto& [name, magic] : cases) {
        SCOPED_TRACE(name);
        ASSERT_EQ(run(files.file(name)), 0);
        std::vector<uint8_t> bytes = bl_test::read_file(files.file(name));
        ASSERT_GE(bytes.size(), magic.size());
        EXPECT_TRUE(std::equal(magic.begin(), magic.end(), bytes.begin()));
    }
}

// -------------------------------------------------------------------- blend

TEST_F(FaceSwap, BlendSwapsWithBlurOneHalfAndRestoresTheSetting) {
    init();
    brightloom_set_mask_blur(0.5f);
    ASSERT_EQ(run(output), 0);
    brightloom_set_mask_blur(0.2f);
    std::string blended = files.file("blended.png");
    ASSERT_EQ(face_blend(source.c_str(), target.c_str(), blended.c_str()), 0);
    EXPECT_TRUE(same_file(output, blended));
    EXPECT_EQ(bl_get_mask_blur(), 0.2f);

    std::string missing = files.file("missing.png");
    EXPECT_EQ(face_blend(missing.c_str(), target.c_str(), blended.c_str()), -1);
    EXPECT_EQ(bl_get_mask_blur(), 0.2f);
}
