// The numbers of brightloom_options with their defaults and the values the
// operations accept. The one list of them: brightloom_default_options, the
// options' checks and every host (through brightloom_option_describe) read
// it from here.
#ifndef BL_OPTION_TABLE_H
#define BL_OPTION_TABLE_H

#include <stddef.h>
#include <stdint.h>

#include "brightloom.h"

struct bl_option_row {
    const char* name;  // the brightloom_options field
    brightloom_option_kind kind;
    double default_value;
    double minimum;
    double maximum;
    bool minimum_excluded;
    const int32_t* choices;  // CHOICE rows only
    int32_t choice_count;
};

// The rows, in table order.
enum bl_option_id {
    BL_OPTION_DETECTOR_SCORE,
    BL_OPTION_MASK_BLUR,
    BL_OPTION_MASK_PADDING,
    BL_OPTION_ENHANCER_BLEND,
    BL_OPTION_FRAME_BLEND,
    BL_OPTION_UPSCALE_FACTOR,
    BL_OPTION_REFERENCE_DISTANCE,
    BL_OPTION_COUNT
};

// Every row.
const bl_option_row* bl_option_rows(size_t* count);

const bl_option_row& bl_option(bl_option_id id);

// A row's default as its float field holds it.
float bl_option_default(bl_option_id id);

#endif
