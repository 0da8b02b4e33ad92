// The video face-swap session: what it refuses, and its settings.
#include <math.h>

#include <string>

#include "brightloom.h"
#include "legacy/legacy_state.h"
#include "support/testutil.h"
#include "frame_dirs/video_fixture.h"
#include "legacy/video_swap_testing.h"

using bl_test::file_exists;
using bl_test::StderrCapture;

namespace {

std::string error_text() { return bl_test::last_error(); }
using bl_test::NOT_INITIALIZED;
using bl_test::VIDEO_NOT_INITIALIZED;

}  // namespace

class VideoSession : public VideoEngineTest {};

TEST_F(VideoSession, RefusesWithoutEngineOrSession) {
    StderrCapture err;
    brightloom_shutdown();
    face_swap_video_cleanup();

    EXPECT_EQ(face_swap_video_frame(dir.file("a.png").c_str(), dir.file("b.png").c_str()), -1);
    EXPECT_EQ(error_text(), VIDEO_NOT_INITIALIZED);
    EXPECT_EQ(face_swap_video_dir(dir.file("missing").c_str(), dir.path().c_str(), 1), -1);
    EXPECT_EQ(error_text(), VIDEO_NOT_INITIALIZED);
    EXPECT_EQ(face_swap_video_init(dir.file("a.png").c_str()), -1);
    EXPECT_EQ(error_text(), NOT_INITIALIZED);
    EXPECT_EQ(face_swap_video_set_reference(dir.file("a.png").c_str(), 0), -1);
    EXPECT_EQ(error_text(), NOT_INITIALIZED);

    open_engine(0);
    const std::string unavailable = bl_test::SWAP_NOT_AVAILABLE;
    EXPECT_EQ(face_swap_video_init(dir.file("a.png").c_str()), -1);
    EXPECT_EQ(error_text(), unavailable);
    EXPECT_EQ(face_swap_video_set_reference(dir.file("a.png").c_str(), 0), -1);
    EXPECT_EQ(error_text(), unavailable);
    brightloom_shutdown();
    EXPECT_TRUE(bl_test::read_file(dir.file("b.png")).empty());
}

TEST_F(VideoSession, DistanceSetterAcceptsOnlyValuesAboveZeroUpToOne) {
    face_swap_video_set_reference_distance(0.3f);
    for (float rejected : {0.0f, -0.5f, 1.0001f, NAN, INFINITY}) {
        face_swap_video_set_reference_distance(rejected);
        EXPECT_EQ(bl_video_reference_distance(), 0.3f) << rejected;
    }
    face_swap_video_set_reference_distance(1.0f);
    EXPECT_EQ(bl_video_reference_distance(), 1.0f);
    face_swap_video_set_reference_distance(1e-6f);
    EXPECT_EQ(bl_video_reference_distance(), 1e-6f);
    face_swap_video_set_reference_distance(0.3f);
}

// A failed init has already dropped the previous session.
TEST_F(VideoSession, FailedInitLeavesNoSession) {
    open_engine();  // its detector finds no face anywhere
    bl_test::write_solid_image(dir.file("plain.png"), 32, 32, 90, 90, 90);
    StderrCapture err;

    EXPECT_EQ(face_swap_video_init(dir.file("missing.png").c_str()), -1);
    EXPECT_EQ(error_text(), "Failed to load source image: " + dir.file("missing.png"));
    EXPECT_EQ(face_swap_video_init(dir.file("plain.png").c_str()), -1);
    EXPECT_EQ(error_text(), "No face detected in source image");
    EXPECT_EQ(bl_video_source_face(), nullptr);
    EXPECT_EQ(face_swap_video_frame(dir.file("plain.png").c_str(), dir.file("out.png").c_str()),
              -1);
    EXPECT_EQ(error_text(), VIDEO_NOT_INITIALIZED);
    EXPECT_FALSE(file_exists(dir.file("out.png")));

    face_swap_video_cleanup();
    brightloom_shutdown();
    EXPECT_EQ(bl_test::count_of(err.text(), "[brightloom] video_cleanup done\n"), 1);
}
