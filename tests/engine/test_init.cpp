// Initialization and shutdown: which files are opened in which order, which
// failures are fatal, and the exact lines and messages each path leaves.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "brightloom.h"
#include "legacy/legacy_state.h"
#include "legacy/legacy_state_testing.h"
#include "engine/engine.h"
#include "face/face_detect.h"
#include "inference/runtime_loader_testing.h"
#include "support/testutil.h"

using bl_test::count_of;
using bl_test::ModelDir;
using bl_test::StderrCapture;

namespace {

// Every test starts from an uninitialized engine with default settings.
class InitTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override {
        brightloom_shutdown();
        reset();
    }
    static void reset() {
        brightloom_set_detector("scrfd");
        brightloom_set_swapper("uniface_256");
        brightloom_set_enhancer("gfpgan_1.4");
    }
    std::string error() const { return brightloom_get_error(); }
};

// The process engine's optional mask models, as the operations see them.
int occluder_open() {
    const brightloom_engine* engine = bl_process_engine();
    return engine && engine->faces.occluder.is_open() ? 1 : 0;
}
int parser_open() {
    const brightloom_engine* engine = bl_process_engine();
    return engine && engine->faces.parser.is_open() ? 1 : 0;
}
int detector_family() { return bl_process_engine()->faces.detector.family; }
const char* swapper_type() { return bl_process_engine()->faces.swapper.type; }

