// The face tracker on drawn frames: textured "faces" moved by known amounts,
// with detector points that jitter around the truth.
#include <math.h>
#include <string.h>

#include <gtest/gtest.h>

#include <vector>

#include "face/face_tracker.h"
#include "support/test_images.h"

using bl_test::image_ptr;
using bl_test::make_image;

namespace {

const int SIZE = 120;  // side of a face's box

// A face drawn at (cx, cy) with texture `seed`, and its box.
struct Drawn {
    float cx, cy;
    int seed;
    int other = 0;       // a second texture mixed in by `mix`: another shot
    float mix = 0.0f;    // of a similar face
};

// Four waves in directions and lengths that depend on the seed: no shift
// or turn makes one seed's pattern into another's.
float texture(int seed, float dx, float dy) {
    float v = 0.0f;
    for (int i = 0; i < 4; ++i) {
        const float angle = 1.3f * seed + 2.1f * i;
        const float frequency = 0.08f + 0.03f * ((seed * 7 + i * 3) % 5);
        v += 45.0f * sinf(frequency * (cosf(angle) * dx + sinf(angle) * dy) + seed + i);
    }
    return v;
}

// The faces' textures fill `drawn` pixels around their centres.
image_ptr frame_of(const std::vector<Drawn>& faces, float drawn = SIZE / 2.0f) {
    return make_image(640, 480, [&](int x, int y, uint8_t rgb[3]) {
        float v = 40.0f;
        for (const Drawn& f : faces) {
            const float dx = x - f.cx, dy = y - f.cy;
            if (fabsf(dx) < drawn && fabsf(dy) < drawn)
                v = 128.0f + (1.0f - f.mix) * texture(f.seed, dx, dy) + f.mix * texture(f.other, dx, dy);
        }
        rgb[0] = rgb[1] = rgb[2] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    });
}

// The detector's view of a drawn face: its box and five points, the points
// off by `jitter` pixels; an identity when `identity` >= 0.
bl_face detected(const Drawn& d, float jitter, int identity = -1) {
    bl_face face;
    memset(&face, 0, sizeof face);
    const float half = SIZE / 2.0f;
    const float box[4] = {d.cx - half, d.cy - half, d.cx + half, d.cy + half};
    memcpy(face.box, box, sizeof box);
    const float layout[10] = {-25, -20, 25, -20, 0, 5, -20, 30, 20, 30};
    for (int i = 0; i < 10; ++i)
        face.landmark5_align[i] = layout[i] + (i % 2 ? d.cy : d.cx) + ((i / 2) % 2 ? jitter : -jitter);
    if (identity >= 0) face.normed_embedding[identity] = 1.0f;
    return face;
}

float mean_error(const bl_face& face, const Drawn& truth) {
    const bl_face exact = detected(truth, 0.0f);
    float sum = 0.0f;
    for (int p = 0; p < 5; ++p)
        sum += hypotf(face.landmark5_align[2 * p] - exact.landmark5_align[2 * p],
                      face.landmark5_align[2 * p + 1] - exact.landmark5_align[2 * p + 1]);
    return sum / 5.0f;
}

}  // namespace

