// A one-input run's first output: given only when the run worked, the output
// is float and it holds at least what the caller is about to read; a short
// one is said once, in the caller's words.
#include <string>

#include "inference/model_output.h"
#include "inference/model_session.h"
#include "support/testutil.h"

using bl_test::StderrCapture;

namespace {

const char LOAD_FAILED[] = "load failed: %s\n";
const bl_run_lines NAMED = {"tensor failed: %s\n", "run failed: %s\n", "short: %zu of %zu\n"};
const bl_run_lines UNNAMED = {"tensor failed: %s\n", "run failed: %s\n"};

const int64_t FITS[2] = {1, 4};
const int64_t WRONG[2] = {1, 8};

struct first_output_case {
    const char* what;
    const char* model;  // below the generated "inference" folder
    const int64_t* shape;
    size_t min_count;
    const bl_run_lines* lines;
    bool given;
    const char* line;  // the start of what is written, "" for nothing
};

const first_output_case CASES[] = {
    {"exactly as long as asked", "negate.onnx", FITS, 4, &NAMED, true, ""},
    {"nothing asked of its length", "negate.onnx", FITS, 0, &NAMED, true, ""},
    {"one value short, in the caller's words", "negate.onnx", FITS, 5, &NAMED, false,
     "short: 4 of 5\n"},
    {"one value short, unsaid when the lines name no such line", "negate.onnx", FITS, 5,
     &UNNAMED, false, ""},
    {"a run the model refuses", "negate.onnx", WRONG, 0, &NAMED, false, "run failed: "},
    {"an output 0 that is not float", "shape_first.onnx", FITS, 0, &NAMED, false, ""},
};

TEST(ModelFirstOutput, IsGivenOnlyWhenTheRunWorkedAndItHoldsEnough) {
    const bl_runtime* runtime = bl_test::test_runtime();
    ASSERT_NE(runtime, nullptr) << "inference runtime not found";
    for (const first_output_case& c : CASES) {
        SCOPED_TRACE(c.what);
        bl_model model;
        ASSERT_EQ(bl_model_open(runtime, bl_test::model_path(std::string("inference/") + c.model).c_str(),
                                LOAD_FAILED, &model),
                  0);
        float data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        bl_run_result result;
        size_t count = 99;
        StderrCapture err;
        const float* values = bl_model_run_first_output(&model, {nullptr, data, c.shape, 2}, 1,
                                                        c.min_count, c.lines, &result, &count);
        const std::string text = err.text();
        if (c.given) {
            ASSERT_NE(values, nullptr);
            EXPECT_EQ(count, 4u);
            EXPECT_EQ(values[0], -1.0f);
            EXPECT_EQ(values[3], -4.0f);
        } else {
            EXPECT_EQ(values, nullptr);
        }
        if (*c.line) {
            EXPECT_EQ(text.rfind(c.line, 0), 0u) << text;
            EXPECT_EQ(bl_test::count_of(text, c.line), 1) << text;
        } else {
            EXPECT_EQ(text, "");
        }
        bl_model_close(&model);
    }
}

// Models with more than one output are asked for the ones they read; the
// first is still the one given.
TEST(ModelFirstOutput, TakesAsManyOutputsAsAsked) {
    const bl_runtime* runtime = bl_test::test_runtime();
    ASSERT_NE(runtime, nullptr) << "inference runtime not found";
    bl_model model;
    ASSERT_EQ(bl_model_open(runtime, bl_test::model_path("inference/negate.onnx").c_str(),
                            LOAD_FAILED, &model),
              0);
    float data[4] = {1, 2, 3, 4};
    const struct {
        size_t asked, kept;
    } cases[] = {{1, 1}, {2, 2}, {BL_ALL_OUTPUTS, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        bl_run_result result;
        const float* values =
            bl_model_run_first_output(&model, {nullptr, data, FITS, 2}, c.asked, 4, &NAMED, &result);
        ASSERT_NE(values, nullptr);
        EXPECT_EQ(values[1], -2.0f);
        EXPECT_EQ(result.count(), c.kept);
    }
    bl_model_close(&model);
}

}  // namespace
