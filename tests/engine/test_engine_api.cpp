// The engine interface: the status (and message) of each bad argument and
// failed step, per-call options (which target faces a swap takes), the log
// callback, detection without a cap, and the 32 functions giving the very
// pixels the engine gives.
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "brightloom.h"
#include "inference/model_session.h"
#include "inference/session_tuning_testing.h"
#include "support/engine_fixture.h"
#include "support/test_images.h"
#include "support/testutil.h"

using bl_test::engine_ptr;
using bl_test::image_ptr;
using bl_test::ModelDir;
using bl_test::owned_image;
using bl_test::StderrCapture;

namespace {

struct logged_line {
    brightloom_log_level level;
    std::string text;
};

void collect(void* user_data, brightloom_log_level level, const char* line) {
    static_cast<std::vector<logged_line>*>(user_data)->push_back({level, line});
}

class EngineApi : public ::testing::Test {
protected:
    void SetUp() override { bl_test::add_engine_models(&models); }

    // Opens the engine with its lines collected rather than written.
    void open(brightloom_engine_params params = brightloom_engine_default_params()) {
        params.log = collect;
        params.log_user_data = &lines;
        brightloom_engine* opened = nullptr;
        ASSERT_EQ(brightloom_engine_open(models.path().c_str(), &params, &opened), BRIGHTLOOM_OK)
            << brightloom_last_error();
        engine.reset(opened);
    }

    // Faces of `image` in detection order, with embeddings.
    std::vector<brightloom_face> detect(const bl_image* image) {
        brightloom_options options = brightloom_default_options();
        options.want_embedding = 1;
        const brightloom_image in = bl_test::as_public(image);
        size_t count = 0;
        EXPECT_EQ(brightloom_detect_faces(engine.get(), &in, &options, nullptr, 0, &count),
                  BRIGHTLOOM_OK);
        std::vector<brightloom_face> faces(count);
        EXPECT_EQ(brightloom_detect_faces(engine.get(), &in, &options, faces.data(), count, &count),
                  BRIGHTLOOM_OK);
        return faces;
    }

    // Which faces of `target` differ in `result` (sampled at each box centre).
    std::vector<bool> changed(const std::vector<brightloom_face>& faces, const bl_image* target,
                              const brightloom_image& result) {
        std::vector<bool> out;
        for (const brightloom_face& face : faces) {
            const int x = static_cast<int>((face.box[0] + face.box[2]) / 2);
            const int y = static_cast<int>((face.box[1] + face.box[3]) / 2);
            const uint8_t* before = bl_test::pixel_at(target, x, y);
            const uint8_t* after = result.pixels + static_cast<size_t>(y) * result.stride + 3 * x;
            out.push_back(memcmp(before, after, 3) != 0);
        }
        return out;
    }

    ModelDir models;
    std::vector<logged_line> lines;
    engine_ptr engine;
    image_ptr source = bl_test::squares_image({{320, 320, 255, 255, 255}});
    image_ptr target = bl_test::squares_image(
        {{160, 160, 255, 40, 40}, {480, 160, 40, 40, 255}, {320, 480, 255, 255, 40}});
};

}  // namespace

// ------------------------------------------------------------------ open

