// The video face-swap session and its directory runner on frames with faces.
#include <math.h>
#include <string.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "brightloom.h"
#include "legacy/legacy_state.h"
#include "legacy/legacy_state_testing.h"
#include "engine/engine.h"
#include "engine/engine_ops.h"
#include "face/face_detect.h"
#include "face/face_landmark.h"
#include "face/face_recognize.h"
#include "image/image_io.h"
#include "support/test_images.h"
#include "frame_dirs/output_gate.h"
#include "frame_dirs/video_fixture.h"
#include "legacy/video_swap_testing.h"
#include "support/testutil.h"

using bl_test::file_exists;
using bl_test::image_ptr;
using bl_test::StderrCapture;

// ------------------------------------------------- with face models
//
// The stand-in detector finds every bright 64-pixel square on a dark 640 x 640
// frame, brighter squares first; the recognizer's identity depends on the
// square's colour; the swapper visibly changes every face it is given.

namespace {

std::string error_text() { return bl_test::last_error(); }
using bl_test::VIDEO_NOT_INITIALIZED;

struct square {
    int cx, cy;
    uint8_t r, g, b;
};

const square WHITE_A = {160, 160, 255, 255, 255};
const square GREY_B = {480, 160, 200, 200, 200};
const square RED_C = {160, 480, 255, 0, 0};
const square GREEN_D = {480, 480, 0, 255, 0};

void write_faces(const std::string& path, std::initializer_list<square> squares) {
    std::vector<square> list(squares);
    bl_test::write_image(path, 640, 640, [&](int x, int y, uint8_t rgb[3]) {
        rgb[0] = rgb[1] = rgb[2] = 20;
        for (const square& s : list)
            if (x >= s.cx - 32 && x < s.cx + 32 && y >= s.cy - 32 && y < s.cy + 32) {
                rgb[0] = s.r;
                rgb[1] = s.g;
                rgb[2] = s.b;
            }
    });
}

// Whether the centre pixel of the square differs between two image files.
bool changed(const std::string& before, const std::string& after, const square& s) {
    image_ptr a(bl_image_load(before.c_str()));
    image_ptr b(bl_image_load(after.c_str()));
    EXPECT_TRUE(a && b);
    return a && b &&
           memcmp(bl_test::pixel_at(a.get(), s.cx, s.cy), bl_test::pixel_at(b.get(), s.cx, s.cy),
                  3) != 0;
}

bool same_pixels(const std::string& before, const std::string& after) {
    image_ptr a(bl_image_load(before.c_str()));
    image_ptr b(bl_image_load(after.c_str()));
    return a && b && bl_test::same_pixels(a.get(), b.get());
}

// The face of `image` at `index` with the embedding a frame call computes.
bl_face analysed_face(const std::string& image_path, int index) {
    bl_face face = {};
    image_ptr image(bl_image_load(image_path.c_str()));
    const bl_face_models& models = bl_process_engine()->faces;
    std::unique_ptr<bl_face_list> list(new bl_face_list());
    EXPECT_GT(bl_detect_faces(&models.detector, image.get(), bl_get_detector_score(), 640,
                              list.get()),
              index);
    if (list->count > index) {
        face = list->faces[index];
        bl_detect_landmark68(&models.landmarker, image.get(), &face);
        bl_recognize_face(&models.recognizer, image.get(), &face);
    }
    return face;
}

class VideoSwap : public VideoEngineTest {
protected:
    void SetUp() override {
        models.add_all_slots()
            .add("detect/scrfd_2.5g.onnx")
            .add("detect/2dfan4.onnx")
            .add("detect/arcface_w600k_r50.onnx")
            .add("swap/uniface.onnx", "uniface_256.onnx")
            .remove("face_occluder.onnx")
            .remove("face_parser.onnx");
        open_engine_on_models();
        write_faces(dir.file("source.png"), {WHITE_A});
        ASSERT_EQ(face_swap_video_init(dir.file("source.png").c_str()), 0) << error_text();
    }
    // Swaps one frame file; 0 or -1.
    int32_t swap(const std::string& in, const std::string& out) {
        return face_swap_video_frame(dir.file(in).c_str(), dir.file(out).c_str());
    }
    bool swapped(const std::string& in, const std::string& out, const square& s) {
        return changed(dir.file(in), dir.file(out), s);
    }
};

}  // namespace

