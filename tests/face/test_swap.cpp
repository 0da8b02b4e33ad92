// The swapper of the four families: which crop and which source input reach
// the model, how its output becomes the pasted face, and which masks narrow
// the paste.
#include <stdlib.h>

#include <string>
#include <vector>

#include "face/test_swap_support.h"
#include "image/image_math.h"

using swap_test::face_at;
using swap_test::image_ptr;
using swap_test::make_image;
using swap_test::max_difference;
using swap_test::same_pixels;

namespace {

const int32_t NO_PADDING[4] = {0, 0, 0, 0};

struct floats_release {
    void operator()(float* values) const { free(values); }
};
using floats_ptr = std::unique_ptr<float, floats_release>;

// A target with detail everywhere, so that a crop taken with the wrong
// template or size pastes back a visibly different footprint.
image_ptr textured_target() {
    return make_image(320, 300, [](int x, int y, uint8_t rgb[3]) {
        rgb[0] = static_cast<uint8_t>(x * 3 + y);
        rgb[1] = static_cast<uint8_t>(y * 2);
        rgb[2] = static_cast<uint8_t>((x ^ y) & 0xff);
    });
}

// A dark image with a bright patch where the source face sits: how much of
// the patch a crop holds depends on the template and the face.
image_ptr patched_source() {
    return make_image(300, 300, [](int x, int y, uint8_t rgb[3]) {
        bool inside = x >= 110 && x < 190 && y >= 100 && y < 200;
        rgb[0] = inside ? 220 : 20;
        rgb[1] = inside ? 180 : 40;
        rgb[2] = inside ? 140 : 60;
    });
}

bl_face target_face() { return face_at(90.0f, 70.0f, 150.0f); }

bl_face source_face() {
    bl_face face = face_at(100.0f, 90.0f, 100.0f);
    for (int i = 0; i < 512; ++i) {
        face.embedding[i] = 0.2f;
        face.normed_embedding[i] = 0.6f;
    }
    return face;
}

enum source_kind { CROP, RAW_EMBEDDING, NORMED_EMBEDDING };

struct family_case {
    const char* type;
    const char* model;
    int size;
    const float* target_template;
    source_kind source;
    int source_size;
    const float* source_template;
};

float mean_of(const float* values, size_t count) {
    double sum = 0.0;
    for (size_t i = 0; i < count; ++i) sum += values[i];
    return static_cast<float>(sum / static_cast<double>(count));
}

// What the contract swappers put in: the mean of the source input the
// family is meant to use.
float expected_source_mean(const family_case& c, const bl_face& face, const bl_image* source) {
    if (c.source == RAW_EMBEDDING) return mean_of(face.embedding, 512);
    if (c.source == NORMED_EMBEDDING) return mean_of(face.normed_embedding, 512);
    image_ptr crop(bl_warp_face_by_landmarks(source, face.landmark5_align, c.source_template,
                                             c.source_size, c.source_size, nullptr));
    floats_ptr planes(bl_image_to_chw(crop.get(), 1, nullptr, nullptr));
    return mean_of(planes.get(), static_cast<size_t>(3) * c.source_size * c.source_size);
}

// The image the swap should return: the target crop of the family's size
// and template, turned by the contract swapper's formula, pasted through the
// box mask.
image_ptr expected_swap(const family_case& c, const bl_image* target, const bl_face& face,
                        float source_mean, float blur) {
    float matrix[6];
    image_ptr crop(bl_warp_face_by_landmarks(target, face.landmark5_align, c.target_template,
                                             c.size, c.size, matrix));
    image_ptr generated(bl_image_create(c.size, c.size, 3));
    size_t n = static_cast<size_t>(c.size) * c.size * 3;
    for (size_t i = 0; i < n; ++i) {
        float t = crop->data[i] / 255.0f;
        float v = 255.0f * ((1.0f - t) * 0.5f + source_mean * 0.5f);
        generated->data[i] = static_cast<uint8_t>(static_cast<int>((v < 255.0f ? v : 255.0f) + 0.5f));
    }
    std::vector<float> mask(static_cast<size_t>(c.size) * c.size);
    bl_create_box_mask(c.size, c.size, blur, NO_PADDING, mask.data());
    return image_ptr(bl_paste_back(target, generated.get(), mask.data(), matrix));
}

const family_case FAMILIES[] = {
    {"uniface", "uniface.onnx", 256, WARP_TEMPLATE_FFHQ_512, CROP, 256, WARP_TEMPLATE_FFHQ_512},
    {"uniface", "uniface_source_first.onnx", 256, WARP_TEMPLATE_FFHQ_512, CROP, 256,
     WARP_TEMPLATE_FFHQ_512},
    {"blendswap", "blendswap.onnx", 256, WARP_TEMPLATE_FFHQ_512, CROP, 112,
     WARP_TEMPLATE_ARCFACE_112_V2},
    {"inswapper", "inswapper.onnx", 128, WARP_TEMPLATE_ARCFACE_128_V2, RAW_EMBEDDING, 0, nullptr},
    {"simswap", "simswap.onnx", 256, WARP_TEMPLATE_ARCFACE_112_V2, NORMED_EMBEDDING, 0, nullptr},
};

class Swap : public swap_test::SwapSlots {
protected:
    image_ptr target = textured_target();
    image_ptr source = patched_source();
    bl_face target_face_ = target_face();
    bl_face source_face_ = source_face();

    image_ptr swap(float blur = 0.3f) {
        return image_ptr(bl_swap_face(&swapper, masks(), &source_face_, &target_face_,
                                      target.get(), source.get(), blur, NO_PADDING));
    }
};

}  // namespace