// True when every needle occurs in text, in the given order.
::testing::AssertionResult in_order(const std::string& text, const std::vector<std::string>& needles) {
    size_t at = 0;
    for (const std::string& needle : needles) {
        size_t found = text.find(needle, at);
        if (found == std::string::npos)
            return ::testing::AssertionFailure() << "missing (in order): \"" << needle << "\" in\n" << text;
        at = found + needle.size();
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(InitTest, FullSetLogsEverySlotInOrder) {
    ModelDir dir;
    dir.add_all_slots();
    StderrCapture err;
    ASSERT_EQ(brightloom_init(dir.path().c_str()), 0) << error();
    std::string text = err.text();
    const std::string d = dir.path();
    EXPECT_TRUE(in_order(text, {
        "[face_detect] Detector loaded: " + d + "/scrfd_2.5g.onnx\n",
        "[brightloom] detector loaded: scrfd_2.5g.onnx\n",
        "[landmark68] Landmarker loaded: " + d + "/2dfan4.onnx\n",
        "[recognize] Recognizer loaded: " + d + "/arcface_w600k_r50.onnx\n",
        "[face_swap] Swapper loaded: " + d + "/uniface_256.onnx (type=uniface)\n",
        "[face_enhance] Enhancer loaded: " + d + "/gfpgan_1.4.onnx\n",
        "[face_occluder] Loaded: " + d + "/face_occluder.onnx\n",
        "[face_parser] Loaded: " + d + "/face_parser.onnx\n",
        "[colorizer] Loaded: " + d + "/ddcolor.onnx\n",
        "[brightloom] Initialized with model_dir: " + d + " (swap=1)\n",
    }));
    EXPECT_EQ(error(), "");
    EXPECT_EQ(bl_is_initialized(), 1);
    EXPECT_EQ(bl_is_swap_available(), 1);
    EXPECT_EQ(occluder_open(), 1);
    EXPECT_EQ(parser_open(), 1);

    brightloom_shutdown();
    EXPECT_EQ(bl_is_initialized(), 0);
    EXPECT_EQ(bl_is_swap_available(), 0);
    EXPECT_EQ(occluder_open(), 0);
    EXPECT_EQ(parser_open(), 0);
}

TEST_F(InitTest, NullOrEmptyModelDirFails) {
    EXPECT_EQ(brightloom_init(""), -1);
    EXPECT_EQ(error(), "model_dir is NULL or empty");
    EXPECT_EQ(brightloom_init_lite(nullptr, 1), -1);
    EXPECT_EQ(error(), "model_dir is NULL or empty");
    EXPECT_EQ(bl_is_initialized(), 0);
}

TEST_F(InitTest, MissingDirectoryTriesEveryDetectorAndNamesTheDirectory) {
    StderrCapture err;
    EXPECT_EQ(brightloom_init("/nonexistent/models"), -1);
    EXPECT_EQ(error(),
              "No face detector model found in /nonexistent/models (tried scrfd_2.5g.onnx, "
              "yoloface_8n.onnx, yunet_2023mar.onnx)");
    EXPECT_EQ(count_of(err.text(), "[face_detect] Load model failed: "), 3);
    EXPECT_EQ(bl_is_initialized(), 0);
}

TEST_F(InitTest, DetectorCandidatesFollowTheSettingThenTheFixedOrder) {
    struct Case {
        const char* setting;
        std::vector<std::string> order;
    };
    const Case cases[] = {
        {"scrfd", {"scrfd_2.5g", "yoloface_8n", "yunet_2023mar"}},
        {"yoloface", {"yoloface_8n", "scrfd_2.5g", "yunet_2023mar"}},
        {"yunet", {"yunet_2023mar", "scrfd_2.5g", "yoloface_8n"}},
        {"YOLOFACE", {"scrfd_2.5g", "yoloface_8n", "yunet_2023mar"}},  // case-sensitive
        {"unknown", {"scrfd_2.5g", "yoloface_8n", "yunet_2023mar"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        brightloom_set_detector(c.setting);
        StderrCapture err;
        EXPECT_EQ(brightloom_init("/nonexistent/models"), -1);
        // The message lists the names in a fixed order whatever was tried.
        EXPECT_NE(error().find("(tried scrfd_2.5g.onnx, yoloface_8n.onnx, yunet_2023mar.onnx)"),
                  std::string::npos);
        std::vector<std::string> paths;
        for (const std::string& name : c.order) paths.push_back("/nonexistent/models/" + name + ".onnx");
        EXPECT_TRUE(in_order(err.text(), paths));
    }
}

TEST_F(InitTest, FallsBackToTheFirstDetectorThatOpens) {
    ModelDir dir;
    dir.add_all_slots().remove("scrfd_2.5g.onnx").remove("yoloface_8n.onnx");
    dir.add("broken/not_onnx.onnx", "yoloface_8n.onnx");  // present but unreadable
    StderrCapture err;
    ASSERT_EQ(brightloom_init(dir.path().c_str()), 0) << error();
    std::string text = err.text();
    EXPECT_EQ(count_of(text, "[face_detect] Load model failed: "), 2);
    EXPECT_TRUE(in_order(text, {"[face_detect] Detector loaded: " + dir.path() + "/yunet_2023mar.onnx\n",
                                "[brightloom] detector loaded: yunet_2023mar.onnx\n"}));
    EXPECT_EQ(detector_family(), BL_DETECTOR_YUNET);
}

TEST_F(InitTest, DetectorSettingChoosesTheFamily) {
    ModelDir dir;
    dir.add_all_slots();
    brightloom_set_detector("yoloface");
    StderrCapture err;
    ASSERT_EQ(brightloom_init(dir.path().c_str()), 0) << error();
    EXPECT_NE(err.text().find("[brightloom] detector loaded: yoloface_8n.onnx\n"), std::string::npos);
    EXPECT_EQ(detector_family(), BL_DETECTOR_YOLOFACE);
}

TEST_F(InitTest, SwapperSettingChoosesFileAndType) {
    struct Case {
        const char* setting;
        const char* file;
        const char* type;
    };
    const Case cases[] = {
        {"uniface_256", "uniface_256.onnx", "uniface"},
        {"inswapper_128", "inswapper_128.onnx", "inswapper"},
        {"inswapper_128_fp16", "inswapper_128_fp16.onnx", "inswapper"},
        {"blendswap_256", "blendswap_256.onnx", "blendswap"},
        {"simswap_256", "simswap_256.onnx", "simswap"},
        {"something_else", "uniface_256.onnx", "uniface"},
        // An unknown variant of a known family keeps the family's type with the
        // default file: accepted as it stands, nothing downstream depends on it.
        {"simswap_512", "uniface_256.onnx", "simswap"},
    };
    ModelDir dir;
    dir.add_all_slots();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        brightloom_set_swapper(c.setting);
        StderrCapture err;
        ASSERT_EQ(brightloom_init(dir.path().c_str()), 0) << error();
        EXPECT_NE(err.text().find(std::string("[face_swap] Swapper loaded: ") + dir.path() + "/" +
                                  c.file + " (type=" + c.type + ")\n"),
                  std::string::npos)
            << err.text();
        EXPECT_STREQ(swapper_type(), c.type);
        brightloom_shutdown();
    }
}

TEST_F(InitTest, EnhancerSettingChoosesTheFile) {
    ModelDir dir;
    dir.add_all_slots();
    const char* cases[][2] = {{"gfpgan_1.3", "gfpgan_1.3.onnx"},
                              {"gfpgan_1.2", "gfpgan_1.2.onnx"},
                              {"restoreformer_plus_plus", "restoreformer_plus_plus.onnx"},
                              {"GFPGAN_1.3", "gfpgan_1.4.onnx"}};
    for (auto& c : cases) {
        SCOPED_TRACE(c[0]);
        brightloom_set_enhancer(c[0]);
        StderrCapture err;
        ASSERT_EQ(brightloom_init(dir.path().c_str()), 0) << error();
        EXPECT_NE(err.text().find("[face_enhance] Enhancer loaded: " + dir.path() + "/" + c[1] + "\n"),
                  std::string::npos);
        brightloom_shutdown();
    }
}

TEST_F(InitTest, MissingOptionalModelsOnlyWarn) {
    ModelDir dir;
    dir.add("slots/scrfd_2.5g.onnx").add("slots/arcface_w600k_r50.onnx").add("slots/uniface_256.onnx");
    StderrCapture err;
    ASSERT_EQ(brightloom_init(dir.path().c_str()), 0) << error();
    EXPECT_EQ(error(), "");
    EXPECT_TRUE(in_order(err.text(), {
        "[brightloom] Warning: 68-point landmarker not loaded (optional)\n",
        "[brightloom] Warning: enhancer not loaded (optional)\n",
        "[brightloom] Warning: occluder not loaded (optional)\n",
        "[brightloom] Warning: face_parser not loaded (optional)\n",
        "[brightloom] Warning: DDColor colorizer not loaded (optional)\n",
        "[brightloom] Initialized with model_dir: ",
    }));
    EXPECT_EQ(occluder_open(), 0);
    EXPECT_EQ(parser_open(), 0);
}

TEST_F(InitTest, RecognizerAndSwapperAreFatal) {
    ModelDir dir;
    dir.add_all_slots().remove("arcface_w600k_r50.onnx");
    EXPECT_EQ(brightloom_init(dir.path().c_str()), -1);
    EXPECT_EQ(error(), "Failed to load face recognizer: " + dir.path() + "/arcface_w600k_r50.onnx");
    EXPECT_EQ(bl_is_initialized(), 0);
    brightloom_shutdown();

    dir.add("slots/arcface_w600k_r50.onnx").remove("uniface_256.onnx");
    EXPECT_EQ(brightloom_init(dir.path().c_str()), -1);
    EXPECT_EQ(error(), "Failed to load face swapper: " + dir.path() + "/uniface_256.onnx");
    EXPECT_EQ(bl_is_initialized(), 0);
}

TEST_F(InitTest, LiteInitWithoutSwapSkipsRecognizerAndSwapper) {
    ModelDir dir;
    dir.add_all_slots().remove("arcface_w600k_r50.onnx").remove("uniface_256.onnx");
    StderrCapture err;
    ASSERT_EQ(brightloom_init_lite(dir.path().c_str(), 0), 0) << error();
    std::string text = err.text();
    EXPECT_NE(text.find("[brightloom] lite init: recognizer + swapper skipped\n"), std::string::npos);
    EXPECT_NE(text.find(" (swap=0)\n"), std::string::npos);
    EXPECT_EQ(bl_is_initialized(), 1);
    EXPECT_EQ(bl_is_swap_available(), 0);
    EXPECT_EQ(face_swap("a.png", "b.png", "c.png"), -1);
    EXPECT_EQ(error(), bl_test::SWAP_NOT_AVAILABLE);
    brightloom_shutdown();

    // Any non-zero want_swap is a full initialization.
    EXPECT_EQ(brightloom_init_lite(dir.path().c_str(), 7), -1);
    EXPECT_EQ(error(), "Failed to load face recognizer: " + dir.path() + "/arcface_w600k_r50.onnx");
    dir.add_all_slots();
    StderrCapture err2;
    ASSERT_EQ(brightloom_init_lite(dir.path().c_str(), 7), 0);
    EXPECT_NE(err2.text().find(" (swap=1)\n"), std::string::npos);
    EXPECT_EQ(bl_is_swap_available(), 1);
}

TEST_F(InitTest, ModelDirIsUsedAsGiven) {
    ModelDir dir;
    dir.add_all_slots();
    std::string with_slash = dir.path() + "/";
    StderrCapture err;
    ASSERT_EQ(brightloom_init(with_slash.c_str()), 0) << error();
    std::string text = err.text();
    EXPECT_NE(text.find("Detector loaded: " + dir.path() + "//scrfd_2.5g.onnx\n"), std::string::npos);
    EXPECT_NE(text.find("[brightloom] Initialized with model_dir: " + with_slash + " (swap=1)\n"),
              std::string::npos);
}

TEST_F(InitTest, ModelDirWithNonAsciiNameOpens) {
    bl_test::TempDir parent;
    // "modèles" and "東京", in UTF-8 as the host passes them.
    for (const char* name : {"mod\xc3\xa8les", "\xe6\x9d\xb1\xe4\xba\xac"}) {
        std::string dir = parent.file(name);
        ASSERT_TRUE(bl_test::make_dir(dir));
        ModelDir source;
        source.add_all_slots();
        for (const char* model : {"scrfd_2.5g.onnx", "arcface_w600k_r50.onnx", "uniface_256.onnx"}) {
            std::error_code ec;
            std::filesystem::copy_file(source.file(model), bl_test::native_path(dir + "/" + model), ec);
            ASSERT_FALSE(ec) << model;
        }
        StderrCapture err;
        EXPECT_EQ(brightloom_init(dir.c_str()), 0) << error();
        brightloom_shutdown();
    }
}

TEST_F(InitTest, MissingRuntimeFailsInitialization) {
    bl_runtime_set_path_for_testing("/nonexistent/libonnxruntime.so.1");
    EXPECT_EQ(brightloom_init("/some/models"), -1);
    bl_runtime_set_path_for_testing(nullptr);
    EXPECT_EQ(error(), "Failed to get ONNX Runtime API");
    EXPECT_EQ(bl_is_initialized(), 0);
}

TEST_F(InitTest, SecondInitWithoutShutdownReopensEverySlot) {
    ModelDir dir;
    dir.add_all_slots();
    StderrCapture err;
    ASSERT_EQ(brightloom_init(dir.path().c_str()), 0);
    ASSERT_EQ(brightloom_init(dir.path().c_str()), 0);
    // A lite re-initialization must not leave the old recognizer behind in
    // the replaced environment.
    ASSERT_EQ(brightloom_init_lite(dir.path().c_str(), 0), 0);
    EXPECT_EQ(count_of(err.text(), "[face_detect] Detector loaded: "), 3);
    EXPECT_EQ(bl_is_swap_available(), 0);
    brightloom_shutdown();
    ASSERT_EQ(brightloom_init(dir.path().c_str()), 0);
    EXPECT_EQ(bl_is_swap_available(), 1);
}

TEST_F(InitTest, FailedInitKeepsTheEarlierStateAndItsSlots) {
    ModelDir dir;
    dir.add_all_slots();
    ASSERT_EQ(brightloom_init(dir.path().c_str()), 0);
    // A second initialization that fails leaves the engine initialized.
    EXPECT_EQ(brightloom_init("/nonexistent/models"), -1);
    EXPECT_EQ(bl_is_initialized(), 1);
}

TEST_F(InitTest, ShutdownIsSafeBeforeInitAndTwice) {
    brightloom_shutdown();
    brightloom_shutdown();
    EXPECT_EQ(bl_is_initialized(), 0);
    ModelDir dir;
    dir.add_all_slots();
    ASSERT_EQ(brightloom_init(dir.path().c_str()), 0);
    brightloom_shutdown();
    brightloom_shutdown();
    EXPECT_EQ(bl_is_initialized(), 0);
}

TEST_F(InitTest, ErrorPersistsUntilTheNextInit) {
    ModelDir dir;
    dir.add_all_slots();
    EXPECT_EQ(face_swap("a", "b", "c"), -1);
    EXPECT_EQ(error(), "Not initialized — call brightloom_init() first");
    EXPECT_EQ(face_start_server(8080), -1);
    EXPECT_EQ(error(), "HTTP server not yet implemented");
    ASSERT_EQ(brightloom_init(dir.path().c_str()), 0);
    EXPECT_EQ(error(), "");
    EXPECT_EQ(brightloom_init("/nonexistent/models"), -1);
    std::string failure = error();
    brightloom_shutdown();
    EXPECT_EQ(error(), failure);  // shutdown keeps it
}
