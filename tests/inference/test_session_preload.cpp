// Sessions made ahead while an engine opens: each named one is handed out
// once and the rest released, and an engine opened with them says and
// answers exactly what one opened a model at a time does, however the open
// ends.
#include <string>
#include <vector>

#include "brightloom.h"
#include "inference/model_session.h"
#include "inference/session_preload.h"
#include "support/engine_fixture.h"
#include "support/testutil.h"

using bl_test::ModelDir;
using bl_test::StderrCapture;

namespace {

TEST(SessionPreload, HandsEachNamedSessionOutOnce) {
    const bl_runtime* runtime = bl_test::test_runtime();
    ASSERT_NE(runtime, nullptr) << "inference runtime not found";
    ModelDir dir;
    dir.add("detect/scrfd_2.5g.onnx").add("detect/2dfan4.onnx").add("broken/not_onnx.onnx");
    const std::string detector = dir.file("scrfd_2.5g.onnx"), landmarker = dir.file("2dfan4.onnx"),
                      broken = dir.file("not_onnx.onnx"), missing = dir.file("absent.onnx");
    for (int threads : {1, 2, 3}) {
        SCOPED_TRACE(threads);
        bl_session_preload preload(runtime, {detector, missing, broken, landmarker}, threads);
        // Taken out of order: whichever thread makes it, it is made once.
        OrtSession* made = preload.take(landmarker);
        EXPECT_EQ(made != nullptr, threads > 1);
        if (made) runtime->ort->ReleaseSession(made);
        for (const std::string& path : {landmarker, missing, broken, dir.file("unnamed.onnx")})
            EXPECT_EQ(preload.take(path), nullptr) << path;
        // The detector's session, never taken, is released with the preload.
    }
}

struct logged_line {
    brightloom_log_level level;
    std::string text;
    bool operator==(const logged_line& other) const {
        return level == other.level && text == other.text;
    }
};

void collect(void* user_data, brightloom_log_level level, const char* line) {
    static_cast<std::vector<logged_line>*>(user_data)->push_back({level, line});
}

struct Opened {
    brightloom_status status;
    std::string message;
    std::vector<logged_line> lines;
    std::vector<uint8_t> swapped;
};

// One open with `threads` threads (sessions made ahead from two), and a
// swap on the engine when it opened.
Opened open_and_swap(const ModelDir& dir, int threads, int open_swap) {
    Opened got;
    brightloom_engine_params params = brightloom_engine_default_params();
    params.intra_threads = threads;
    params.open_swap = open_swap;
    params.log = collect;
    params.log_user_data = &got.lines;
    brightloom_engine* engine = nullptr;
    StderrCapture quiet;
    got.status = brightloom_engine_open(dir.path().c_str(), &params, &engine);
    got.message = brightloom_last_error();
    if (!engine) return got;
    bl_test::image_ptr face = bl_test::squares_image({{320, 320, 255, 255, 255}});
    bl_test::image_ptr target = bl_test::squares_image({{200, 200, 255, 40, 40}});
    const brightloom_image source = bl_test::as_public(face.get()), in = bl_test::as_public(target.get());
    bl_test::owned_image out;
    if (open_swap && brightloom_swap_image(engine, &source, &in, nullptr, out.out()) == BRIGHTLOOM_OK)
        got.swapped = out.bytes();
    brightloom_engine_close(engine);
    return got;
}

TEST(SessionPreload, EngineThreadsOpenAsOneModelAtATime) {
    struct Case {
        const char* name;
        const char* remove;          // a model file taken away, or none
        const char* broken;          // a model file replaced by a file that is no model, or none
        int open_swap;
        brightloom_status status;
        bool swaps;  // the test picture's face is found and swapped
    } cases[] = {
        {"every model", nullptr, nullptr, 1, BRIGHTLOOM_OK, true},
        {"no swap", nullptr, nullptr, 0, BRIGHTLOOM_OK, false},
        {"an optional model missing", "2dfan4.onnx", nullptr, 1, BRIGHTLOOM_OK, true},
        {"an optional model broken", nullptr, "gfpgan_1.4.onnx", 1, BRIGHTLOOM_OK, true},
        {"the recognizer missing", "arcface_w600k_r50.onnx", nullptr, 1, BRIGHTLOOM_MODEL_MISSING,
         false},
        {"the swapper broken", nullptr, "uniface_256.onnx", 1, BRIGHTLOOM_MODEL_FAILED, false},
        {"the first detector missing", "scrfd_2.5g.onnx", nullptr, 1, BRIGHTLOOM_OK, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelDir dir;
        bl_test::add_engine_models(&dir);
        dir.add("detect/yunet_2023mar.onnx");
        if (c.remove) dir.remove(c.remove);
        if (c.broken) dir.add("broken/not_onnx.onnx", c.broken);
        Opened alone = open_and_swap(dir, 1, c.open_swap);
        Opened ahead = open_and_swap(dir, 2, c.open_swap);
        EXPECT_EQ(alone.status, c.status) << alone.message;
        EXPECT_EQ(ahead.status, alone.status);
        EXPECT_EQ(ahead.message, alone.message);
        EXPECT_EQ(ahead.lines.size(), alone.lines.size());
        EXPECT_TRUE(ahead.lines == alone.lines);
        EXPECT_EQ(ahead.swapped, alone.swapped);
        EXPECT_EQ(alone.swapped.empty(), !c.swaps);
    }
}

}  // namespace
