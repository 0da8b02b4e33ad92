// What bounds one call of the engine interface: options refused by name, a
// cancel flag (set before the call, or by another thread while it works on
// faces or tiles) and a ceiling on the faces one operation takes.
#include <string.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "brightloom.h"
#include "support/engine_fixture.h"
#include "support/test_images.h"
#include "support/testutil.h"

using bl_test::engine_ptr;
using bl_test::image_ptr;
using bl_test::ModelDir;
using bl_test::owned_image;

namespace {

// Nine grey squares, brighter from the first to the last: the stand-in
// detector scores a face by its brightness, so face i of the list is the
// (9 - i)-th best.
image_ptr nine_faces() {
    std::vector<bl_test::square> squares;
    for (int i = 0; i < 9; ++i) {
        const uint8_t v = static_cast<uint8_t>(140 + 14 * i);
        squares.push_back({96 + 224 * (i % 3), 96 + 224 * (i / 3), v, v, v});
    }
    return bl_test::squares_image(squares);
}

// Sets a cancel flag from another thread once the operation logs a line
// starting with `trigger`, holding the operation inside its log callback
// until the flag is set: the stop lands at a known point without timing.
class cancel_on_line {
public:
    explicit cancel_on_line(std::string trigger) : trigger_(std::move(trigger)) {
        canceller_ = std::thread([this] {
            std::unique_lock<std::mutex> lock(lock_);
            woken_.wait(lock, [this] { return asked_; });
            flag = 1;
            set_ = true;
            woken_.notify_all();
        });
    }
    ~cancel_on_line() {
        {
            std::lock_guard<std::mutex> lock(lock_);
            asked_ = true;
        }
        woken_.notify_all();
        canceller_.join();
    }

    static void on_line(void* user_data, brightloom_log_level, const char* line) {
        auto* self = static_cast<cancel_on_line*>(user_data);
        if (strncmp(line, self->trigger_.c_str(), self->trigger_.size()) != 0) return;
        ++self->triggers;
        std::unique_lock<std::mutex> lock(self->lock_);
        self->asked_ = true;
        self->woken_.notify_all();
        self->woken_.wait(lock, [self] { return self->set_; });
    }

    volatile int32_t flag = 0;
    int triggers = 0;  // lines that started with the trigger

private:
    std::string trigger_;
    std::mutex lock_;
    std::condition_variable woken_;
    bool asked_ = false, set_ = false;
    std::thread canceller_;
};

class EngineLimits : public ::testing::Test {
protected:
    void SetUp() override { bl_test::add_engine_models(&models); }

    void open(brightloom_log_fn log = nullptr, void* user_data = nullptr) {
        brightloom_engine_params params = brightloom_engine_default_params();
        params.log = log ? log : [](void*, brightloom_log_level, const char*) {};
        params.log_user_data = user_data;
        brightloom_engine* opened = nullptr;
        ASSERT_EQ(brightloom_engine_open(models.path().c_str(), &params, &opened), BRIGHTLOOM_OK)
            << brightloom_last_error();
        engine.reset(opened);
    }

