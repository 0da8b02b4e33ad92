// brightloom_frames_dir_run: a directory run on an engine gives every frame
// exactly what the in-memory operation gives it, reports progress to its
// callback, stops on its flag and refuses what it cannot run.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "brightloom.h"
#include "support/engine_fixture.h"
#include "support/testutil.h"

namespace {

using bl_test::engine_ptr;
using bl_test::owned_image;

class FramesDirRun : public ::testing::Test {
protected:
    void SetUp() override {
        bl_test::add_engine_models(&models);
        brightloom_engine* opened = nullptr;
        ASSERT_EQ(brightloom_engine_open(models.path().c_str(), nullptr, &opened), BRIGHTLOOM_OK)
            << brightloom_last_error();
        engine.reset(opened);
        ASSERT_EQ(mkdir(dir.file("in").c_str(), 0700), 0);
        ASSERT_EQ(mkdir(dir.file("out").c_str(), 0700), 0);
        // Frames with faces (the stand-in detector's squares) at differing places.
        for (int i = 0; i < FRAMES; ++i) {
            bl_test::image_ptr frame = bl_test::squares_image(
                {{100 + 40 * i, 200, 220, 180, 150}, {450, 300 + 20 * i, 90, 200, 120}});
            ASSERT_EQ(bl_image_save(frame.get(), in(i).c_str()), 0);
        }
        source = bl_test::squares_image({{320, 320, 250, 60, 60}});
    }
    std::string in(int i) const { return dir.file("in/f" + std::to_string(i) + ".png"); }
    std::string out(int i) const { return dir.file("out/f" + std::to_string(i) + ".png"); }

