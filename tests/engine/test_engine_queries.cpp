// What the library tells hosts about its models and an open engine: the one
// model table, each slot's state (open, absent, refused, not opened) after
// opens of differing folders and params, the model directory into the
// caller's buffer, messages that keep the directory private, and the core
// count an engine uses.
#include <gtest/gtest.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "brightloom.h"
#include "platform/cpu_cores.h"
#include "support/testutil.h"

namespace {

using bl_test::ModelDir;

brightloom_model_row row_at(size_t index) {
    brightloom_model_row row = {};
    row.size = sizeof row;
    EXPECT_EQ(brightloom_model_describe(index, &row), BRIGHTLOOM_OK) << brightloom_last_error();
    return row;
}

std::string file_of(int32_t index) {
    if (index < 0) return "";
    return row_at(static_cast<size_t>(index)).file;
}

TEST(ModelTable, EverySlotHasOneDefaultAndUniqueNamesAndFiles) {
    const size_t count = brightloom_model_count();
    ASSERT_GT(count, 0u);
    std::map<int32_t, int> defaults;
    std::set<std::string> files;
    std::set<std::pair<int32_t, std::string>> names;
    for (size_t i = 0; i < count; ++i) {
        const brightloom_model_row row = row_at(i);
        SCOPED_TRACE(row.name);
        defaults[row.slot] += row.is_default;
        EXPECT_TRUE(files.insert(row.file).second) << "file listed twice";
        EXPECT_TRUE(names.insert({row.slot, row.name}).second) << "name listed twice in its slot";
        EXPECT_EQ(row.upscale_factor != 0, row.slot == BRIGHTLOOM_MODEL_UPSCALER);
    }
    for (int32_t slot = BRIGHTLOOM_MODEL_DETECTOR; slot <= BRIGHTLOOM_MODEL_UPSCALER; ++slot)
        EXPECT_EQ(defaults[slot], 1) << "slot " << slot;

    // The rows the engine's params are documented with.
    const struct {
        brightloom_model_slot slot;
        const char* name;
        const char* family;
        const char* file;
        int is_default;
    } known[] = {
        {BRIGHTLOOM_MODEL_DETECTOR, "scrfd", "scrfd", "scrfd_2.5g.onnx", 1},
        {BRIGHTLOOM_MODEL_DETECTOR, "yunet", "yunet", "yunet_2023mar.onnx", 0},
        {BRIGHTLOOM_MODEL_SWAPPER, "uniface_256", "uniface", "uniface_256.onnx", 1},
        {BRIGHTLOOM_MODEL_SWAPPER, "inswapper_128_fp16", "inswapper", "inswapper_128_fp16.onnx", 0},
        {BRIGHTLOOM_MODEL_ENHANCER, "gfpgan_1.4", "gfpgan", "gfpgan_1.4.onnx", 1},
        {BRIGHTLOOM_MODEL_ENHANCER, "restoreformer_plus_plus", "restoreformer",
         "restoreformer_plus_plus.onnx", 0},
        {BRIGHTLOOM_MODEL_RECOGNIZER, "arcface_w600k_r50", "arcface", "arcface_w600k_r50.onnx", 1},
        {BRIGHTLOOM_MODEL_COLORIZER, "ddcolor", "ddcolor", "ddcolor.onnx", 1},
    };
    for (const auto& k : known) {
        bool found = false;
        for (size_t i = 0; i < count && !found; ++i) {
            const brightloom_model_row row = row_at(i);
            if (row.slot != k.slot || strcmp(row.name, k.name) != 0) continue;
            found = true;
            EXPECT_STREQ(row.family, k.family);
            EXPECT_STREQ(row.file, k.file);
            EXPECT_EQ(row.is_default, k.is_default);
        }
        EXPECT_TRUE(found) << k.name;
    }
}

TEST(ModelTable, RefusesRowsPastTheEndAndUnsizedRows) {
    brightloom_model_row row = {};
    EXPECT_EQ(brightloom_model_describe(0, &row), BRIGHTLOOM_BAD_ARGUMENT);
    EXPECT_EQ(brightloom_model_describe(0, nullptr), BRIGHTLOOM_BAD_ARGUMENT);
    row.size = sizeof row;
    EXPECT_EQ(brightloom_model_describe(brightloom_model_count(), &row), BRIGHTLOOM_BAD_ARGUMENT);
    EXPECT_NE(std::string(brightloom_last_error()).find("No model row"), std::string::npos);
    // A shorter struct gets only the fields it reaches.
    row = {};
    row.size = offsetof(brightloom_model_row, family);
    ASSERT_EQ(brightloom_model_describe(0, &row), BRIGHTLOOM_OK);
    EXPECT_NE(row.name, nullptr);
    EXPECT_EQ(row.family, nullptr);
}

// One slot's expected state and model file after an open.
struct Slot {
    brightloom_model_state state;
    const char* file;
};

struct OpenCase {
    const char* what;
    std::vector<std::pair<std::string, std::string>> models;  // generated file, name in folder
    const char* detector;
    int open_swap;
    Slot detector_slot, recognizer, swapper, enhancer, colorizer, upscale2, upscale4;
};

Slot OPEN(const char* file) { return {BRIGHTLOOM_MODEL_OPEN, file}; }
Slot ABSENT(const char* file) { return {BRIGHTLOOM_MODEL_ABSENT, file}; }
Slot REFUSED(const char* file) { return {BRIGHTLOOM_MODEL_REFUSED, file}; }
Slot NOT_OPENED(const char* file) { return {BRIGHTLOOM_MODEL_NOT_OPENED, file}; }

void expect_slot(const char* name, const brightloom_engine_model& got, const Slot& want) {
    EXPECT_EQ(got.state, want.state) << name;
    EXPECT_EQ(file_of(got.row), want.file) << name;
}

TEST(EngineDescribe, EachSlotSaysWhatTheOpenMadeOfIt) {
    const std::vector<std::pair<std::string, std::string>> swap_set = {
        {"detect/arcface_w600k_r50.onnx", "arcface_w600k_r50.onnx"},
        {"swap/uniface.onnx", "uniface_256.onnx"}};
    const OpenCase cases[] = {
        {"detector, swap and every optional model",
         {{"detect/scrfd_2.5g.onnx", "scrfd_2.5g.onnx"}, swap_set[0], swap_set[1],
          {"frame/enhance_darken.onnx", "gfpgan_1.4.onnx"},
          {"frame/colorize_const.onnx", "ddcolor.onnx"},
          {"frame/upscale_nearest_x2.onnx", "real_esrgan_x2.onnx"}},
         nullptr, 1, OPEN("scrfd_2.5g.onnx"), OPEN("arcface_w600k_r50.onnx"),
         OPEN("uniface_256.onnx"), OPEN("gfpgan_1.4.onnx"), OPEN("ddcolor.onnx"),
         NOT_OPENED("real_esrgan_x2.onnx"), ABSENT("real_esrgan_x4.onnx")},
        {"the chosen detector absent: the one that opened is told",
         {{"slots/yunet_2023mar.onnx", "yunet_2023mar.onnx"}}, "yoloface", 0,
         OPEN("yunet_2023mar.onnx"), ABSENT("arcface_w600k_r50.onnx"), ABSENT("uniface_256.onnx"),
         ABSENT("gfpgan_1.4.onnx"), ABSENT("ddcolor.onnx"), ABSENT("real_esrgan_x2.onnx"),
         ABSENT("real_esrgan_x4.onnx")},
        {"opened without swap: the swap files there are not opened",
         {{"detect/scrfd_2.5g.onnx", "scrfd_2.5g.onnx"}, swap_set[0]}, nullptr, 0,
         OPEN("scrfd_2.5g.onnx"), NOT_OPENED("arcface_w600k_r50.onnx"), ABSENT("uniface_256.onnx"),
         ABSENT("gfpgan_1.4.onnx"), ABSENT("ddcolor.onnx"), ABSENT("real_esrgan_x2.onnx"),
         ABSENT("real_esrgan_x4.onnx")},
        {"files that are there but refused",
         {{"detect/scrfd_2.5g.onnx", "scrfd_2.5g.onnx"}, {"broken/not_onnx.onnx", "ddcolor.onnx"},
          {"broken/not_onnx.onnx", "gfpgan_1.2.onnx"},
          {"broken/not_onnx.onnx", "real_esrgan_x4.onnx"}},
         nullptr, 0, OPEN("scrfd_2.5g.onnx"), ABSENT("arcface_w600k_r50.onnx"),
         ABSENT("uniface_256.onnx"), ABSENT("gfpgan_1.4.onnx"), REFUSED("ddcolor.onnx"),
         ABSENT("real_esrgan_x2.onnx"), NOT_OPENED("real_esrgan_x4.onnx")},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.what);
        ModelDir dir;
        for (const auto& model : c.models) dir.add(model.first, model.second);
        brightloom_engine_params params = brightloom_engine_default_params();
        params.detector = c.detector;
        params.open_swap = c.open_swap;
        brightloom_engine* engine = nullptr;
        ASSERT_EQ(brightloom_engine_open(dir.path().c_str(), &params, &engine), BRIGHTLOOM_OK)
            << brightloom_last_error();
        brightloom_engine_info info = {};
        info.size = sizeof info;
        ASSERT_EQ(brightloom_engine_describe(engine, &info), BRIGHTLOOM_OK);
        expect_slot("detector", info.detector, c.detector_slot);
        expect_slot("recognizer", info.recognizer, c.recognizer);
        expect_slot("swapper", info.swapper, c.swapper);
        expect_slot("enhancer", info.enhancer, c.enhancer);
        expect_slot("colorizer", info.colorizer, c.colorizer);
        expect_slot("upscaler x2", info.upscalers[0], c.upscale2);
        expect_slot("upscaler x4", info.upscalers[1], c.upscale4);
        brightloom_engine_close(engine);
    }
}

