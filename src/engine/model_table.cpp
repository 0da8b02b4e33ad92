#include "engine/model_table.h"

#include <string.h>

namespace {

// Adding a model with an existing family's tensor contract is one row here.
const bl_model_row ROWS[] = {
    // Detectors, in the order engine open falls back through them.
    {BRIGHTLOOM_MODEL_DETECTOR, "scrfd", "scrfd", "scrfd_2.5g.onnx", 0},
    {BRIGHTLOOM_MODEL_DETECTOR, "yoloface", "yoloface", "yoloface_8n.onnx", 0},
    {BRIGHTLOOM_MODEL_DETECTOR, "yunet", "yunet", "yunet_2023mar.onnx", 0},
    {BRIGHTLOOM_MODEL_LANDMARKER, "2dfan4", "2dfan4", "2dfan4.onnx", 0},
    {BRIGHTLOOM_MODEL_RECOGNIZER, "arcface_w600k_r50", "arcface", "arcface_w600k_r50.onnx", 0},
    {BRIGHTLOOM_MODEL_SWAPPER, "uniface_256", "uniface", "uniface_256.onnx", 0},
    {BRIGHTLOOM_MODEL_SWAPPER, "inswapper_128", "inswapper", "inswapper_128.onnx", 0},
    {BRIGHTLOOM_MODEL_SWAPPER, "inswapper_128_fp16", "inswapper", "inswapper_128_fp16.onnx", 0},
    {BRIGHTLOOM_MODEL_SWAPPER, "blendswap_256", "blendswap", "blendswap_256.onnx", 0},
    {BRIGHTLOOM_MODEL_SWAPPER, "simswap_256", "simswap", "simswap_256.onnx", 0},
    {BRIGHTLOOM_MODEL_ENHANCER, "gfpgan_1.4", "gfpgan", "gfpgan_1.4.onnx", 0},
    {BRIGHTLOOM_MODEL_ENHANCER, "gfpgan_1.3", "gfpgan", "gfpgan_1.3.onnx", 0},
    {BRIGHTLOOM_MODEL_ENHANCER, "gfpgan_1.2", "gfpgan", "gfpgan_1.2.onnx", 0},
    {BRIGHTLOOM_MODEL_ENHANCER, "restoreformer_plus_plus", "restoreformer",
     "restoreformer_plus_plus.onnx", 0},
    {BRIGHTLOOM_MODEL_OCCLUDER, "face_occluder", "face_occluder", "face_occluder.onnx", 0},
    {BRIGHTLOOM_MODEL_PARSER, "face_parser", "face_parser", "face_parser.onnx", 0},
    {BRIGHTLOOM_MODEL_COLORIZER, "ddcolor", "ddcolor", "ddcolor.onnx", 0},
    {BRIGHTLOOM_MODEL_UPSCALER, "real_esrgan_x2", "real_esrgan", "real_esrgan_x2.onnx", 2},
    {BRIGHTLOOM_MODEL_UPSCALER, "real_esrgan_x4", "real_esrgan", "real_esrgan_x4.onnx", 4},
};

}  // namespace

const bl_model_row* bl_model_rows(size_t* count) {
    *count = sizeof ROWS / sizeof ROWS[0];
    return ROWS;
}

const bl_model_row* bl_model_row_for(brightloom_model_slot slot, const char* name) {
    const bl_model_row* first = nullptr;
    for (const bl_model_row& row : ROWS) {
        if (row.slot != slot) continue;
        if (!first) first = &row;
        if (name && strcmp(name, row.name) == 0) return &row;
    }
    return first;
}

const char* bl_model_family_for(brightloom_model_slot slot, const char* name) {
    const bl_model_row* row = bl_model_row_for(slot, name);
    if (!name || strcmp(row->name, name) == 0) return row->family;
    for (const bl_model_row& other : ROWS)
        if (other.slot == slot && strstr(name, other.family)) return other.family;
    return row->family;
}

const bl_model_row* bl_upscaler_row(int factor) {
    for (const bl_model_row& row : ROWS)
        if (row.slot == BRIGHTLOOM_MODEL_UPSCALER && row.upscale_factor == factor) return &row;
    return nullptr;
}

int32_t bl_model_row_index(const bl_model_row* row) {
    if (!row) return -1;
    return static_cast<int32_t>(row - ROWS);
}