    // Every operation that reads options, run once with `options`; each
    // returns its status and checks that a failure leaves no result.
    std::vector<std::pair<const char*, std::function<brightloom_status()>>> operations(
        const brightloom_options* options) {
        return {
            {"swap", [=] { return image_op([&](brightloom_image* out) {
                 return brightloom_swap_image(engine.get(), &in_source, &in_target, options, out);
             }); }},
            {"enhance", [=] { return image_op([&](brightloom_image* out) {
                 return brightloom_enhance_image(engine.get(), &in_target, options, out);
             }); }},
            {"colorize", [=] { return image_op([&](brightloom_image* out) {
                 return brightloom_colorize_image(engine.get(), &in_target, options, out);
             }); }},
            {"upscale", [=] { return image_op([&](brightloom_image* out) {
                 return brightloom_upscale_image(engine.get(), &in_target, options, out);
             }); }},
            {"detect", [=] {
                 brightloom_face faces[4];
                 size_t count = 99;
                 brightloom_status status =
                     brightloom_detect_faces(engine.get(), &in_target, options, faces, 4, &count);
                 if (status != BRIGHTLOOM_OK) {
                     EXPECT_EQ(count, 0u);
                 }
                 return status;
             }},
            {"session open", [=] {
                 brightloom_swap_session* opened = session;  // not NULL
                 brightloom_status status = brightloom_swap_session_open(
                     engine.get(), &in_source, &in_target, options, &opened);
                 if (status != BRIGHTLOOM_OK) {
                     EXPECT_EQ(opened, nullptr);
                 }
                 // Closing is a call, which clears the message a failure left.
                 if (status == BRIGHTLOOM_OK) brightloom_swap_session_close(opened);
                 return status;
             }},
            {"session frame", [=] { return image_op([&](brightloom_image* out) {
                 return brightloom_swap_session_frame(session, &in_target, options, out);
             }); }},
        };
    }

    brightloom_status image_op(const std::function<brightloom_status(brightloom_image*)>& run) {
        owned_image result;
        const brightloom_status status = run(result.out());
        if (status != BRIGHTLOOM_OK) {
            EXPECT_EQ(result.image.pixels, nullptr);
        }
        return status;
    }

    void open_session() {
        ASSERT_EQ(brightloom_swap_session_open(engine.get(), &in_source, nullptr, nullptr, &session),
                  BRIGHTLOOM_OK);
    }

    void TearDown() override { brightloom_swap_session_close(session); }

    ModelDir models;
    engine_ptr engine;
    brightloom_swap_session* session = nullptr;
    image_ptr source = bl_test::squares_image({{320, 320, 255, 255, 255}});
    image_ptr target = nine_faces();
    brightloom_image in_source = bl_test::as_public(source.get());
    brightloom_image in_target = bl_test::as_public(target.get());
};

// Which of the nine faces differ in `result` (sampled at each centre).
std::vector<bool> changed_faces(const bl_image* before, const brightloom_image& result) {
    std::vector<bool> out;
    for (int i = 0; i < 9; ++i) {
        const int x = 96 + 224 * (i % 3), y = 96 + 224 * (i / 3);
        out.push_back(memcmp(bl_test::pixel_at(before, x, y),
                             result.pixels + static_cast<size_t>(y) * result.stride + 3 * x,
                             3) != 0);
    }
    return out;
}

}  // namespace

// ------------------------------------------------------------- options

TEST_F(EngineLimits, EveryOperationRefusesBadOptionsByTheirName) {
    open();
    open_session();
    struct {
        const char* name;  // what the message must name
        std::function<void(brightloom_options*)> spoil;
    } cases[] = {
        {"max_faces", [](brightloom_options* o) { o->max_faces = -1; }},
    };
    for (const auto& c : cases) {
        brightloom_options options = brightloom_default_options();
        c.spoil(&options);
        for (auto& operation : operations(&options)) {
            SCOPED_TRACE(std::string(c.name) + " / " + operation.first);
            EXPECT_EQ(operation.second(), BRIGHTLOOM_BAD_ARGUMENT);
            EXPECT_NE(strstr(brightloom_last_error(), c.name), nullptr) << brightloom_last_error();
        }
    }
}

// -------------------------------------------------------------- cancel

TEST_F(EngineLimits, ACancelSetBeforeTheCallStopsEveryOperation) {
    open();
    open_session();
    volatile int32_t cancel = 1;
    brightloom_options options = brightloom_default_options();
    options.cancel = &cancel;
    for (auto& operation : operations(&options)) {
        SCOPED_TRACE(operation.first);
        EXPECT_EQ(operation.second(), BRIGHTLOOM_CANCELLED);
        EXPECT_STREQ(brightloom_last_error(), "Cancelled");
    }
    // A flag that stays 0 changes nothing.
    cancel = 0;
    for (auto& operation : operations(&options)) {
        SCOPED_TRACE(operation.first);
        EXPECT_EQ(operation.second(), BRIGHTLOOM_OK) << brightloom_last_error();
    }
}