// An upscaler's state follows its first use: open, or refused.
TEST(EngineDescribe, UpscalersFollowTheirFirstUse) {
    ModelDir dir;
    dir.add("detect/scrfd_2.5g.onnx")
        .add("frame/upscale_nearest_x2.onnx", "real_esrgan_x2.onnx")
        .add("broken/not_onnx.onnx", "real_esrgan_x4.onnx");
    brightloom_engine_params params = brightloom_engine_default_params();
    params.open_swap = 0;
    brightloom_engine* engine = nullptr;
    ASSERT_EQ(brightloom_engine_open(dir.path().c_str(), &params, &engine), BRIGHTLOOM_OK);
    uint8_t pixels[8 * 8 * 3] = {};
    const brightloom_image image = {8, 8, 24, pixels};
    const struct {
        int factor;
        brightloom_status status;
        brightloom_model_state state;
    } uses[] = {{2, BRIGHTLOOM_OK, BRIGHTLOOM_MODEL_OPEN},
                {4, BRIGHTLOOM_MODEL_FAILED, BRIGHTLOOM_MODEL_REFUSED}};
    for (const auto& use : uses) {
        brightloom_options options = brightloom_default_options();
        options.upscale_factor = use.factor;
        brightloom_image result = {};
        EXPECT_EQ(brightloom_upscale_image(engine, &image, &options, &result), use.status);
        brightloom_image_release(&result);
        brightloom_engine_info info = {};
        info.size = sizeof info;
        ASSERT_EQ(brightloom_engine_describe(engine, &info), BRIGHTLOOM_OK);
        EXPECT_EQ(info.upscalers[use.factor == 4 ? 1 : 0].state, use.state) << use.factor;
    }
    brightloom_engine_info unsized = {};
    EXPECT_EQ(brightloom_engine_describe(engine, &unsized), BRIGHTLOOM_BAD_ARGUMENT);
    EXPECT_EQ(brightloom_engine_describe(nullptr, &unsized), BRIGHTLOOM_BAD_ARGUMENT);
    brightloom_engine_close(engine);
}