TEST_F(EngineApi, OpenStatusesNameTheFailingStep) {
    ModelDir no_recognizer, broken_swapper;
    bl_test::add_engine_models(&no_recognizer);
    no_recognizer.remove("arcface_w600k_r50.onnx");
    bl_test::add_engine_models(&broken_swapper);
    broken_swapper.add("broken/not_onnx.onnx", "uniface_256.onnx");
    brightloom_engine_params zero_size = brightloom_engine_default_params();
    zero_size.size = 0;
    brightloom_engine_params negative = brightloom_engine_default_params();
    negative.intra_threads = -1;
    struct {
        const char* dir;
        const brightloom_engine_params* params;
        brightloom_status status;
        std::string message;  // its start
    } cases[] = {
        {nullptr, nullptr, BRIGHTLOOM_BAD_ARGUMENT, "model_dir is NULL or empty"},
        {"", nullptr, BRIGHTLOOM_BAD_ARGUMENT, "model_dir is NULL or empty"},
        {models.path().c_str(), &zero_size, BRIGHTLOOM_BAD_ARGUMENT, "The engine params' size is 0"},
        {models.path().c_str(), &negative, BRIGHTLOOM_BAD_ARGUMENT, "Negative thread count: -1"},
        {"/nonexistent/models", nullptr, BRIGHTLOOM_MODEL_MISSING,
         "No face detector model found in /nonexistent/models"},
        {no_recognizer.path().c_str(), nullptr, BRIGHTLOOM_MODEL_MISSING,
         "Failed to load face recognizer: " + no_recognizer.file("arcface_w600k_r50.onnx")},
        {broken_swapper.path().c_str(), nullptr, BRIGHTLOOM_MODEL_FAILED,
         "Failed to load face swapper: " + broken_swapper.file("uniface_256.onnx")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        brightloom_engine* opened = reinterpret_cast<brightloom_engine*>(&lines);  // not NULL
        StderrCapture quiet;
        EXPECT_EQ(brightloom_engine_open(c.dir, c.params, &opened), c.status);
        EXPECT_EQ(std::string(brightloom_last_error()).rfind(c.message, 0), 0u)
            << brightloom_last_error();
        EXPECT_EQ(opened, nullptr);
    }
    EXPECT_EQ(brightloom_engine_open(models.path().c_str(), nullptr, nullptr),
              BRIGHTLOOM_BAD_ARGUMENT);
    brightloom_engine_close(nullptr);
}

TEST_F(EngineApi, LinesGoToTheCallbackWithoutTheirNewline) {
    models.remove("face_parser.onnx");
    StderrCapture err;
    open();
    EXPECT_EQ(err.text(), "");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().text, "[face_detect] Detector loaded: " + models.file("scrfd_2.5g.onnx"));
    EXPECT_EQ(lines.front().level, BRIGHTLOOM_LOG_INFO);
    bool warned = false;
    for (const logged_line& line : lines) {
        EXPECT_EQ(line.text.find('\n'), std::string::npos) << line.text;
        if (line.text == "[brightloom] Warning: face_parser not loaded (optional)")
            warned = line.level == BRIGHTLOOM_LOG_WARNING;
    }
    EXPECT_TRUE(warned);
    EXPECT_EQ(lines.back().text,
              "[brightloom] Initialized with model_dir: " + models.path() + " (swap=1)");
}

// --------------------------------------------------------- bad arguments

TEST_F(EngineApi, EveryOperationRefusesBadArgumentsAndClearsItsResult) {
    open();
    const brightloom_image good = bl_test::as_public(target.get());
    brightloom_image no_pixels = good;
    no_pixels.pixels = nullptr;
    brightloom_image short_stride = good;
    short_stride.stride = good.width * 3 - 1;
    brightloom_options zero_size = brightloom_default_options();
    zero_size.size = 0;
    brightloom_options bad_target = brightloom_default_options();
    bad_target.target = 7;
    brightloom_options negative_position = brightloom_default_options();
    negative_position.target = BRIGHTLOOM_TARGET_POSITION;
    negative_position.target_position = -1;
    brightloom_options no_reference = brightloom_default_options();
    no_reference.target = BRIGHTLOOM_TARGET_REFERENCE;
    brightloom_options far_distance = brightloom_default_options();
    far_distance.reference_distance = 1.5f;
    brightloom_options factor_three = brightloom_default_options();
    factor_three.upscale_factor = 3;

    using operation = brightloom_status (*)(brightloom_engine*, const brightloom_image*,
                                            const brightloom_options*, brightloom_image*);
    const operation swap = [](brightloom_engine* e, const brightloom_image* i,
                              const brightloom_options* o, brightloom_image* r) {
        return brightloom_swap_image(e, i, i, o, r);
    };
    const struct {
        const char* name;
        operation run;
    } operations[] = {{"swap", swap},
                      {"enhance", brightloom_enhance_image},
                      {"colorize", brightloom_colorize_image},
                      {"upscale", brightloom_upscale_image}};
    const struct {
        const char* what;
        bool no_engine;
        const brightloom_image* image;
        const brightloom_options* options;
        bool no_result;
    } cases[] = {
        {"no engine", true, &good, nullptr, false},
        {"no image", false, nullptr, nullptr, false},
        {"no pixels", false, &no_pixels, nullptr, false},
        {"short stride", false, &short_stride, nullptr, false},
        {"no result", false, &good, nullptr, true},
        {"options of size 0", false, &good, &zero_size, false},
        {"unknown target", false, &good, &bad_target, false},
        {"negative position", false, &good, &negative_position, false},
        {"no reference", false, &good, &no_reference, false},
        {"distance past 1", false, &good, &far_distance, false},
    };
    for (const auto& op : operations) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(op.name) + ": " + c.what);
            brightloom_image result = {1, 1, 3, reinterpret_cast<uint8_t*>(&lines)};
            EXPECT_EQ(op.run(c.no_engine ? nullptr : engine.get(), c.image, c.options,
                             c.no_result ? nullptr : &result),
                      BRIGHTLOOM_BAD_ARGUMENT);
            EXPECT_NE(brightloom_last_error()[0], '\0');
            if (!c.no_result) {
                EXPECT_EQ(result.pixels, nullptr);
            }
        }
    }
    owned_image result;
    EXPECT_EQ(brightloom_upscale_image(engine.get(), &good, &factor_three, result.out()),
              BRIGHTLOOM_BAD_ARGUMENT);
    EXPECT_STREQ(brightloom_last_error(), "Unsupported upscale factor: 3 (use 2 or 4)");
    size_t count = 7;
    EXPECT_EQ(brightloom_detect_faces(engine.get(), &good, nullptr, nullptr, 1, &count),
              BRIGHTLOOM_BAD_ARGUMENT);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(brightloom_detect_faces(engine.get(), &good, nullptr, nullptr, 0, nullptr),
              BRIGHTLOOM_BAD_ARGUMENT);
}

