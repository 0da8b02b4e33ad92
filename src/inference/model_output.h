// The run most models here make: one float32 input, and the values of the
// first output, which a caller may only read once it knows there are as many
// as it is about to read.
#ifndef BL_MODEL_OUTPUT_H
#define BL_MODEL_OUTPUT_H

#include <stddef.h>

#include "inference/model_session.h"

// Runs `model` on `input` alone, keeping its first `output_count` outputs in
// `result`, and returns output 0's values when there are at least
// `min_count` of them (their number in *count when asked). None when the run
// fails, output 0 is not a float tensor, or it is shorter: a short output is
// written as `lines->output_short` when the lines name one. The values live
// as long as `result`.
const float* bl_model_run_first_output(const bl_model* model, const bl_tensor& input,
                                       size_t output_count, size_t min_count,
                                       const bl_run_lines* lines, bl_run_result* result,
                                       size_t* count = nullptr);

#endif
