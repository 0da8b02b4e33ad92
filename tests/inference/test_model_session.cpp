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
#include "frame/frame_enhancer.h"
#include "inference/model_session.h"
#include "platform/cpu_cores.h"
#include "support/testutil.h"

using bl_test::ModelDir;
using bl_test::StderrCapture;

namespace {

class SlotTest : public ::testing::Test {
protected:
    void SetUp() override {
        api = bl_test::runtime_api();
        ASSERT_NE(api, nullptr) << "inference runtime not found";
        dir.add_all_slots();
    }
    void TearDown() override {
        bl_frame_enhancer_shutdown();
        bl_swap_shutdown();
        bl_occluder_shutdown();
        bl_parser_shutdown();
        bl_recognize_shutdown();
        bl_landmark68_shutdown();
        bl_detect_shutdown();
    }
    std::string path(const char* name) const { return dir.file(name); }

    const OrtApi* api = nullptr;
    ModelDir dir;
};

const bl_run_lines RUN_LINES = {"tensor failed: %s\n", "run failed: %s\n"};
const bl_slot_lines TEST_SLOT_LINES = {"test", nullptr, nullptr, nullptr, "load failed: %s\n"};

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
    ASSERT_EQ(bl_detect_init(path("yunet_2023mar.onnx").c_str(), api), 0);
    EXPECT_EQ(bl_detector_type(), BL_DETECTOR_YUNET);
    EXPECT_EQ(err.text(), "[face_detect] Detector loaded: " + path("yunet_2023mar.onnx") + "\n");
}

TEST_F(SlotTest, LandmarkerAndRecognizerNeedTheDetectorFirst) {
    StderrCapture err;
    EXPECT_EQ(bl_landmark68_init(path("2dfan4.onnx").c_str(), api), -1);
    EXPECT_EQ(bl_recognize_init(path("arcface_w600k_r50.onnx").c_str(), api), -1);
    EXPECT_EQ(err.text(),
              "[landmark68] Detector must be initialized first\n"
              "[recognize] Detector must be initialized first\n");
}

TEST_F(SlotTest, DetectorWhoseSessionFailedStillHostsTheLandmarker) {
    StderrCapture err;
    EXPECT_EQ(bl_detect_init(path("missing.onnx").c_str(), api), -1);
    EXPECT_EQ(bl_landmark68_init(path("2dfan4.onnx").c_str(), api), 0);
    std::string text = err.text();
    EXPECT_EQ(text.rfind("[face_detect] Load model failed: ", 0), 0u) << text;
    EXPECT_NE(text.find("[landmark68] Landmarker loaded: " + path("2dfan4.onnx") + "\n"),
              std::string::npos);
}

TEST_F(SlotTest, OpenRecordsTypeAndScaleEvenWhenTheFileIsMissing) {
    StderrCapture err;
    std::string forty(40, 't');
    EXPECT_EQ(bl_swap_init(path("missing.onnx").c_str(), forty.c_str(), api), -1);
    EXPECT_EQ(std::string(bl_swap_type()), forty.substr(0, 31));
    EXPECT_EQ(bl_frame_enhancer_init(path("missing.onnx").c_str(), 4, api), -1);
    EXPECT_EQ(bl_frame_enhancer_scale(), 4);
    std::string text = err.text();
    EXPECT_NE(text.find("[face_swap] Load model failed: "), std::string::npos);
    EXPECT_NE(text.find("[frame_enhancer] Load model failed: "), std::string::npos);

    StderrCapture ok;
    ASSERT_EQ(bl_frame_enhancer_init(path("real_esrgan_x2.onnx").c_str(), 2, api), 0);
    ASSERT_EQ(bl_swap_init(path("simswap_256.onnx").c_str(), "simswap", api), 0);
    EXPECT_EQ(ok.text(), "[frame_enhancer] Loaded: " + path("real_esrgan_x2.onnx") + " (scale=2)\n" +
                             "[face_swap] Swapper loaded: " + path("simswap_256.onnx") + " (type=simswap)\n");
    EXPECT_STREQ(bl_swap_type(), "simswap");
}

TEST_F(SlotTest, AvailabilityFollowsTheSlot) {
    EXPECT_EQ(bl_occluder_available(), 0);
    EXPECT_EQ(bl_parser_available(), 0);
    StderrCapture err;
    ASSERT_EQ(bl_occluder_init(path("face_occluder.onnx").c_str(), api), 0);
    ASSERT_EQ(bl_parser_init(path("face_parser.onnx").c_str(), api), 0);
    EXPECT_EQ(bl_occluder_available(), 1);
    EXPECT_EQ(bl_parser_available(), 1);
    // Reopening replaces the handles; a failed reopen leaves the slot closed.
    EXPECT_EQ(bl_occluder_init(path("missing.onnx").c_str(), api), -1);
    EXPECT_EQ(bl_occluder_available(), 0);
    bl_occluder_shutdown();
    bl_parser_shutdown();
    bl_parser_shutdown();
    EXPECT_EQ(bl_parser_available(), 0);
}

