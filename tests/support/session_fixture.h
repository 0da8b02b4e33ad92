// Tests that start from an engine on the generated models with a swap
// session of one white face (the stand-in detector's face) already open.
#ifndef BL_TEST_SESSION_FIXTURE_H
#define BL_TEST_SESSION_FIXTURE_H

#include <gtest/gtest.h>

#include "brightloom.h"
#include "support/engine_fixture.h"
#include "support/testutil.h"

namespace bl_test {

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        add_engine_models(&models);
        brightloom_engine* opened = nullptr;
        StderrCapture quiet;
        ASSERT_EQ(brightloom_engine_open(models.path().c_str(), nullptr, &opened), BRIGHTLOOM_OK)
            << brightloom_last_error();
        engine.reset(opened);
        const brightloom_image in_source = as_public(source.get());
        ASSERT_EQ(brightloom_swap_session_open(engine.get(), &in_source, nullptr, nullptr, &session),
                  BRIGHTLOOM_OK);
    }
    void TearDown() override { brightloom_swap_session_close(session); }

    ModelDir models;
    engine_ptr engine;
    image_ptr source = squares_image({{320, 320, 255, 255, 255}});
    brightloom_swap_session* session = nullptr;
};

}  // namespace bl_test

#endif
