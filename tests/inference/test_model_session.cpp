// Model slots: what an open records, what it logs, that closes are safe, and
// the run call pattern (binding by name, short outputs, failed runs).
#include <string.h>

#include <string>

#include "face/face_detect.h"
#include "face/face_enhancer.h"
#include "face/face_landmark.h"
#include "face/face_masks.h"
#include "face/face_recognize.h"
#include "face/face_swap.h"
#include "frame/frame_colorizer.h"
#include "frame/frame_upscaler.h"
#include "inference/model_session.h"
#include "inference/session_tuning_testing.h"
#include "platform/cpu_cores.h"
#include "support/testutil.h"

using bl_test::ModelDir;
using bl_test::StderrCapture;

namespace {

// Every test opens the models it needs in one runtime; they close after it.
class SlotTest : public ::testing::Test {
protected:
    void SetUp() override {
        runtime = bl_test::test_runtime();
        ASSERT_NE(runtime, nullptr) << "inference runtime not found";
        dir.add_all_slots();
    }
    void TearDown() override {
        bl_model_close(&detector.model);
        bl_model_close(&landmarker);
        bl_model_close(&recognizer);
        bl_model_close(&swapper.model);
        bl_model_close(&upscaler.model);
        bl_model_close(&occluder);
        bl_model_close(&parser);
        bl_model_close(&colorizer);
        bl_model_close(&enhancer);
    }
    std::string path(const char* name) const { return dir.file(name); }

    const bl_runtime* runtime = nullptr;
    ModelDir dir;
    bl_detector detector;
    bl_model landmarker, recognizer, occluder, parser, colorizer, enhancer;
    bl_swapper swapper;
    bl_upscaler upscaler;
};

const bl_run_lines RUN_LINES = {"tensor failed: %s\n", "run failed: %s\n"};
const char LOAD_FAILED[] = "load failed: %s\n";

}  // namespace

TEST_F(SlotTest, DetectorFamilyComesFromTheFileNameOnly) {
    EXPECT_EQ(bl_detector_type_for_path("/m/scrfd_2.5g.onnx"), BL_DETECTOR_SCRFD);
    EXPECT_EQ(bl_detector_type_for_path("/m/yoloface_8n.onnx"), BL_DETECTOR_YOLOFACE);
    EXPECT_EQ(bl_detector_type_for_path("/m/yunet_2023mar.onnx"), BL_DETECTOR_YUNET);
    // The directory's name must not change how an scrfd model is decoded.
    EXPECT_EQ(bl_detector_type_for_path("/models/yunet/scrfd_2.5g.onnx"), BL_DETECTOR_SCRFD);
    EXPECT_EQ(bl_detector_type_for_path("C:\\yoloface\\scrfd_2.5g.onnx"), BL_DETECTOR_SCRFD);
    // The same words in the same order: "yoloface" wins over "yunet".
    EXPECT_EQ(bl_detector_type_for_path("yunet_yoloface.onnx"), BL_DETECTOR_YOLOFACE);

    StderrCapture err;
    ASSERT_EQ(bl_detector_open(runtime, path("yunet_2023mar.onnx").c_str(), &detector), 0);
    EXPECT_EQ(detector.family, BL_DETECTOR_YUNET);
    EXPECT_EQ(err.text(), "[face_detect] Detector loaded: " + path("yunet_2023mar.onnx") + "\n");
}

// The landmarker and the recognizer once borrowed the detector's
// environment; every model now opens in the engine's runtime on its own.
TEST_F(SlotTest, LandmarkerAndRecognizerNeedNoDetector) {
    StderrCapture err;
    EXPECT_EQ(bl_landmarker_open(runtime, path("2dfan4.onnx").c_str(), &landmarker), 0);
    EXPECT_EQ(bl_recognizer_open(runtime, path("arcface_w600k_r50.onnx").c_str(), &recognizer), 0);
    EXPECT_EQ(err.text(), "[landmark68] Landmarker loaded: " + path("2dfan4.onnx") + "\n" +
                              "[recognize] Recognizer loaded: " + path("arcface_w600k_r50.onnx") +
                              "\n");
}

TEST_F(SlotTest, DetectorWhoseSessionFailedLeavesTheRuntimeUsable) {
    StderrCapture err;
    EXPECT_EQ(bl_detector_open(runtime, path("missing.onnx").c_str(), &detector), -1);
    EXPECT_FALSE(detector.model.is_open());
    EXPECT_EQ(bl_landmarker_open(runtime, path("2dfan4.onnx").c_str(), &landmarker), 0);
    std::string text = err.text();
    EXPECT_EQ(text.rfind("[face_detect] Load model failed: ", 0), 0u) << text;
    EXPECT_NE(text.find("[landmark68] Landmarker loaded: " + path("2dfan4.onnx") + "\n"),
              std::string::npos);
}

