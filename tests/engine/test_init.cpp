#include <string>

#include "brightloom.h"
#include "engine/bl_engine.h"
#include "support/testutil.h"

using bl_test::ModelDir;
using bl_test::StderrCapture;

TEST(Init, FullSetOfModelsInitializes) {
    ModelDir dir;
    dir.add_all_slots();
    StderrCapture err;
    ASSERT_EQ(brightloom_init(dir.path().c_str()), 0) << brightloom_get_error();
    EXPECT_EQ(bl_is_swap_available(), 1);
    brightloom_shutdown();
    EXPECT_EQ(bl_is_initialized(), 0);
    std::string text = err.text();
    EXPECT_NE(text.find("[brightloom] detector loaded: scrfd_2.5g.onnx\n"), std::string::npos) << text;
}
