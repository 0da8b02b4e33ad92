#include "inference/model_warm_up.h"

#include <stdint.h>

#include <vector>

namespace {

const int MAX_RANK = 8;

struct zero_input {
    int64_t shape[MAX_RANK];
    size_t rank;
    std::vector<float> data;
};

// Zeros of input `index`'s declared shape; false when a dimension past the
// first is unknown (no size a real call uses could be guessed).
bool make_zero_input(const bl_model* model, size_t index, zero_input* input) {
    const int rank = bl_model_input_shape(model, index, input->shape, MAX_RANK);
    if (rank < 0 || rank > MAX_RANK) return false;
    size_t count = 1;
    for (int d = 0; d < rank; ++d) {
        if (input->shape[d] < 0 && d == 0) input->shape[d] = 1;
        if (input->shape[d] <= 0) return false;
        count *= static_cast<size_t>(input->shape[d]);
    }
    input->rank = static_cast<size_t>(rank);
    input->data.assign(count, 0.0f);
    return true;
}

}  // namespace

bool bl_model_warm_up(const bl_model* model) {
    if (!model->is_open()) return false;
    const size_t count = model->inputs.size();
    std::vector<zero_input> inputs(count);
    std::vector<bl_tensor> tensors(count);
    for (size_t i = 0; i < count; ++i) {
        if (!make_zero_input(model, i, &inputs[i])) return false;
        tensors[i] = {model->inputs[i].c_str(), inputs[i].data.data(), inputs[i].shape,
                      inputs[i].rank};
    }
    const bl_run_lines silent = {nullptr, nullptr};
    bl_run_result result;
    return bl_model_run(model, tensors.data(), count, BL_ALL_OUTPUTS, &silent, &result) ==
           BL_RUN_OK;
}