// An enhancer whose every run fails logs one line per face, the moment the
// canceller needs: the faces after the first are never run.
TEST_F(EngineLimits, ACancelFromAnotherThreadStopsAnEnhanceBeforeTheNextFace) {
    models.add("broken/one_tiny_output.onnx", "gfpgan_1.4.onnx");
    for (bool cancelling : {false, true}) {
        SCOPED_TRACE(cancelling);
        cancel_on_line canceller("[face_enhance] Run failed");
        open(cancel_on_line::on_line, &canceller);
        brightloom_options options = brightloom_default_options();
        volatile int32_t never = 0;
        options.cancel = cancelling ? &canceller.flag : &never;
        owned_image result;
        EXPECT_EQ(brightloom_enhance_image(engine.get(), &in_target, &options, result.out()),
                  cancelling ? BRIGHTLOOM_CANCELLED : BRIGHTLOOM_OK);
        EXPECT_EQ(canceller.triggers, cancelling ? 1 : 9);
        EXPECT_EQ(result.image.pixels == nullptr, cancelling);
        engine.reset();
    }
}

TEST_F(EngineLimits, ACancelFromAnotherThreadStopsAnUpscaleBeforeTheNextTile) {
    models.add("broken/one_tiny_output.onnx", "real_esrgan_x2.onnx");
    cancel_on_line canceller("[frame_enhancer] Tile 1/");
    open(cancel_on_line::on_line, &canceller);
    brightloom_options options = brightloom_default_options();
    options.cancel = &canceller.flag;
    owned_image result;
    EXPECT_EQ(brightloom_upscale_image(engine.get(), &in_target, &options, result.out()),
              BRIGHTLOOM_CANCELLED);
    EXPECT_STREQ(brightloom_last_error(), "Cancelled");
    EXPECT_EQ(canceller.triggers, 1);
    EXPECT_EQ(result.image.pixels, nullptr);
}

// ----------------------------------------------------------- max faces

TEST_F(EngineLimits, MaxFacesKeepsOnlyTheBestScoringFaces) {
    open();
    brightloom_options options = brightloom_default_options();
    brightloom_face all[9], best[9];
    size_t count = 0;
    ASSERT_EQ(brightloom_detect_faces(engine.get(), &in_target, &options, all, 9, &count),
              BRIGHTLOOM_OK);
    ASSERT_EQ(count, 9u);
    options.max_faces = 2;
    ASSERT_EQ(brightloom_detect_faces(engine.get(), &in_target, &options, best, 9, &count),
              BRIGHTLOOM_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(memcmp(best, all, 2 * sizeof all[0]), 0);

    // The two brightest squares are the last two.
    const std::vector<bool> last_two = {false, false, false, false, false, false, false, true, true};
    owned_image swapped, enhanced;
    ASSERT_EQ(brightloom_swap_image(engine.get(), &in_source, &in_target, &options, swapped.out()),
              BRIGHTLOOM_OK);
    EXPECT_EQ(changed_faces(target.get(), swapped.image), last_two);
    ASSERT_EQ(brightloom_enhance_image(engine.get(), &in_target, &options, enhanced.out()),
              BRIGHTLOOM_OK);
    EXPECT_EQ(changed_faces(target.get(), enhanced.image), last_two);

    // 0 is no ceiling at all.
    options.max_faces = 0;
    ASSERT_EQ(brightloom_enhance_image(engine.get(), &in_target, &options, enhanced.out()),
              BRIGHTLOOM_OK);
    EXPECT_EQ(changed_faces(target.get(), enhanced.image), std::vector<bool>(9, true));
}
