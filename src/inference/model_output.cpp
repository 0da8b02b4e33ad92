#include "inference/model_output.h"

#include "platform/log_sink.h"

const float* bl_model_run_first_output(const bl_model* model, const bl_tensor& input,
                                       size_t output_count, size_t min_count,
                                       const bl_run_lines* lines, bl_run_result* result,
                                       size_t* count) {
    if (bl_model_run(model, &input, 1, output_count, lines, result) != BL_RUN_OK) return nullptr;
    size_t held = 0;
    const float* values = result->floats(0, &held);
    if (!values) return nullptr;
    if (held < min_count) {
        if (lines && lines->output_short)
            bl_log(BRIGHTLOOM_LOG_ERROR, lines->output_short, held, min_count);
        return nullptr;
    }
    if (count) *count = held;
    return values;
}