TEST_F(SlotTest, OpenRecordsTypeAndScaleEvenWhenTheFileIsMissing) {
    StderrCapture err;
    std::string forty(40, 't');
    EXPECT_EQ(bl_swapper_open(runtime, path("missing.onnx").c_str(), forty.c_str(), &swapper), -1);
    EXPECT_EQ(std::string(swapper.type), forty.substr(0, 31));
    EXPECT_EQ(bl_upscaler_open(runtime, path("missing.onnx").c_str(), 4, &upscaler), -1);
    EXPECT_EQ(upscaler.scale, 4);
    std::string text = err.text();
    EXPECT_NE(text.find("[face_swap] Load model failed: "), std::string::npos);
    EXPECT_NE(text.find("[frame_enhancer] Load model failed: "), std::string::npos);

    StderrCapture ok;
    ASSERT_EQ(bl_upscaler_open(runtime, path("real_esrgan_x2.onnx").c_str(), 2, &upscaler), 0);
    ASSERT_EQ(bl_swapper_open(runtime, path("simswap_256.onnx").c_str(), "simswap", &swapper), 0);
    EXPECT_EQ(ok.text(), "[frame_enhancer] Loaded: " + path("real_esrgan_x2.onnx") + " (scale=2)\n" +
                             "[face_swap] Swapper loaded: " + path("simswap_256.onnx") + " (type=simswap)\n");
    EXPECT_STREQ(swapper.type, "simswap");
}

TEST_F(SlotTest, OpenFollowsTheModel) {
    EXPECT_FALSE(occluder.is_open());
    StderrCapture err;
    ASSERT_EQ(bl_occluder_open(runtime, path("face_occluder.onnx").c_str(), &occluder), 0);
    ASSERT_EQ(bl_parser_open(runtime, path("face_parser.onnx").c_str(), &parser), 0);
    EXPECT_TRUE(occluder.is_open());
    EXPECT_TRUE(parser.is_open());
    // Reopening replaces the session; a failed reopen leaves the model closed.
    EXPECT_EQ(bl_occluder_open(runtime, path("missing.onnx").c_str(), &occluder), -1);
    EXPECT_FALSE(occluder.is_open());
    bl_model_close(&parser);
    bl_model_close(&parser);
    EXPECT_FALSE(parser.is_open());
}

// Closing a model that is not open writes nothing and leaves nothing behind
// that would keep the model from opening afterwards.
TEST_F(SlotTest, ClosingSlotsThatWereNeverOpenedDoesNothing) {
    StderrCapture err;
    bl_model_close(&upscaler.model);
    bl_model_close(&colorizer);
    bl_model_close(&enhancer);
    bl_model_close(&occluder);
    bl_model_close(&detector.model);
    bl_model_close(&detector.model);
    EXPECT_EQ(err.text(), "");
    EXPECT_FALSE(occluder.is_open());

    StderrCapture quiet;
    EXPECT_EQ(bl_detector_open(runtime, path("scrfd_2.5g.onnx").c_str(), &detector), 0)
        << quiet.text();
    EXPECT_EQ(bl_occluder_open(runtime, path("face_occluder.onnx").c_str(), &occluder), 0)
        << quiet.text();
    EXPECT_TRUE(occluder.is_open());
}