TEST_F(VideoSwap, CachesTheBestScoringSourceFace) {
    write_faces(dir.file("two.png"), {GREY_B, WHITE_A});
    StderrCapture err;
    ASSERT_EQ(face_swap_video_init(dir.file("two.png").c_str()), 0) << error_text();
    EXPECT_NE(err.text().find("[brightloom] video_init: source face cached from " +
                              dir.file("two.png") + "\n"),
              std::string::npos);
    const bl_face* cached = bl_video_source_face();
    ASSERT_NE(cached, nullptr);
    EXPECT_NEAR(cached->box[0], WHITE_A.cx - 32, 1.0f);
    EXPECT_NEAR(cached->box[1], WHITE_A.cy - 32, 1.0f);
    bl_face white = analysed_face(dir.file("two.png"), 0);
    EXPECT_EQ(
        memcmp(cached->normed_embedding, white.normed_embedding, sizeof white.normed_embedding), 0);

    write_faces(dir.file("frame.png"), {RED_C, GREEN_D});
    ASSERT_EQ(swap("frame.png", "out.png"), 0) << error_text();
    EXPECT_TRUE(swapped("frame.png", "out.png", RED_C));
    EXPECT_TRUE(swapped("frame.png", "out.png", GREEN_D));
}

// A face is swapped only when its distance to the reference is strictly
// below the threshold.
TEST_F(VideoSwap, ReferenceFiltersFacesStrictlyBelowTheThreshold) {
    write_faces(dir.file("ref.png"), {RED_C});
    write_faces(dir.file("frame.png"), {RED_C, GREEN_D});
    StderrCapture err;
    ASSERT_EQ(face_swap_video_set_reference(dir.file("ref.png").c_str(), 0), 0) << error_text();

    ASSERT_EQ(swap("frame.png", "default.png"), 0);
    EXPECT_TRUE(swapped("frame.png", "default.png", RED_C));
    EXPECT_FALSE(swapped("frame.png", "default.png", GREEN_D));

    float d = bl_embedding_distance(analysed_face(dir.file("frame.png"), 1).normed_embedding,
                                          analysed_face(dir.file("ref.png"), 0).normed_embedding);
    ASSERT_GT(d, 0.3f);
    ASSERT_LE(d, 1.0f);
    face_swap_video_set_reference_distance(d);
    ASSERT_EQ(swap("frame.png", "at.png"), 0);
    EXPECT_FALSE(swapped("frame.png", "at.png", GREEN_D));
    face_swap_video_set_reference_distance(nextafterf(d, 2.0f));
    ASSERT_EQ(swap("frame.png", "above.png"), 0);
    EXPECT_TRUE(swapped("frame.png", "above.png", GREEN_D));

    face_swap_video_set_reference_distance(0.3f);
    face_swap_video_clear_reference();
    ASSERT_EQ(swap("frame.png", "cleared.png"), 0);
    EXPECT_TRUE(swapped("frame.png", "cleared.png", GREEN_D));

    std::string text = err.text();
    EXPECT_NE(text.find("[brightloom] video reference face set (position 0)\n"), std::string::npos);
    char line[128];
    snprintf(line, sizeof line, "[brightloom] ref distance face 1: %.4f (threshold 0.30)\n", d);
    EXPECT_NE(text.find(line), std::string::npos) << text;
}

TEST_F(VideoSwap, ReferencePositionCountsInScoreOrder) {
    write_faces(dir.file("ref.png"), {GREY_B, WHITE_A});  // white scores first
    write_faces(dir.file("frame.png"), {WHITE_A, RED_C});
    StderrCapture err;
    EXPECT_EQ(face_swap_video_set_reference(dir.file("ref.png").c_str(), 2), -1);
    EXPECT_EQ(error_text(), "No face at position 2 in reference image (2 found)");
    EXPECT_EQ(bl_video_reference_active(), 0);
    EXPECT_EQ(face_swap_video_set_reference(dir.file("missing.png").c_str(), 0), -1);
    EXPECT_EQ(error_text(), "Failed to load reference image: " + dir.file("missing.png"));

    ASSERT_EQ(face_swap_video_set_reference(dir.file("ref.png").c_str(), -1), 0) << error_text();
    // A failed call keeps the reference that was set.
    EXPECT_EQ(face_swap_video_set_reference(dir.file("ref.png").c_str(), 7), -1);
    ASSERT_EQ(swap("frame.png", "out.png"), 0);
    EXPECT_TRUE(swapped("frame.png", "out.png", WHITE_A));
    EXPECT_FALSE(swapped("frame.png", "out.png", RED_C));
    EXPECT_NE(err.text().find("[brightloom] video reference face set (position -1)\n"),
              std::string::npos);
}

TEST_F(VideoSwap, InitClearsTheReferenceAndCleanupKeepsIt) {
    write_faces(dir.file("ref.png"), {RED_C});
    write_faces(dir.file("frame.png"), {GREEN_D});
    StderrCapture err;
    ASSERT_EQ(face_swap_video_set_reference(dir.file("ref.png").c_str(), 0), 0);
    face_swap_video_cleanup();
    EXPECT_EQ(bl_video_reference_active(), 1);
    EXPECT_EQ(swap("frame.png", "out.png"), -1);
    EXPECT_EQ(error_text(), VIDEO_NOT_INITIALIZED);

    ASSERT_EQ(face_swap_video_init(dir.file("source.png").c_str()), 0);
    EXPECT_EQ(bl_video_reference_active(), 0);
    ASSERT_EQ(swap("frame.png", "out.png"), 0);
    EXPECT_TRUE(swapped("frame.png", "out.png", GREEN_D));
    EXPECT_EQ(err.text().find("ref distance"), std::string::npos);
}

