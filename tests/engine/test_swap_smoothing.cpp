// Smoothing in swap sessions: off gives today's per-frame pixels byte for
// byte (also after frames done with it on), and its value is checked.
#include <math.h>

#include <vector>

#include "brightloom.h"
#include "support/engine_fixture.h"
#include "support/session_fixture.h"
#include "support/test_images.h"
#include "support/testutil.h"

using bl_test::engine_ptr;
using bl_test::image_ptr;
using bl_test::owned_image;

namespace {

class SwapSmoothing : public bl_test::SessionTest {
protected:
    // Frame k of two faces moving across the picture: bright squares (the
    // stand-in detector's faces) whose green and blue carry a pattern that
    // moves with them, so that the tracker can follow their pixels.
    static image_ptr frame(int k) {
        const int centres[2][2] = {{150 + 7 * k, 200 + 3 * k}, {480 - 5 * k, 420}};
        return bl_test::make_image(640, 640, [&](int x, int y, uint8_t rgb[3]) {
            rgb[0] = rgb[1] = rgb[2] = 30;
            for (const auto& c : centres) {
                const int dx = x - c[0], dy = y - c[1];
                if (dx < -32 || dx >= 32 || dy < -32 || dy >= 32) continue;
                rgb[0] = 255;
                rgb[1] = static_cast<uint8_t>(60 + 50 * sinf(0.3f * dx + 0.2f * dy));
                rgb[2] = static_cast<uint8_t>(60 + 50 * cosf(0.25f * dy - 0.1f * dx));
            }
        });
    }
};

}  // namespace

TEST_F(SwapSmoothing, OffGivesTodaysFramesByteForByte) {
    const brightloom_image in_source = bl_test::as_public(source.get());
    brightloom_options on = brightloom_default_options();
    brightloom_options off = brightloom_default_options();
    off.smoothing = 0.0f;
    // Rounds: off from the start; on (automatic) for a while; off again.
    struct Round {
        const brightloom_options* options;
        bool must_match;
    };
    const Round rounds[] = {{&off, true}, {&on, false}, {&off, true}};
    int smoothed = 0;  // frames that smoothing changed
    for (const Round& round : rounds)
        for (int k = 0; k < 4; ++k) {
            image_ptr image = frame(k);
            const brightloom_image in = bl_test::as_public(image.get());
            owned_image still, framed;
            ASSERT_EQ(brightloom_swap_image(engine.get(), &in_source, &in, nullptr, still.out()),
                      BRIGHTLOOM_OK);
            ASSERT_EQ(brightloom_swap_session_frame(session, &in, round.options, framed.out()),
                      BRIGHTLOOM_OK)
                << brightloom_last_error();
            if (round.must_match) {
                EXPECT_EQ(framed.bytes(), still.bytes()) << "frame " << k;
            } else if (framed.bytes() != still.bytes()) {
                ++smoothed;
            }
        }
    // Otherwise the rounds without smoothing would prove nothing.
    EXPECT_GT(smoothed, 0) << "smoothing changed no frame";
}

TEST_F(SwapSmoothing, StrengthsPastOneAreRefused) {
    image_ptr image = frame(0);
    const brightloom_image in = bl_test::as_public(image.get());
    const float refused[] = {1.5f, NAN};
    for (float value : refused) {
        brightloom_options options = brightloom_default_options();
        options.smoothing = value;
        owned_image out;
        EXPECT_EQ(brightloom_swap_session_frame(session, &in, &options, out.out()),
                  BRIGHTLOOM_BAD_ARGUMENT);
        EXPECT_EQ(out.image.pixels, nullptr);
    }
    brightloom_options options = brightloom_default_options();
    options.smoothing = 1.5f;
    owned_image out;
    brightloom_swap_session_frame(session, &in, &options, out.out());
    EXPECT_STREQ(brightloom_last_error(), "Smoothing 1.5 is outside 0 ... 1");
}