// Closing a slot that is not open writes nothing and leaves nothing behind
// that would keep the slot from opening afterwards.
TEST_F(SlotTest, ClosingSlotsThatWereNeverOpenedDoesNothing) {
    StderrCapture err;
    bl_frame_enhancer_shutdown();
    bl_colorizer_shutdown();
    bl_face_enhancer_shutdown();
    bl_occluder_shutdown();
    bl_detect_shutdown();
    bl_detect_shutdown();
    EXPECT_EQ(err.text(), "");
    EXPECT_EQ(bl_occluder_available(), 0);

    StderrCapture quiet;
    EXPECT_EQ(bl_detect_init(path("scrfd_2.5g.onnx").c_str(), api), 0) << quiet.text();
    EXPECT_EQ(bl_occluder_init(path("face_occluder.onnx").c_str(), api), 0) << quiet.text();
    EXPECT_EQ(bl_occluder_available(), 1);
}

TEST_F(SlotTest, RunBindsInputsByNameOrPosition) {
    bl_slot slot = {};
    ASSERT_EQ(bl_slot_open(api, &slot, bl_test::model_path("inference/subtract.onnx").c_str(),
                           &TEST_SLOT_LINES), 0);
    float a[4] = {10, 20, 30, 40}, b[4] = {1, 2, 3, 4};
    const int64_t shape[2] = {1, 4};
    {
        // Given in the order a, b; the model declares b, a.
        bl_tensor inputs[2] = {{"a", a, shape, 2}, {"b", b, shape, 2}};
        bl_run_result result;
        ASSERT_EQ(bl_model_run(api, slot.session, slot.mem, inputs, 2, 1, &RUN_LINES, &result), BL_RUN_OK);
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
        EXPECT_EQ(bl_model_run(api, slot.session, slot.mem, inputs, 2, 1, &RUN_LINES, &result),
                  BL_RUN_FAILED);
        std::string text = err.text();
        EXPECT_EQ(bl_test::count_of(text, "run failed: "), 1) << text;
        EXPECT_EQ(result.count(), 0u);
    }
    {
        // Positional binding: the model's input 0 is "b".
        bl_tensor inputs[2] = {{nullptr, a, shape, 2}, {nullptr, b, shape, 2}};
        bl_run_result result;
        ASSERT_EQ(bl_model_run(api, slot.session, slot.mem, inputs, 2, BL_ALL_OUTPUTS, &RUN_LINES, &result),
                  BL_RUN_OK);
        size_t count = 0;
        const float* out = result.floats(0, &count);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out[0], -9.0f);
    }
    int64_t dims[4] = {};
    EXPECT_EQ(bl_session_input_shape(api, slot.session, 1, dims, 4), 2);
    EXPECT_EQ(dims[0], 1);
    EXPECT_EQ(dims[1], 4);
    bl_slot_close(api, &slot);
    bl_slot_close(api, &slot);
    EXPECT_EQ(slot.session, nullptr);
}

TEST_F(SlotTest, RunReportsWrongShapesAndMissingOutputs) {
    bl_slot slot = {};
    ASSERT_EQ(bl_slot_open(api, &slot, bl_test::model_path("inference/subtract.onnx").c_str(),
                           &TEST_SLOT_LINES), 0);
    float data[8] = {};
    const int64_t wrong[2] = {1, 8};
    const int64_t right[2] = {1, 4};
    {
        bl_tensor inputs[2] = {{"a", data, wrong, 2}, {"b", data, wrong, 2}};
        bl_run_result result;
        StderrCapture err;
        EXPECT_EQ(bl_model_run(api, slot.session, slot.mem, inputs, 2, 1, &RUN_LINES, &result), BL_RUN_FAILED);
        EXPECT_EQ(bl_test::count_of(err.text(), "run failed: "), 1);
    }
    {
        // Asking for a second output of a one-output model fails the run.
        bl_tensor inputs[2] = {{"a", data, right, 2}, {"b", data, right, 2}};
        bl_run_result result;
        StderrCapture err;
        EXPECT_EQ(bl_model_run(api, slot.session, slot.mem, inputs, 2, 2, &RUN_LINES, &result), BL_RUN_FAILED);
        EXPECT_EQ(bl_test::count_of(err.text(), "run failed: "), 1);
    }
    bl_slot_close(api, &slot);
}

namespace {

// Sessions run on the cores the process may use and sleep between runs; a
// benchmark's forced tuning applies until it is lifted, then the decided
// one comes back.
TEST(SessionTuning, FollowsTheProcessCoresUntilForcedAndBackAfter) {
    bl_session_decide_tuning();
    const bl_session_tuning decided = bl_session_current_tuning();
    EXPECT_EQ(decided.intra_threads, bl_cpu_cores_for_process());
    EXPECT_EQ(decided.allow_spinning, 0);

    const bl_session_tuning forced{0, 1};
    bl_session_set_tuning_for_testing(&forced);
    bl_session_decide_tuning();  // an initialization while forced keeps the forced one
    EXPECT_EQ(bl_session_current_tuning().intra_threads, 0);
    EXPECT_EQ(bl_session_current_tuning().allow_spinning, 1);

    bl_session_set_tuning_for_testing(nullptr);
    EXPECT_EQ(bl_session_current_tuning().intra_threads, decided.intra_threads);
    EXPECT_EQ(bl_session_current_tuning().allow_spinning, 0);
}

}  // namespace