    static constexpr int FRAMES = 4;
    bl_test::ModelDir models;
    bl_test::TempDir dir;
    engine_ptr engine;
    bl_test::image_ptr source;
};

std::vector<uint8_t> pixels_of(const std::string& path) {
    owned_image image;
    EXPECT_EQ(brightloom_image_load(path.c_str(), image.out()), BRIGHTLOOM_OK) << path;
    return image.bytes();
}

TEST_F(FramesDirRun, EveryFrameIsTheInMemoryOperationsResult) {
    const brightloom_image source_view = bl_test::as_public(source.get());
    brightloom_swap_session* session = nullptr;
    ASSERT_EQ(brightloom_swap_session_open(engine.get(), &source_view, nullptr, nullptr, &session),
              BRIGHTLOOM_OK);
    struct Case {
        const char* what;
        brightloom_video_operation operation;
        int upscale_factor;
        float frame_blend;
    } cases[] = {{"enhance", BRIGHTLOOM_VIDEO_ENHANCE, 2, 100.0f},
                 {"colorize half", BRIGHTLOOM_VIDEO_COLORIZE, 2, 50.0f},
                 {"upscale x2", BRIGHTLOOM_VIDEO_UPSCALE, 2, 100.0f},
                 {"swap", BRIGHTLOOM_VIDEO_SWAP, 2, 100.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        brightloom_options options = brightloom_default_options();
        options.upscale_factor = c.upscale_factor;
        options.frame_blend = c.frame_blend;
        options.smoothing = 0.0f;  // every frame on its own, as the one-frame calls below
        brightloom_frames_params params = brightloom_frames_default_params();
        params.session = session;
        std::vector<std::pair<int32_t, int32_t>> reported;
        params.progress_user_data = &reported;
        params.progress = [](void* user, int32_t done, int32_t total) {
            static_cast<std::vector<std::pair<int32_t, int32_t>>*>(user)->push_back({done, total});
        };
        ASSERT_EQ(brightloom_frames_dir_run(engine.get(), c.operation, dir.file("in").c_str(),
                                            dir.file("out").c_str(), &options, &params),
                  BRIGHTLOOM_OK)
            << brightloom_last_error();
        const std::vector<std::pair<int32_t, int32_t>> expected = {{1, 4}, {2, 4}, {3, 4}, {4, 4}};
        EXPECT_EQ(reported, expected);
        for (int i = 0; i < FRAMES; ++i) {
            owned_image frame, result;
            ASSERT_EQ(brightloom_image_load(in(i).c_str(), frame.out()), BRIGHTLOOM_OK);
            brightloom_status status = BRIGHTLOOM_INTERNAL;
            switch (c.operation) {
                case BRIGHTLOOM_VIDEO_ENHANCE:
                    status = brightloom_enhance_image(engine.get(), &frame.image, &options, result.out());
                    break;
                case BRIGHTLOOM_VIDEO_COLORIZE:
                    status = brightloom_colorize_image(engine.get(), &frame.image, &options, result.out());
                    break;
                case BRIGHTLOOM_VIDEO_UPSCALE:
                    status = brightloom_upscale_image(engine.get(), &frame.image, &options, result.out());
                    break;
                case BRIGHTLOOM_VIDEO_SWAP:
                    status = brightloom_swap_session_frame(session, &frame.image, &options, result.out());
                    break;
            }
            ASSERT_EQ(status, BRIGHTLOOM_OK);
            EXPECT_EQ(pixels_of(out(i)), result.bytes()) << "frame " << i;
            // And the operation changed the frame: the run did not copy it.
            EXPECT_NE(pixels_of(out(i)), frame.bytes()) << "frame " << i;
        }
    }
    brightloom_swap_session_close(session);
}

TEST_F(FramesDirRun, TheFlagStopsTheRunBeforeTheNextFrame) {
    brightloom_frames_params params = brightloom_frames_default_params();
    static volatile int32_t stop = 0;
    stop = 0;
    params.cancel = &stop;
    params.progress = [](void*, int32_t done, int32_t) {
        if (done == 2) stop = 1;
    };
    EXPECT_EQ(brightloom_frames_dir_run(engine.get(), BRIGHTLOOM_VIDEO_COLORIZE,
                                        dir.file("in").c_str(), dir.file("out").c_str(), nullptr,
                                        &params),
              BRIGHTLOOM_CANCELLED);
    for (int i = 0; i < FRAMES; ++i)
        EXPECT_EQ(bl_test::file_exists(out(i)), i < 2) << "frame " << i;
}

TEST_F(FramesDirRun, RefusesWhatItCannotRun) {
    const std::string in_dir = dir.file("in"), out_dir = dir.file("out");
    brightloom_frames_params unsized = brightloom_frames_default_params();
    unsized.size = 0;
    const brightloom_frames_params plain = brightloom_frames_default_params();
    brightloom_options bad = brightloom_default_options();
    bad.mask_blur = 2.0f;
    struct Case {
        const char* what;
        brightloom_engine* engine;
        int operation;
        std::string input, output;
        const brightloom_options* options;
        const brightloom_frames_params* params;
        brightloom_status status;
        std::string message;
    } cases[] = {
        {"no engine", nullptr, 0, in_dir, out_dir, nullptr, nullptr, BRIGHTLOOM_BAD_ARGUMENT,
         "The engine is NULL"},
        {"params of size 0", engine.get(), 0, in_dir, out_dir, nullptr, &unsized,
         BRIGHTLOOM_BAD_ARGUMENT, "The frames params' size is 0: start from the defaults"},
        {"swap without a session", engine.get(), BRIGHTLOOM_VIDEO_SWAP, in_dir, out_dir, nullptr,
         &plain, BRIGHTLOOM_BAD_ARGUMENT, "A swap over frames needs the params' session"},
        {"bad options", engine.get(), 0, in_dir, out_dir, &bad, nullptr, BRIGHTLOOM_BAD_ARGUMENT,
         "mask_blur 2 is outside 0 ... 1"},
        {"no input folder", engine.get(), 0, dir.file("none"), out_dir, nullptr, nullptr,
         BRIGHTLOOM_UNREADABLE_INPUT, "Cannot list frames dir: " + dir.file("none")},
        {"no frames", engine.get(), 0, out_dir, in_dir, nullptr, nullptr,
         BRIGHTLOOM_UNREADABLE_INPUT, "No frames found in: " + out_dir},
        {"no output folder", engine.get(), 0, in_dir, dir.file("none"), nullptr, nullptr,
         BRIGHTLOOM_CANNOT_WRITE, "Output dir not found: " + dir.file("none")},
        {"in place", engine.get(), 0, in_dir, in_dir, nullptr, nullptr, BRIGHTLOOM_BAD_ARGUMENT,
         "Output dir is the input dir: " + in_dir},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(brightloom_frames_dir_run(c.engine, static_cast<brightloom_video_operation>(c.operation),
                                            c.input.c_str(), c.output.c_str(), c.options, c.params),
                  c.status);
        EXPECT_EQ(std::string(brightloom_last_error()), c.message);
        EXPECT_FALSE(bl_test::file_exists(out(0)));
    }
}

}  // namespace
