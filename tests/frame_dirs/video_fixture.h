// The opening the video tests share: a folder for their files, a model
// directory, and the engine opened on it when a test asks. The video session,
// its reference settings and the engine are closed after every test, so no
// test sees another's session.
#ifndef BL_TEST_VIDEO_FIXTURE_H
#define BL_TEST_VIDEO_FIXTURE_H

#include <stdint.h>

#include <gtest/gtest.h>

#include "brightloom.h"
#include "support/testutil.h"

class VideoEngineTest : public ::testing::Test {
protected:
    void TearDown() override {
        bl_test::StderrCapture quiet;
        face_swap_video_cleanup();
        face_swap_video_clear_reference();
        face_swap_video_set_reference_distance(0.3f);
        brightloom_shutdown();
    }
    // Opens the engine on a full set of loadable models; want_swap 0 opens
    // it without the recognizer and swapper.
    void open_engine(int32_t want_swap = 1) {
        models.add_all_slots();
        open_engine_on_models(want_swap);
    }
    // Opens the engine on the models the test placed itself.
    void open_engine_on_models(int32_t want_swap = 1) {
        bl_test::StderrCapture quiet;
        ASSERT_EQ(want_swap ? brightloom_init(models.path().c_str())
                            : brightloom_init_lite(models.path().c_str(), 0),
                  0)
            << bl_test::last_error() << quiet.text();
    }

    bl_test::TempDir dir;
    bl_test::ModelDir models;
};

#endif
