// Settings are stored exactly as given; names keep at most 63 bytes; the error
// buffer keeps at most 1023 bytes and always stays terminated.
#include <string.h>

#include <string>

#include "brightloom.h"
#include "legacy/legacy_state.h"
#include "legacy/legacy_state_testing.h"
#include "support/testutil.h"

TEST(Settings, NamesKeepAtMost63BytesAndTheirCase) {
    std::string seventy(70, 'x');
    seventy[0] = 'Y';
    brightloom_set_detector(seventy.c_str());
    EXPECT_EQ(std::string(bl_get_detector_model()), seventy.substr(0, 63));
    brightloom_set_swapper(seventy.c_str());
    EXPECT_EQ(strlen(bl_get_swapper_model()), 63u);
    brightloom_set_enhancer(seventy.c_str());
    EXPECT_EQ(strlen(bl_get_enhancer_model()), 63u);

    // A shorter name replaces the longer one completely.
    brightloom_set_detector("YuNet");
    EXPECT_STREQ(bl_get_detector_model(), "YuNet");
    brightloom_set_detector(nullptr);  // ignored
    EXPECT_STREQ(bl_get_detector_model(), "YuNet");

    brightloom_set_detector("scrfd");
    brightloom_set_swapper("uniface_256");
    brightloom_set_enhancer("gfpgan_1.4");
}

TEST(Settings, NumbersAreStoredUnchanged) {
    brightloom_set_detector_score(-1.0f);
    EXPECT_EQ(bl_get_detector_score(), -1.0f);
    brightloom_set_mask_blur(5.0f);
    EXPECT_EQ(bl_get_mask_blur(), 5.0f);
    brightloom_set_enhancer_blend(1.5f);
    EXPECT_EQ(bl_get_enhancer_blend(), 1.5f);

    brightloom_set_mask_padding(10, 0, 0, 0);
    const int32_t* padding = bl_get_mask_padding();
    EXPECT_EQ(padding[0], 10);
    EXPECT_EQ(padding[1], 0);
    brightloom_set_mask_padding(1, 2, 3, -4);
    // A live view: the same pointer shows the new values.
    EXPECT_EQ(padding[0], 1);
    EXPECT_EQ(padding[1], 2);
    EXPECT_EQ(padding[2], 3);
    EXPECT_EQ(padding[3], -4);

    brightloom_set_detector_score(0.3f);
    brightloom_set_mask_blur(0.3f);
    brightloom_set_enhancer_blend(0.8f);
    brightloom_set_mask_padding(0, 0, 0, 0);
}

TEST(ErrorBuffer, LongMessagesAreCutAt1023Bytes) {
    std::string long_text(2000, 'e');
    bl_set_error("%s", long_text.c_str());
    EXPECT_EQ(strlen(brightloom_get_error()), 1023u);
    bl_set_error("Failed to load image: %s", "x.png");
    EXPECT_STREQ(brightloom_get_error(), "Failed to load image: x.png");
    // The same buffer every time: callers may keep the pointer.
    EXPECT_EQ(brightloom_get_error(), brightloom_get_error());
}

TEST(ErrorBuffer, SettersDoNotTouchTheMessage) {
    bl_set_error("earlier failure");
    brightloom_set_mask_blur(0.3f);
    brightloom_set_detector("scrfd");
    face_stop_server();
    EXPECT_STREQ(brightloom_get_error(), "earlier failure");
}

TEST(Engine, StartsUninitialized) {
    // bl_is_swap_available needs an initialized engine, whatever g_want_swap says.
    EXPECT_EQ(bl_is_initialized(), 0);
    EXPECT_EQ(bl_is_swap_available(), 0);
}