// One face drifting along a sub-pixel path with +-1.5 px of
// alternating detector jitter: one track all along, and points that stay
// close to the truth; then a cut to another face in the same place, a cut
// to a similar face (another shot of the same person: 0.6 of its pixels
// alike), and a jump of the points each start a fresh track.
TEST(FaceTracker, FollowsAFaceAndRestartsOnACutOrAJump) {
    bl_face_tracker tracker;
    tracker.set_strength(0.5f);
    int id = 0;
    float raw = 0.0f, smoothed = 0.0f;
    for (int k = 0; k < 12; ++k) {
        const Drawn truth = {200.0f + 3.3f * k, 220.0f + 1.7f * k, 1};
        image_ptr frame = frame_of({truth});
        bl_face face = detected(truth, k % 2 ? 1.5f : -1.5f);
        ASSERT_TRUE(tracker.match(frame.get(), &face, 1, false));
        if (k == 0) {
            id = tracker.track_id(0);
            EXPECT_TRUE(tracker.fresh(0));
        } else {
            EXPECT_EQ(tracker.track_id(0), id) << "frame " << k;
            EXPECT_FALSE(tracker.fresh(0)) << "frame " << k;
        }
        raw += mean_error(face, truth);
        tracker.smooth(0, &face);
        if (k >= 4) smoothed += mean_error(face, truth);  // once the track has settled
    }
    EXPECT_LT(smoothed / 8.0f, 0.5f * (raw / 12.0f));

    struct Case {
        const char* what;
        int seed;        // the texture now in the box
        float mix;       // of texture 7 into it
        float shift;     // of the detector's points alone
    };
    const Case cases[] = {{"a cut to another face", 7, 0.0f, 0.0f},
                          {"a cut to a similar face", 1, 0.4f, 0.0f},
                          {"points that jump", 1, 0.0f, 25.0f}};
    for (const Case& c : cases) {
        const Drawn last = {200.0f + 3.3f * 12, 220.0f + 1.7f * 12, 1};
        const Drawn now = {last.cx, last.cy, c.seed, 7, c.mix};
        image_ptr frame = frame_of({now});
        bl_face face = detected(now, 0.0f);
        for (int i = 0; i < 10; i += 2) face.landmark5_align[i] += c.shift;
        const bl_face measured = face;
        ASSERT_TRUE(tracker.match(frame.get(), &face, 1, false));
        tracker.smooth(0, &face);
        EXPECT_TRUE(tracker.fresh(0)) << c.what;
        EXPECT_NE(tracker.track_id(0), id) << c.what;
        EXPECT_EQ(0, memcmp(face.landmark5_align, measured.landmark5_align,
                            sizeof face.landmark5_align))
            << c.what << ": the first frame of a track is the detector's";
        id = tracker.track_id(0);
        // The cut is followed from the next frame on.
        image_ptr again = frame_of({now});
        bl_face next = measured;
        ASSERT_TRUE(tracker.match(again.get(), &next, 1, false));
        EXPECT_EQ(tracker.track_id(0), id) << c.what;
        EXPECT_FALSE(tracker.fresh(0)) << c.what;
        tracker.smooth(0, &next);
        // Back to the start for the next case.
        image_ptr reset = frame_of({last});
        bl_face back = detected(last, 0.0f);
        tracker.clear();
        ASSERT_TRUE(tracker.match(reset.get(), &back, 1, false));
        tracker.smooth(0, &back);
        id = tracker.track_id(0);
    }
}

// Two faces with the same pixels that trade places between two frames, each
// box overlapping the other's old box more than its own: by boxes alone the
// tracks trade faces; with identities a face keeps (or restarts) its own
// track and never takes the other's.
TEST(FaceTracker, CrossingFacesKeepTheirTracksByIdentity) {
    struct Step {
        float ax, bx;
    };
    const Step steps[] = {{270, 330}, {270, 330}, {330, 270}, {330, 270}};
    bl_face_tracker tracker;
    tracker.set_strength(0.5f);
    int id_a = 0, id_b = 0;
    for (size_t k = 0; k < sizeof steps / sizeof steps[0]; ++k) {
        const Drawn a = {steps[k].ax, 240.0f, 3}, b = {steps[k].bx, 240.0f, 3};
        image_ptr frame = frame_of({a, b}, 25.0f);
        bl_face faces[2] = {detected(a, 0.5f, 0), detected(b, -0.5f, 1)};
        ASSERT_TRUE(tracker.match(frame.get(), faces, 2, true));
        for (int i = 0; i < 2; ++i) tracker.smooth(i, &faces[i]);
        if (k > 0) {
            EXPECT_NE(tracker.track_id(0), id_b) << "step " << k << ": face A took B's track";
            EXPECT_NE(tracker.track_id(1), id_a) << "step " << k << ": face B took A's track";
        }
        if (k == 1) {
            EXPECT_EQ(tracker.track_id(0), id_a);
            EXPECT_EQ(tracker.track_id(1), id_b);
        }
        id_a = tracker.track_id(0);
        id_b = tracker.track_id(1);
    }
}
