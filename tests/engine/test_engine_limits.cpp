// What bounds one call of the engine interface: options refused by name, a
// cancel flag (set before the call, or by another thread while it works on
// faces or tiles) and a ceiling on the faces one operation takes.
#include <math.h>
#include <string.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "brightloom.h"
#include "engine/engine.h"
#include "platform/cpu_cores.h"
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

// ------------------------------------------------------------- threads

// Each model keeps a pool of its own: more workers than cores only multiply
// threads (a million never finished opening).
TEST_F(EngineLimits, ThreadCountsPastTheCoresAreCappedAtThem) {
    const int cores = bl_cpu_cores_for_process();
    struct {
        int asked, used;
    } cases[] = {{0, cores}, {1, 1}, {cores, cores}, {cores + 1, cores}, {1000000, cores}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        brightloom_engine_params params = brightloom_engine_default_params();
        params.intra_threads = c.asked;
        params.log = [](void*, brightloom_log_level, const char*) {};
        brightloom_engine* opened = nullptr;
        ASSERT_EQ(brightloom_engine_open(models.path().c_str(), &params, &opened), BRIGHTLOOM_OK);
        engine.reset(opened);
        EXPECT_EQ(engine->runtime.tuning.intra_threads, c.used);
    }
}

// ------------------------------------------------------------- options

TEST_F(EngineLimits, EveryOperationRefusesBadOptionsByTheirName) {
    open();
    open_session();
    struct {
        const char* name;  // what the message must name
        std::function<void(brightloom_options*)> spoil;
    } cases[] = {
        {"max_faces", [](brightloom_options* o) { o->max_faces = -1; }},
        {"detector_score", [](brightloom_options* o) { o->detector_score = NAN; }},
        {"detector_score", [](brightloom_options* o) { o->detector_score = 1.5f; }},
        {"mask_blur", [](brightloom_options* o) { o->mask_blur = INFINITY; }},
        {"enhancer_blend", [](brightloom_options* o) { o->enhancer_blend = 1.01f; }},
        {"frame_blend", [](brightloom_options* o) { o->frame_blend = 100.5f; }},
        {"mask_padding[0] (top)", [](brightloom_options* o) { o->mask_padding[0] = -1; }},
        {"mask_padding[3] (left)", [](brightloom_options* o) { o->mask_padding[3] = 1234; }},
    };
    for (const auto& c : cases) {
        brightloom_options options = brightloom_default_options();
        c.spoil(&options);
        for (auto& operation : operations(&options)) {
            SCOPED_TRACE(std::string(c.name) + " / " + operation.first);
            EXPECT_EQ(operation.second(), BRIGHTLOOM_BAD_ARGUMENT);
            EXPECT_NE(strstr(brightloom_last_error(), c.name), nullptr) << brightloom_last_error();
        }
#if !defined(_WIN32)  // the Windows build has no video files
        // A video job refuses them before its first frame, not frame by frame.
        SCOPED_TRACE(std::string(c.name) + " / video");
        EXPECT_EQ(brightloom_video_check_file(BRIGHTLOOM_VIDEO_ENHANCE, "in.mp4", "out.mp4",
                                              &options, nullptr),
                  BRIGHTLOOM_BAD_ARGUMENT);
        EXPECT_NE(strstr(brightloom_last_error(), c.name), nullptr) << brightloom_last_error();
#endif
    }
    // The ends of every range are taken.
    brightloom_options edges = brightloom_default_options();
    edges.detector_score = 1.0f;
    edges.mask_blur = 1.0f;
    edges.enhancer_blend = 0.0f;
    edges.frame_blend = 0.0f;
    for (int32_t& side : edges.mask_padding) side = 100;
    owned_image result;
    EXPECT_EQ(brightloom_colorize_image(engine.get(), &in_target, &edges, result.out()),
              BRIGHTLOOM_OK)
        << brightloom_last_error();
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

// A broken enhancer logs a line per face it fails on, and the upscaler one
// per tile: a cancel set at the first line must stop the work before the
// next face or tile (all nine faces would log otherwise).
TEST_F(EngineLimits, ACancelFromAnotherThreadStopsBeforeTheNextFaceOrTile) {
    models.add("broken/one_tiny_output.onnx", "gfpgan_1.4.onnx");
    models.add("broken/one_tiny_output.onnx", "real_esrgan_x2.onnx");
    struct {
        const char* trigger;
        brightloom_status (*run)(brightloom_engine*, const brightloom_image*,
                                 const brightloom_options*, brightloom_image*);
    } cases[] = {{"[face_enhance] Run failed", brightloom_enhance_image},
                 {"[frame_enhancer] Tile 1/", brightloom_upscale_image}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trigger);
        cancel_on_line canceller(c.trigger);
        open(cancel_on_line::on_line, &canceller);
        brightloom_options options = brightloom_default_options();
        options.cancel = &canceller.flag;
        owned_image result;
        EXPECT_EQ(c.run(engine.get(), &in_target, &options, result.out()), BRIGHTLOOM_CANCELLED);
        EXPECT_STREQ(brightloom_last_error(), "Cancelled");
        EXPECT_EQ(canceller.triggers, 1);
        EXPECT_EQ(result.image.pixels, nullptr);
        engine.reset();
    }
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

// ------------------------------------------------------- close in a call

// A log callback that closes the engine it is called for: the call it is
// inside must run on with its models, and the engine stays usable.
TEST_F(EngineLimits, ClosingFromInsideTheEnginesOwnCallDoesNothing) {
    struct closer {
        brightloom_engine* engine = nullptr;
        int closes = 0;
    } state;
    open([](void* user_data, brightloom_log_level, const char* line) {
        auto* s = static_cast<closer*>(user_data);
        if (!s->engine || strncmp(line, "[frame_enhancer] Processing", 27) != 0) return;
        ++s->closes;
        brightloom_engine_close(s->engine);
    }, &state);
    state.engine = engine.get();
    owned_image first, second;
    EXPECT_EQ(brightloom_upscale_image(engine.get(), &in_target, nullptr, first.out()),
              BRIGHTLOOM_OK);
    EXPECT_EQ(brightloom_upscale_image(engine.get(), &in_target, nullptr, second.out()),
              BRIGHTLOOM_OK);
    EXPECT_EQ(state.closes, 2);
    EXPECT_EQ(first.bytes(), second.bytes());
}