TEST_F(VideoSwap, FramesAfterEngineShutdownAreSavedUnchanged) {
    write_faces(dir.file("frame.png"), {RED_C});
    StderrCapture err;
    brightloom_shutdown();
    ASSERT_EQ(swap("frame.png", "out.png"), 0) << error_text();
    EXPECT_TRUE(same_pixels(dir.file("frame.png"), dir.file("out.png")));
    EXPECT_EQ(swap("missing.png", "out2.png"), -1);
    EXPECT_EQ(error_text(), "Failed to load frame: " + dir.file("missing.png"));
    EXPECT_EQ(swap("frame.png", "no/such/dir.png"), -1);
    EXPECT_EQ(error_text(), "Failed to save frame: " + dir.file("no/such/dir.png"));
}

// A directory run logs the distances of its first frame only.
TEST_F(VideoSwap, DistanceLinesOnlyWhileNoFrameOfTheRunIsDone) {
    write_faces(dir.file("ref.png"), {RED_C});
    ASSERT_EQ(mkdir(dir.file("in").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("out").c_str(), 0700), 0);
    for (const char* name : {"in/1.png", "in/2.png", "in/3.png"})
        write_faces(dir.file(name), {RED_C, GREEN_D});
    StderrCapture err;
    ASSERT_EQ(face_swap_video_set_reference(dir.file("ref.png").c_str(), 0), 0);

    ASSERT_EQ(swap("in/1.png", "single.png"), 0);
    EXPECT_EQ(face_swap_video_dir(dir.file("in").c_str(), dir.file("out").c_str(), 0), 0)
        << error_text();
    EXPECT_EQ(face_swap_video_total(), 3);
    EXPECT_EQ(face_swap_video_progress(), 3);
    ASSERT_EQ(swap("in/1.png", "after.png"), 0);

    std::string text = err.text();
    // Two faces in the single call and two in the run's first frame.
    EXPECT_EQ(bl_test::count_of(text, "[brightloom] ref distance face 0: "), 2) << text;
    EXPECT_EQ(bl_test::count_of(text, "[brightloom] ref distance face 1: "), 2) << text;
    EXPECT_NE(text.find("[brightloom] video_dir: 3 frames, enhance=0\n"), std::string::npos);
    for (const char* name : {"1.png", "2.png", "3.png"}) {
        EXPECT_TRUE(changed(dir.file("in/") + name, dir.file("out/") + name, RED_C)) << name;
        EXPECT_FALSE(changed(dir.file("in/") + name, dir.file("out/") + name, GREEN_D)) << name;
    }

    face_swap_video_init(dir.file("source.png").c_str());
    EXPECT_EQ(face_swap_video_total(), 0);
    EXPECT_EQ(face_swap_video_progress(), 0);
}

// A request from another thread while the fifth of ten frames is swapped
// (while its swapped frame is being written): that frame is finished but
// not restored, and the run stops there.
TEST_F(VideoSwap, CancelDuringTheFifthSwapSkipsItsRestoration) {
    ASSERT_EQ(mkdir(dir.file("in").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("out").c_str(), 0700), 0);
    for (int i = 0; i < 10; ++i) write_faces(dir.file("in/" + std::to_string(i) + ".png"), {RED_C});
    const uint8_t red[3] = {RED_C.r, RED_C.g, RED_C.b};
    write_noisy_frame(dir.file("in/4.png"), 640, 640, RED_C.cx - 32, RED_C.cy - 32, 64, red);
    StderrCapture err;
    OutputGate gate(dir.file("out/4.png"), [] { face_swap_video_cancel(); });
    int32_t result = face_swap_video_dir(dir.file("in").c_str(), dir.file("out").c_str(), 1);
    gate.close_gate();
    EXPECT_FALSE(gate.reopened());

    EXPECT_EQ(result, 1);
    EXPECT_EQ(face_swap_video_progress(), 5);
    EXPECT_EQ(face_swap_video_total(), 10);
    std::string text = err.text();
    EXPECT_EQ(bl_test::count_of(text, "[brightloom] video_dir: cancelled at frame 5/10\n"), 1);
    EXPECT_EQ(bl_test::count_of(text, "[brightloom] face_enhance: "), 4) << text;
    EXPECT_GT(gate.bytes().size(), GATED_MIN_BYTES);
    EXPECT_FALSE(file_exists(dir.file("out/5.png")));
}
