#include "face/face_enhancer.h"

#include <stdio.h>

#include "image/image_blend.h"
#include "image/image_math.h"
#include "image/image_warp.h"
#include "inference/model_output.h"
#include "inference/model_session.h"
#include "platform/log_sink.h"

int bl_face_enhancer_open(const bl_runtime* runtime, const char* path, bl_model* enhancer) {
    return bl_model_open_announced(runtime, path, "[face_enhance] Load model failed: %s\n",
                                   "[face_enhance] Enhancer loaded: %s\n", enhancer);
}

namespace {

const int ENH_SIZE = 512;
const float ENH_MEAN[3] = {0.5f, 0.5f, 0.5f};
const float ENH_STD[3] = {0.5f, 0.5f, 0.5f};
const bl_run_lines FACE_ENHANCER_RUN_LINES = {nullptr, "[face_enhance] Run failed: %s\n"};

// Model values -1 ... 1 back to bytes; anything below -1 (or not a number)
// is black and anything above 1 is full.
uint8_t enh_output_to_byte(float v) {
    if (!(v >= -1.0f)) return 0;
    const float c = v < 1.0f ? v : 1.0f;
    return static_cast<uint8_t>((c + 1.0f) * 0.5f * 255.0f + 0.5f);
}

// The restored crop from the model's planar output.
bl_image_ptr enh_restored_crop(const float* output) {
    bl_image_ptr restored(bl_image_create(ENH_SIZE, ENH_SIZE, 3));
    if (!restored) return restored;
    const size_t plane = static_cast<size_t>(ENH_SIZE) * ENH_SIZE;
    uint8_t* dst = restored->data;
    for (size_t i = 0; i < plane; ++i, dst += 3)
        for (size_t c = 0; c < 3; ++c) dst[c] = enh_output_to_byte(output[c * plane + i]);
    return restored;
}

}  // namespace

bl_image* bl_face_enhancer_apply(const bl_model* enhancer, const bl_face* face,
                                 const bl_image* frame, float blend, float mask_blur,
                                 const int32_t mask_padding[4]) {
    if (!enhancer || !enhancer->is_open() || !face || !frame) return nullptr;

    float matrix[6];
    bl_image_ptr crop(bl_warp_face_by_landmarks(frame, face->landmark5_align,
                                                WARP_TEMPLATE_FFHQ_512, ENH_SIZE, ENH_SIZE,
                                                matrix));
    if (!crop) return nullptr;

    const size_t plane = static_cast<size_t>(ENH_SIZE) * ENH_SIZE;
    bl_malloc_array<float> mask = bl_alloc_array<float>(plane);
    if (!mask) return nullptr;
    if (bl_create_box_mask(ENH_SIZE, ENH_SIZE, mask_blur, mask_padding, mask.get()) != 0)
        return nullptr;

    bl_malloc_array<float> tensor(bl_image_to_chw(crop.get(), 1, ENH_MEAN, ENH_STD));
    if (!tensor) return nullptr;
    static const int64_t SHAPE[4] = {1, 3, ENH_SIZE, ENH_SIZE};
    bl_run_result run;
    // A model with a smaller output fails the face instead of being read
    // past its end.
    const float* output = bl_model_run_first_output(enhancer, {nullptr, tensor.get(), SHAPE, 4}, 1,
                                                    3 * plane, &FACE_ENHANCER_RUN_LINES, &run);
    if (!output) return nullptr;

    bl_image_ptr restored = enh_restored_crop(output);
    if (!restored) return nullptr;
    // The aligned crop is the unrestored face the blend mixes back in.
    if (blend < 1.0f) bl_blend_bytes(restored->data, crop->data, plane * 3, blend);
    return bl_paste_back(frame, restored.get(), mask.get(), matrix);
}
