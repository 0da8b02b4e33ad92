#include "engine/option_table.h"

namespace {

// The factors with an upscaler row in the model table.
const int32_t UPSCALE_FACTORS[] = {2, 4};

// In bl_option_id order. Adding an option is a row here, its id and its
// field in brightloom_default_options.
const bl_option_row ROWS[] = {
    {"detector_score", BRIGHTLOOM_OPTION_NUMBER, 0.3, 0.0, 1.0, false, nullptr, 0},
    {"mask_blur", BRIGHTLOOM_OPTION_NUMBER, 0.3, 0.0, 1.0, false, nullptr, 0},
    {"mask_padding", BRIGHTLOOM_OPTION_INTEGER, 0.0, 0.0, 100.0, false, nullptr, 0},
    {"enhancer_blend", BRIGHTLOOM_OPTION_NUMBER, 0.8, 0.0, 1.0, false, nullptr, 0},
    {"frame_blend", BRIGHTLOOM_OPTION_NUMBER, 100.0, 0.0, 100.0, false, nullptr, 0},
    {"upscale_factor", BRIGHTLOOM_OPTION_CHOICE, 2.0, 2.0, 4.0, false, UPSCALE_FACTORS,
     sizeof UPSCALE_FACTORS / sizeof UPSCALE_FACTORS[0]},
    {"reference_distance", BRIGHTLOOM_OPTION_NUMBER, 0.3, 0.0, 1.0, true, nullptr, 0},
};

static_assert(sizeof ROWS / sizeof ROWS[0] == BL_OPTION_COUNT, "a row for every id");

}  // namespace

const bl_option_row* bl_option_rows(size_t* count) {
    *count = sizeof ROWS / sizeof ROWS[0];
    return ROWS;
}

const bl_option_row& bl_option(bl_option_id id) { return ROWS[id]; }

float bl_option_default(bl_option_id id) { return static_cast<float>(ROWS[id].default_value); }