TEST_F(Swap, WithoutASwapperGivesNoneAndKeepsTheTarget) {
    image_ptr before(bl_image_clone(target.get()));
    EXPECT_EQ(swap(), nullptr);
    EXPECT_TRUE(same_pixels(before.get(), target.get()));
}

TEST_F(Swap, EachFamilyFeedsItsCropAndItsSourceInput) {
    // Crop size and template, the target normalisation, the source input
    // (crop of which size and template, or which embedding) and inputs bound
    // by name in either order: any of them wrong changes the image.
    for (const family_case& c : FAMILIES) {
        SCOPED_TRACE(std::string(c.type) + " " + c.model);
        open_swapper(c.model, c.type);
        image_ptr before(bl_image_clone(target.get()));
        image_ptr result = swap();
        ASSERT_NE(result, nullptr);
        EXPECT_TRUE(same_pixels(before.get(), target.get())) << "the target was modified";
        image_ptr expected = expected_swap(c, target.get(), target_face_,
                                           expected_source_mean(c, source_face_, source.get()), 0.3f);
        EXPECT_LE(max_difference(result.get(), expected.get()), 1);
        EXPECT_GT(max_difference(result.get(), target.get()), 100) << "nothing was swapped";
    }
}

TEST_F(Swap, CropFamiliesNeedTheSourceImageEmbeddingFamiliesIgnoreIt) {
    for (const family_case& c : FAMILIES) {
        SCOPED_TRACE(c.model);
        open_swapper(c.model, c.type);
        image_ptr result(bl_swap_face(&swapper, masks(), &source_face_, &target_face_,
                                      target.get(), nullptr, 0.3f, NO_PADDING));
        EXPECT_EQ(result != nullptr, c.source != CROP);
    }
}

TEST_F(Swap, ModelWithOtherInputNamesFailsWithTheRunMessage) {
    open_swapper("other_names.onnx", "uniface");
    bl_test::StderrCapture err;
    EXPECT_EQ(swap(), nullptr);
    std::string text = err.text();
    EXPECT_NE(text.find("[face_swap] Run failed: "), std::string::npos) << text;
}

TEST_F(Swap, GeneratedValuesAreScaledClampedAndRounded) {
    // 1.2 -> 255, -0.1 -> 0, 0.5 -> 128; blur 0 pastes the centre unblended.
    open_swapper("constant_swapper.onnx", "uniface");
    image_ptr result = swap(0.0f);
    ASSERT_NE(result, nullptr);
    const uint8_t* centre = result->data + (145 * result->width + 165) * 3;
    EXPECT_EQ(centre[0], 255);
    EXPECT_EQ(centre[1], 0);
    EXPECT_EQ(centre[2], 128);
}

TEST_F(Swap, OutputShorterThanTheCropFailsTheSwap) {
    open_swapper("short_swapper.onnx", "uniface");
    bl_test::StderrCapture err;
    EXPECT_EQ(swap(), nullptr);
    EXPECT_NE(err.text().find("[face_swap] "), std::string::npos);
}

// ---------------------------------------------------------- mask factors

TEST_F(Swap, OccluderOrParserThatRejectsEverythingPastesNothing) {
    open_swapper("uniface.onnx", "uniface");
    open_occluder("occluder_zeros.onnx");
    image_ptr result = swap();
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(same_pixels(result.get(), target.get()));

    bl_model_close(&occluder);
    for (const char* parser : {"parser_background.onnx", "parser_hair.onnx"}) {
        SCOPED_TRACE(parser);
        open_parser(parser);
        result = swap();
        ASSERT_NE(result, nullptr);
        EXPECT_TRUE(same_pixels(result.get(), target.get()));
    }
}

TEST_F(Swap, FactorsThatKeepEverythingOrFailLeaveTheBoxMask) {
    open_swapper("uniface.onnx", "uniface");
    image_ptr box_only = swap();
    ASSERT_NE(box_only, nullptr);

    open_occluder("occluder_ones.onnx");
    open_parser("parser_face.onnx");
    image_ptr result = swap();
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(same_pixels(result.get(), box_only.get()));

    // An occluder and a parser that fail leave their factor out, and the
    // swap still succeeds.
    open_occluder("occluder_short.onnx");
    open_parser("parser_short.onnx");
    bl_test::StderrCapture err;
    result = swap();
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(same_pixels(result.get(), box_only.get()));
}

TEST_F(Swap, OcclusionJudgesTheTargetFaceAndRegionsTheGeneratedOne) {
    // A red target gives a generated face with little red. The occluder and
    // the parser here both keep only red: the occluder, shown the target
    // face, keeps it; the parser, shown the generated face, rejects it.
    target = make_image(320, 300, [](int x, int y, uint8_t rgb[3]) {
        rgb[0] = 255;
        rgb[1] = static_cast<uint8_t>(x + y);
        rgb[2] = static_cast<uint8_t>(y);
    });
    open_swapper("uniface.onnx", "uniface");
    image_ptr box_only = swap();
    ASSERT_NE(box_only, nullptr);

    open_occluder("occluder_red.onnx");
    image_ptr result = swap();
    ASSERT_NE(result, nullptr);
    EXPECT_GT(max_difference(result.get(), target.get()), 50) << "occluder saw the generated face";

    bl_model_close(&occluder);
    open_parser("parser_mirror.onnx");
    result = swap();
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(same_pixels(result.get(), target.get())) << "parser saw the target face";
}