TEST_F(EngineApi, FailedStepsGiveTheirStatusAndTodaysMessage) {
    models.remove("ddcolor.onnx").remove("real_esrgan_x2.onnx");
    open();
    const brightloom_image in = bl_test::as_public(target.get());
    image_ptr plain = bl_test::squares_image({});
    const brightloom_image empty = bl_test::as_public(plain.get());
    brightloom_options far = brightloom_default_options();
    far.target = BRIGHTLOOM_TARGET_POSITION;
    far.target_position = 5;
    // Upscaled twice, 16384 x 4097 passes the pixel cap: refused before any
    // pixel is read, so a one-pixel buffer stands for the picture.
    uint8_t pixel[3] = {};
    const brightloom_image huge = {16384, 4097, 16384 * 3, pixel};
    const struct {
        const char* what;
        brightloom_status (*run)(brightloom_engine*, const brightloom_image*,
                                 const brightloom_options*, brightloom_image*);
        const brightloom_image* image;
        const brightloom_options* options;
        brightloom_status status;
        std::string message;
    } cases[] = {
        {"swap, no source face",
         [](brightloom_engine* e, const brightloom_image* i, const brightloom_options* o,
            brightloom_image* r) { return brightloom_swap_image(e, i, i, o, r); },
         &empty, nullptr, BRIGHTLOOM_NO_FACE, "No face detected in source image"},
        {"swap, position past the faces",
         [](brightloom_engine* e, const brightloom_image* i, const brightloom_options* o,
            brightloom_image* r) { return brightloom_swap_image(e, i, i, o, r); },
         &in, &far, BRIGHTLOOM_NO_FACE, "No face at position 5 in target image (3 found)"},
        {"enhance, no face", brightloom_enhance_image, &empty, nullptr, BRIGHTLOOM_NO_FACE,
         "No face detected in image"},
        {"colorize, no model", brightloom_colorize_image, &in, nullptr, BRIGHTLOOM_MODEL_MISSING,
         "Colorization failed: no colorizer (ddcolor.onnx) in " + models.path()},
        {"upscale, no model", brightloom_upscale_image, &in, nullptr, BRIGHTLOOM_MODEL_MISSING,
         "Failed to load frame enhancer: " + models.file("real_esrgan_x2.onnx")},
        {"upscale, result too large", brightloom_upscale_image, &huge, nullptr,
         BRIGHTLOOM_TOO_LARGE, "The result of upscaling 16384x4097 by 2 would have more than"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        owned_image result;
        EXPECT_EQ(c.run(engine.get(), c.image, c.options, result.out()), c.status);
        EXPECT_EQ(std::string(brightloom_last_error()).rfind(c.message, 0), 0u)
            << brightloom_last_error();
        EXPECT_EQ(result.image.pixels, nullptr);
    }
}

TEST_F(EngineApi, AnEngineWithoutSwapRefusesSwapsAndEmbeddings) {
    brightloom_engine_params params = brightloom_engine_default_params();
    params.open_swap = 0;
    open(params);
    const brightloom_image in = bl_test::as_public(target.get());
    owned_image result;
    EXPECT_EQ(brightloom_swap_image(engine.get(), &in, &in, nullptr, result.out()),
              BRIGHTLOOM_MODEL_MISSING);
    brightloom_swap_session* session = nullptr;
    EXPECT_EQ(brightloom_swap_session_open(engine.get(), &in, nullptr, nullptr, &session),
              BRIGHTLOOM_MODEL_MISSING);
    brightloom_options embeddings = brightloom_default_options();
    embeddings.want_embedding = 1;
    size_t count = 0;
    EXPECT_EQ(brightloom_detect_faces(engine.get(), &in, &embeddings, nullptr, 0, &count),
              BRIGHTLOOM_MODEL_MISSING);
    EXPECT_EQ(brightloom_detect_faces(engine.get(), &in, nullptr, nullptr, 0, &count),
              BRIGHTLOOM_OK);
    EXPECT_EQ(count, 3u);
}

// ---------------------------------------------------------------- options

TEST_F(EngineApi, TargetOptionsChooseWhichFacesAreSwapped) {
    open();
    const std::vector<brightloom_face> faces = detect(target.get());
    ASSERT_EQ(faces.size(), 3u);
    ASSERT_EQ(faces[2].has_embedding, 1);
    const brightloom_image in_source = bl_test::as_public(source.get());
    const brightloom_image in_target = bl_test::as_public(target.get());

    brightloom_options all = brightloom_default_options();
    brightloom_options second = all;
    second.target = BRIGHTLOOM_TARGET_POSITION;
    second.target_position = 1;
    brightloom_options like_third = all;
    like_third.target = BRIGHTLOOM_TARGET_REFERENCE;
    like_third.reference_embedding = faces[2].embedding;
    like_third.reference_distance = 0.01f;
    const struct {
        const char* what;
        const brightloom_options* options;
        std::vector<bool> changed;
    } cases[] = {
        {"all", &all, {true, true, true}},
        {"position 1", &second, {false, true, false}},
        {"like face 2", &like_third, {false, false, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        owned_image result;
        ASSERT_EQ(brightloom_swap_image(engine.get(), &in_source, &in_target, c.options,
                                        result.out()),
                  BRIGHTLOOM_OK)
            << brightloom_last_error();
        EXPECT_EQ(changed(faces, target.get(), result.image), c.changed);
    }
}

TEST_F(EngineApi, CallerStridesAreReadAsPackedRows) {
    open();
    // The target with four bytes of padding after every row.
    const int row = target->width * 3, stride = row + 4;
    std::vector<uint8_t> padded(static_cast<size_t>(stride) * target->height, 0xAB);
    for (int y = 0; y < target->height; ++y)
        memcpy(&padded[static_cast<size_t>(y) * stride], target->data + static_cast<size_t>(y) * row,
               row);
    const brightloom_image strided = {target->width, target->height, stride, padded.data()};
    const brightloom_image packed = bl_test::as_public(target.get());
    owned_image from_strided, from_packed;
    ASSERT_EQ(brightloom_enhance_image(engine.get(), &strided, nullptr, from_strided.out()),
              BRIGHTLOOM_OK);
    ASSERT_EQ(brightloom_enhance_image(engine.get(), &packed, nullptr, from_packed.out()),
              BRIGHTLOOM_OK);
    EXPECT_EQ(from_strided.image.stride, row);
    EXPECT_EQ(from_strided.bytes(), from_packed.bytes());
}

// ------------------------------------------------------------- detection

// The 32 functions keep 64 faces; the engine keeps every face the
// suppression leaves.
TEST_F(EngineApi, DetectionHasNoCap) {
    // Without the landmarker, which would otherwise run once per face.
    models.add("detect/scrfd_crowd.onnx", "scrfd_2.5g.onnx").remove("2dfan4.onnx");
    brightloom_engine_params params = brightloom_engine_default_params();
    params.open_swap = 0;
    open(params);
    image_ptr dark = bl_test::solid(1280, 960, 3, 10);
    const brightloom_image in = bl_test::as_public(dark.get());
    size_t count = 0;
    brightloom_face first[2];
    ASSERT_EQ(brightloom_detect_faces(engine.get(), &in, nullptr, first, 2, &count), BRIGHTLOOM_OK);
    EXPECT_GT(count, 64u);
    EXPECT_GE(first[0].score, first[1].score);
    EXPECT_EQ(first[0].has_points68, 0);
    EXPECT_EQ(first[0].has_embedding, 0);
}

// ------------------------------------------------------------ swap session

TEST_F(EngineApi, SessionsSwapFramesAndFilterByTheirReference) {
    open();
    const brightloom_image in_source = bl_test::as_public(source.get());
    const brightloom_image in_target = bl_test::as_public(target.get());
    const std::vector<brightloom_face> faces = detect(target.get());
    ASSERT_EQ(faces.size(), 3u);

    brightloom_options options = brightloom_default_options();
    options.reference_position = 4;
    brightloom_swap_session* session = nullptr;
    EXPECT_EQ(brightloom_swap_session_open(engine.get(), &in_source, &in_target, &options, &session),
              BRIGHTLOOM_NO_FACE);
    EXPECT_STREQ(brightloom_last_error(), "No face at position 4 in reference image (3 found)");
    EXPECT_EQ(session, nullptr);

    // The reference picture's face 1 is the target's face 1.
    options.reference_position = 1;
    options.reference_distance = 0.01f;
    ASSERT_EQ(brightloom_swap_session_open(engine.get(), &in_source, &in_target, &options, &session),
              BRIGHTLOOM_OK)
        << brightloom_last_error();
    owned_image frame;
    ASSERT_EQ(brightloom_swap_session_frame(session, &in_target, nullptr, frame.out()),
              BRIGHTLOOM_OK);
    EXPECT_EQ(changed(faces, target.get(), frame.image), (std::vector<bool>{false, true, false}));

    image_ptr plain = bl_test::squares_image({});
    const brightloom_image no_faces = bl_test::as_public(plain.get());
    owned_image copy;
    ASSERT_EQ(brightloom_swap_session_frame(session, &no_faces, nullptr, copy.out()), BRIGHTLOOM_OK);
    EXPECT_EQ(copy.bytes(), std::vector<uint8_t>(plain->data, plain->data + 640 * 640 * 3));
    EXPECT_EQ(brightloom_swap_session_frame(nullptr, &no_faces, nullptr, copy.out()),
              BRIGHTLOOM_BAD_ARGUMENT);
    brightloom_swap_session_close(session);
    brightloom_swap_session_close(nullptr);
}

// ------------------------------------------------- the 32 functions agree

TEST_F(EngineApi, FileFunctionsGiveTheEnginesPixels) {
    open();
    bl_test::TempDir files;
    const std::string source_path = files.file("source.png"), target_path = files.file("target.png");
    ASSERT_EQ(bl_image_save(source.get(), source_path.c_str()), 0);
    ASSERT_EQ(bl_image_save(target.get(), target_path.c_str()), 0);
    {
        StderrCapture quiet;
        ASSERT_EQ(brightloom_init(models.path().c_str()), 0) << brightloom_get_error();
        ASSERT_EQ(face_swap(source_path.c_str(), target_path.c_str(), files.file("swap.png").c_str()), 0);
        ASSERT_EQ(face_enhance(target_path.c_str(), files.file("enhance.png").c_str()), 0);
        brightloom_shutdown();
    }
    const brightloom_image in_source = bl_test::as_public(source.get());
    const brightloom_image in_target = bl_test::as_public(target.get());
    owned_image swapped, enhanced;
    ASSERT_EQ(brightloom_swap_image(engine.get(), &in_source, &in_target, nullptr, swapped.out()),
              BRIGHTLOOM_OK);
    ASSERT_EQ(brightloom_enhance_image(engine.get(), &in_target, nullptr, enhanced.out()),
              BRIGHTLOOM_OK);
    for (const auto& c : {std::make_pair("swap.png", &swapped), std::make_pair("enhance.png", &enhanced)}) {
        SCOPED_TRACE(c.first);
        image_ptr written(bl_image_load(files.file(c.first).c_str()));
        ASSERT_TRUE(written);
        EXPECT_EQ(c.second->bytes(), std::vector<uint8_t>(written->data, written->data + 640 * 640 * 3));
    }
}

// ------------------------------------------------ real models and photos

// Counts and the best face's box and score as listed with the shared
// assets, through the engine (no cap, callers' images).
TEST(EngineRealDetector, AgreesWithTheListedResults) {
    BL_REQUIRE_ASSETS();
    const std::string assets = bl_test::assets_dir();
    const struct {
        const char* model;
        const char* as;
        const char* image;
        size_t lo, hi;     // face count range the listed tolerances allow
        float best[5];     // x1, y1, x2, y2, score; score 0: not listed
    } cases[] = {
        {"scrfd_2.5g_bnkps_640.onnx", "scrfd_2.5g.onnx", "group_solvay_1927_gray_pd.png", 29, 29, {}},
        {"face_detection_yunet_2023mar.onnx", "yunet_2023mar.onnx", "group_solvay_1927_gray_pd.png",
         32, 34, {}},
        {"scrfd_2.5g_bnkps_640.onnx", "scrfd_2.5g.onnx", "noface_coffee_cc0.png", 0, 0, {}},
        {"scrfd_2.5g_bnkps_640.onnx", "scrfd_2.5g.onnx", "single_astronaut_pd.png", 1, 1,
         {180.8f, 55.3f, 270.7f, 178.6f, 0.8209f}},
        {"face_detection_yunet_2023mar.onnx", "yunet_2023mar.onnx", "single_obama_official_pd.jpg",
         1, 1, {378.8f, 71.9f, 607.2f, 422.2f, 0.9450f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.as) + " on " + c.image);
        ModelDir dir;
        std::error_code copied;
        std::filesystem::copy_file(assets + "/models/" + c.model, dir.file(c.as), copied);
        ASSERT_FALSE(copied) << c.model;
        brightloom_engine_params params = brightloom_engine_default_params();
        params.open_swap = 0;
        brightloom_engine* opened = nullptr;
        {
            StderrCapture quiet;
            ASSERT_EQ(brightloom_engine_open(dir.path().c_str(), &params, &opened), BRIGHTLOOM_OK)
                << brightloom_last_error();
        }
        engine_ptr engine(opened);
        image_ptr image(bl_image_load((assets + "/images/" + c.image).c_str()));
        ASSERT_TRUE(image);
        const brightloom_image in = bl_test::as_public(image.get());
        std::vector<brightloom_face> faces(64);
        size_t count = 0;
        ASSERT_EQ(brightloom_detect_faces(engine.get(), &in, nullptr, faces.data(), faces.size(),
                                          &count),
                  BRIGHTLOOM_OK);
        EXPECT_GE(count, c.lo);
        EXPECT_LE(count, c.hi);
        if (c.best[4] == 0.0f || count == 0) continue;
        // About 2 model-input pixels of room, scaled to the photo.
        const float tx = 2.0f * image->width / 640, ty = 2.0f * image->height / 640;
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(faces[0].box[i], c.best[i], i % 2 ? ty : tx) << i;
        EXPECT_NEAR(faces[0].score, c.best[4], 0.01f);
    }
}

// ------------------------------------------------------------ run memory

// Where the runtime keeps a run's tensors must not change a single pixel.
TEST(EngineMemory, EveryMemoryModeGivesTheSamePixels) {
    ModelDir models;
    bl_test::add_engine_models(&models);
    image_ptr source = bl_test::squares_image({{320, 320, 255, 255, 255}});
    image_ptr target = bl_test::squares_image({{160, 160, 255, 40, 40}, {480, 400, 40, 40, 255}});
    const brightloom_image in_source = bl_test::as_public(source.get());
    const brightloom_image in_target = bl_test::as_public(target.get());
    std::vector<std::vector<uint8_t>> results;
    for (int memory : {BL_MEMORY_SESSION_ARENAS, BL_MEMORY_NO_ARENA, BL_MEMORY_SHARED_ARENA,
                       BL_MEMORY_NO_ARENA_NO_PATTERN, BL_MEMORY_SHARED_EXACT_ARENA,
                       BL_MEMORY_SHRUNK_ARENAS, BL_MEMORY_BLOCK_CACHE}) {
        SCOPED_TRACE(memory);
        bl_session_tuning tuning = bl_session_tuning_for(0);
        tuning.memory = memory;
        bl_session_set_tuning_for_testing(&tuning);
        brightloom_engine* opened = nullptr;
        {
            StderrCapture quiet;
            ASSERT_EQ(brightloom_engine_open(models.path().c_str(), nullptr, &opened), BRIGHTLOOM_OK);
        }
        bl_session_set_tuning_for_testing(nullptr);
        engine_ptr engine(opened);
        brightloom_options options = brightloom_default_options();
        options.enhance_after_swap = 1;
        owned_image swapped, colorized;
        ASSERT_EQ(brightloom_swap_image(engine.get(), &in_source, &in_target, &options,
                                        swapped.out()),
                  BRIGHTLOOM_OK);
        ASSERT_EQ(brightloom_colorize_image(engine.get(), &in_target, nullptr, colorized.out()),
                  BRIGHTLOOM_OK);
        std::vector<uint8_t> both = swapped.bytes();
        const std::vector<uint8_t> colour = colorized.bytes();
        both.insert(both.end(), colour.begin(), colour.end());
        results.push_back(both);
        EXPECT_EQ(results.back(), results.front());
    }
}
