// The models an engine knows: for every slot, the names its setting takes,
// the family that decides the model's tensor contract and the file it is
// read from. The one list of them: engine open, the setters' documentation
// and every host (through brightloom_model_describe) read it from here.
#ifndef BL_MODEL_TABLE_H
#define BL_MODEL_TABLE_H

#include <stddef.h>

#include "brightloom.h"

struct bl_model_row {
    brightloom_model_slot slot;
    const char* name;    // as the setting and the engine params take it
    const char* family;  // the code path that runs it (a swapper's tensor layout)
    const char* file;    // in the model directory
    int upscale_factor;  // upscalers only, else 0
};

// Every row, the first of each slot being its default.
const bl_model_row* bl_model_rows(size_t* count);

// The row of `slot` named `name` (compared exactly), or the slot's default
// row when the name is none or unknown, as the setters have always treated
// unknown names. Never none for a slot that has rows.
const bl_model_row* bl_model_row_for(brightloom_model_slot slot, const char* name);

// The family a setting runs with: its row's, or for a name not in the table
// the family of the slot that the name contains (an unknown variant such as
// "simswap_512" runs the default file as that family, as it always has), else
// the default row's.
const char* bl_model_family_for(brightloom_model_slot slot, const char* name);

// The upscaler row of `factor`; none for a factor without a model.
const bl_model_row* bl_upscaler_row(int factor);

// The position of `row` in bl_model_rows(), or -1 for none.
int32_t bl_model_row_index(const bl_model_row* row);

#endif