TEST(EngineModelDir, FillsTheCallersBufferAsFarAsItHolds) {
    ModelDir dir;
    dir.add("detect/scrfd_2.5g.onnx");
    brightloom_engine_params params = brightloom_engine_default_params();
    params.open_swap = 0;
    brightloom_engine* engine = nullptr;
    ASSERT_EQ(brightloom_engine_open(dir.path().c_str(), &params, &engine), BRIGHTLOOM_OK);
    const std::string whole = dir.path();
    const struct {
        size_t capacity;
        std::string written;
    } cases[] = {{0, "(untouched)"},
                 {1, ""},
                 {4, whole.substr(0, 3)},
                 {whole.size(), whole.substr(0, whole.size() - 1)},
                 {whole.size() + 1, whole},
                 {whole.size() + 50, whole}};
    for (const auto& c : cases) {
        std::vector<char> buffer(c.capacity + 1, 'x');
        buffer[c.capacity] = 0;
        const std::string untouched(buffer.data());
        size_t length = 0;
        ASSERT_EQ(brightloom_engine_model_dir(engine, c.capacity ? buffer.data() : nullptr,
                                              c.capacity, &length),
                  BRIGHTLOOM_OK);
        EXPECT_EQ(length, whole.size());
        EXPECT_EQ(std::string(buffer.data()), c.capacity ? c.written : untouched) << c.capacity;
    }
    size_t length = 0;
    char one = 0;
    EXPECT_EQ(brightloom_engine_model_dir(engine, nullptr, 5, &length), BRIGHTLOOM_BAD_ARGUMENT);
    EXPECT_EQ(brightloom_engine_model_dir(engine, &one, 1, nullptr), BRIGHTLOOM_BAD_ARGUMENT);
    EXPECT_EQ(brightloom_engine_model_dir(nullptr, &one, 1, &length), BRIGHTLOOM_BAD_ARGUMENT);
    brightloom_engine_close(engine);
}

