// The option table: every default inside its own range and equal to
// brightloom_default_options(), choices that match the models there are, and
// ranges that are exactly the ones the operations enforce.
#include <gtest/gtest.h>
#include <math.h>
#include <stddef.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "brightloom.h"
#include "engine/engine.h"

namespace {

brightloom_option_row option_at(size_t index) {
    brightloom_option_row row = {};
    row.size = sizeof row;
    EXPECT_EQ(brightloom_option_describe(index, &row), BRIGHTLOOM_OK) << brightloom_last_error();
    return row;
}

// The field a row names, as brightloom_default_options() holds it, or NaN
// for a name this test does not know (a new row must be added here too).
double default_field(const brightloom_options& o, const std::string& name) {
    const struct {
        const char* name;
        double value;
    } fields[] = {
        {"detector_score", o.detector_score},   {"mask_blur", o.mask_blur},
        {"mask_padding", double(o.mask_padding[0])}, {"enhancer_blend", o.enhancer_blend},
        {"frame_blend", o.frame_blend},         {"upscale_factor", double(o.upscale_factor)},
        {"reference_distance", o.reference_distance},
    };
    for (const auto& field : fields)
        if (name == field.name) return field.value;
    return NAN;
}

// Sets the field a row names (every side of mask_padding) to `value`.
void set_field(brightloom_options* o, const std::string& name, double value) {
    if (name == "detector_score") o->detector_score = float(value);
    if (name == "mask_blur") o->mask_blur = float(value);
    if (name == "enhancer_blend") o->enhancer_blend = float(value);
    if (name == "frame_blend") o->frame_blend = float(value);
    if (name == "mask_padding")
        for (int32_t& side : o->mask_padding) side = int32_t(value);
}

TEST(OptionTable, EveryDefaultIsInsideItsRangeAndTheDefaultOptionsOne) {
    const brightloom_options defaults = brightloom_default_options();
    ASSERT_GT(brightloom_option_count(), 0u);
    std::set<std::string> names;
    for (size_t i = 0; i < brightloom_option_count(); ++i) {
        const brightloom_option_row row = option_at(i);
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(names.insert(row.name).second) << "listed twice";
        EXPECT_LE(row.minimum, row.maximum);
        EXPECT_LE(row.default_value, row.maximum);
        if (row.minimum_excluded) {
            EXPECT_GT(row.default_value, row.minimum);
        } else {
            EXPECT_GE(row.default_value, row.minimum);
        }
        // Compared as the float or int field holds it.
        EXPECT_EQ(float(row.default_value), float(default_field(defaults, row.name)));
        EXPECT_EQ(row.kind == BRIGHTLOOM_OPTION_CHOICE, row.choices != nullptr);
    }
    for (const int32_t side : defaults.mask_padding) EXPECT_EQ(side, defaults.mask_padding[0]);
}

TEST(OptionTable, UpscaleChoicesAreTheFactorsWithAModel) {
    std::vector<int32_t> factors;
    for (size_t i = 0; i < brightloom_model_count(); ++i) {
        brightloom_model_row model = {};
        model.size = sizeof model;
        ASSERT_EQ(brightloom_model_describe(i, &model), BRIGHTLOOM_OK);
        if (model.slot == BRIGHTLOOM_MODEL_UPSCALER) factors.push_back(model.upscale_factor);
    }
    for (size_t i = 0; i < brightloom_option_count(); ++i) {
        const brightloom_option_row row = option_at(i);
        if (row.kind != BRIGHTLOOM_OPTION_CHOICE) continue;
        SCOPED_TRACE(row.name);
        ASSERT_EQ(std::string(row.name), "upscale_factor");
        const std::vector<int32_t> choices(row.choices, row.choices + row.choice_count);
        EXPECT_EQ(choices, factors);
        EXPECT_EQ(row.minimum, choices.front());
        EXPECT_EQ(row.maximum, choices.back());
    }
}

// The checks every operation makes take the table's bounds and nothing
// else: the bounds pass, a step outside fails naming the field.
TEST(OptionTable, TheOperationsAcceptExactlyTheRanges) {
    for (size_t i = 0; i < brightloom_option_count(); ++i) {
        const brightloom_option_row row = option_at(i);
        // The choice and the reference distance are checked by the
        // operations that read them, with messages of their own.
        if (row.kind == BRIGHTLOOM_OPTION_CHOICE || row.minimum_excluded) continue;
        SCOPED_TRACE(row.name);
        const double step = row.kind == BRIGHTLOOM_OPTION_INTEGER ? 1.0 : 1e-3;
        const struct {
            double value;
            brightloom_status status;
        } cases[] = {{row.minimum, BRIGHTLOOM_OK},
                     {row.maximum, BRIGHTLOOM_OK},
                     {row.minimum - step, BRIGHTLOOM_BAD_ARGUMENT},
                     {row.maximum + step, BRIGHTLOOM_BAD_ARGUMENT}};
        for (const auto& c : cases) {
            brightloom_options options = brightloom_default_options(), checked;
            set_field(&options, row.name, c.value);
            EXPECT_EQ(bl_checked_common_options(&options, &checked), c.status) << c.value;
            if (c.status != BRIGHTLOOM_OK) {
                EXPECT_EQ(strncmp(brightloom_last_error(), row.name, strlen(row.name)), 0)
                    << brightloom_last_error();
            }
        }
    }
}

TEST(OptionTable, RefusesRowsPastTheEndAndUnsizedRows) {
    brightloom_option_row row = {};
    EXPECT_EQ(brightloom_option_describe(0, &row), BRIGHTLOOM_BAD_ARGUMENT);
    EXPECT_EQ(brightloom_option_describe(0, nullptr), BRIGHTLOOM_BAD_ARGUMENT);
    row.size = sizeof row;
    EXPECT_EQ(brightloom_option_describe(brightloom_option_count(), &row),
              BRIGHTLOOM_BAD_ARGUMENT);
    EXPECT_EQ(std::string(brightloom_last_error()),
              "No option row " + std::to_string(brightloom_option_count()) + " (the table has " +
                  std::to_string(brightloom_option_count()) + ")");
    // A shorter struct gets only the fields it reaches.
    row = {};
    row.size = offsetof(brightloom_option_row, kind);
    ASSERT_EQ(brightloom_option_describe(0, &row), BRIGHTLOOM_OK);
    EXPECT_NE(row.name, nullptr);
    EXPECT_EQ(row.maximum, 0.0);
}

}  // namespace