TEST_F(SlotTest, RunBindsInputsByNameOrPosition) {
    bl_model model;
    ASSERT_EQ(bl_model_open(runtime, bl_test::model_path("inference/subtract.onnx").c_str(),
                            LOAD_FAILED, &model), 0);
    // The names are read once, at open, in the model's order.
    ASSERT_EQ(model.inputs.size(), 2u);
    EXPECT_EQ(model.inputs[0], "b");
    EXPECT_EQ(model.inputs[1], "a");
    EXPECT_EQ(model.outputs.size(), 1u);
    float a[4] = {10, 20, 30, 40}, b[4] = {1, 2, 3, 4};
    const int64_t shape[2] = {1, 4};
    {
        // Given in the order a, b; the model declares b, a.
        bl_tensor inputs[2] = {{"a", a, shape, 2}, {"b", b, shape, 2}};
        bl_run_result result;
        ASSERT_EQ(bl_model_run(&model, inputs, 2, 1, &RUN_LINES, &result), BL_RUN_OK);
        size_t count = 0;
        const float* out = result.floats(0, &count);
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(count, 4u);
        EXPECT_EQ(out[0], 9.0f);
        EXPECT_EQ(out[3], 36.0f);
        int64_t dims[4];
        EXPECT_EQ(result.shape(0, dims, 4), 2);
        EXPECT_EQ(dims[1], 4);
        EXPECT_EQ(result.floats(1, &count), nullptr);  // no such output
        EXPECT_EQ(count, 0u);
    }
    {
        // A tensor the model does not know leaves the model's own input
        // unbound: the run fails with the runtime's message, no crash.
        bl_tensor inputs[2] = {{"a", a, shape, 2}, {"source", b, shape, 2}};
        bl_run_result result;
        StderrCapture err;
        EXPECT_EQ(bl_model_run(&model, inputs, 2, 1, &RUN_LINES, &result), BL_RUN_FAILED);
        std::string text = err.text();
        EXPECT_EQ(bl_test::count_of(text, "run failed: "), 1) << text;
        EXPECT_EQ(result.count(), 0u);
    }
    {
        // Positional binding: the model's input 0 is "b".
        bl_tensor inputs[2] = {{nullptr, a, shape, 2}, {nullptr, b, shape, 2}};
        bl_run_result result;
        ASSERT_EQ(bl_model_run(&model, inputs, 2, BL_ALL_OUTPUTS, &RUN_LINES, &result), BL_RUN_OK);
        size_t count = 0;
        const float* out = result.floats(0, &count);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out[0], -9.0f);
    }
    int64_t dims[4] = {};
    EXPECT_EQ(bl_model_input_shape(&model, 1, dims, 4), 2);
    EXPECT_EQ(dims[0], 1);
    EXPECT_EQ(dims[1], 4);
    bl_model_close(&model);
    bl_model_close(&model);
    EXPECT_EQ(model.session, nullptr);
    bl_run_result closed;
    EXPECT_EQ(bl_model_run(&model, nullptr, 0, 1, &RUN_LINES, &closed), BL_RUN_FAILED);
}

TEST_F(SlotTest, RunReportsWrongShapesAndMissingOutputs) {
    bl_model model;
    ASSERT_EQ(bl_model_open(runtime, bl_test::model_path("inference/subtract.onnx").c_str(),
                            LOAD_FAILED, &model), 0);
    float data[8] = {};
    const int64_t wrong[2] = {1, 8};
    const int64_t right[2] = {1, 4};
    struct {
        const char* what;
        const int64_t* shape;
        size_t inputs;
        size_t outputs;
    } cases[] = {
        {"wrong shapes", wrong, 2, 1},
        {"a second output of a one-output model", right, 2, 2},
        {"a third input by position", right, 3, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bl_tensor inputs[3] = {{c.inputs == 3 ? nullptr : "a", data, c.shape, 2},
                               {c.inputs == 3 ? nullptr : "b", data, c.shape, 2},
                               {nullptr, data, c.shape, 2}};
        bl_run_result result;
        StderrCapture err;
        EXPECT_EQ(bl_model_run(&model, inputs, c.inputs, c.outputs, &RUN_LINES, &result),
                  BL_RUN_FAILED);
        EXPECT_EQ(bl_test::count_of(err.text(), "run failed: "), 1);
    }
    bl_model_close(&model);
}

namespace {

// Sessions run on the cores the process may use (or the count an engine
// asks for) and sleep between runs; a benchmark's forced tuning applies
// until it is lifted.
TEST(SessionTuning, FollowsTheProcessCoresUntilForcedAndBackAfter) {
    const bl_session_tuning decided = bl_session_tuning_for(0);
    EXPECT_EQ(decided.intra_threads, bl_cpu_cores_for_process());
    EXPECT_EQ(decided.allow_spinning, 0);
    EXPECT_EQ(decided.memory, BL_MEMORY_BLOCK_CACHE);
    EXPECT_EQ(bl_session_tuning_for(3).intra_threads, 3);

    const bl_session_tuning forced{0, 1};
    bl_session_set_tuning_for_testing(&forced);
    EXPECT_EQ(bl_session_tuning_for(3).intra_threads, 0);
    EXPECT_EQ(bl_session_tuning_for(0).allow_spinning, 1);

    bl_session_set_tuning_for_testing(nullptr);
    EXPECT_EQ(bl_session_tuning_for(0).intra_threads, decided.intra_threads);
    EXPECT_EQ(bl_session_tuning_for(0).allow_spinning, 0);
}

}  // namespace