// With private_model_dir the messages a server passes on name files only.
TEST(PrivateModelDir, MessagesNameFilesWithoutTheirFolder) {
    ModelDir dir;
    dir.add("detect/scrfd_2.5g.onnx").add("broken/not_onnx.onnx", "real_esrgan_x4.onnx");
    const struct {
        const char* what;
        int private_dir;
        std::string shown;  // how the folder appears in the messages
    } cases[] = {{"private", 1, ""}, {"plain", 0, dir.path() + "/"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        brightloom_engine_params params = brightloom_engine_default_params();
        params.private_model_dir = c.private_dir;
        brightloom_engine* engine = nullptr;
        // Swap asked for, the recognizer absent: the open fails naming it.
        ASSERT_EQ(brightloom_engine_open(dir.path().c_str(), &params, &engine),
                  BRIGHTLOOM_MODEL_MISSING);
        EXPECT_EQ(std::string(brightloom_last_error()),
                  "Failed to load face recognizer: " + c.shown + "arcface_w600k_r50.onnx");
        params.open_swap = 0;
        ASSERT_EQ(brightloom_engine_open(dir.path().c_str(), &params, &engine), BRIGHTLOOM_OK);
        uint8_t pixels[8 * 8 * 3] = {};
        const brightloom_image image = {8, 8, 24, pixels};
        brightloom_options options = brightloom_default_options();
        brightloom_image result = {};
        const std::string folder = c.private_dir ? "the model directory" : dir.path();
        const struct {
            int factor;
            brightloom_status status;
            std::string message;
        } ops[] = {
            {0, BRIGHTLOOM_MODEL_MISSING, "Colorization failed: no colorizer (ddcolor.onnx) in " + folder},
            {4, BRIGHTLOOM_MODEL_FAILED, "Failed to load frame enhancer: " + c.shown + "real_esrgan_x4.onnx"},
            {2, BRIGHTLOOM_MODEL_MISSING, "Failed to load frame enhancer: " + c.shown + "real_esrgan_x2.onnx"},
        };
        for (const auto& op : ops) {
            options.upscale_factor = op.factor;
            const brightloom_status status =
                op.factor ? brightloom_upscale_image(engine, &image, &options, &result)
                          : brightloom_colorize_image(engine, &image, &options, &result);
            EXPECT_EQ(status, op.status);
            EXPECT_EQ(std::string(brightloom_last_error()), op.message);
        }
        brightloom_engine_close(engine);
    }
    ModelDir empty;
    brightloom_engine_params params = brightloom_engine_default_params();
    params.private_model_dir = 1;
    brightloom_engine* engine = nullptr;
    ASSERT_EQ(brightloom_engine_open(empty.path().c_str(), &params, &engine), BRIGHTLOOM_MODEL_MISSING);
    EXPECT_EQ(std::string(brightloom_last_error()),
              "No face detector model found in the model directory (tried scrfd_2.5g.onnx, "
              "yoloface_8n.onnx, yunet_2023mar.onnx)");
}

TEST(CpuCores, TheLibrarysCountIsTheOneEnginesUse) {
    EXPECT_GE(brightloom_cpu_cores(), 1);
    EXPECT_EQ(brightloom_cpu_cores(), bl_cpu_cores_for_process());
}

}  // namespace
