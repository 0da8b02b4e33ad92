#include "face/face_swap.h"

#include <stdio.h>
#include <string.h>

#include "face/face_masks.h"
#include "image/image_math.h"
#include "image/image_warp.h"
#include "inference/model_session.h"
#include "platform/log_sink.h"

int bl_swapper_open(const bl_runtime* runtime, const char* path, const char* type,
                    bl_swapper* swapper) {
    snprintf(swapper->type, sizeof swapper->type, "%s", type ? type : "");
    if (bl_model_open(runtime, path, "[face_swap] Load model failed: %s\n", &swapper->model) != 0)
        return -1;
    bl_log(BRIGHTLOOM_LOG_INFO, "[face_swap] Swapper loaded: %s (type=%s)\n", path, swapper->type);
    return 0;
}

namespace {

const float SIMSWAP_MEAN[3] = {0.485f, 0.456f, 0.406f};
const float SIMSWAP_STD[3] = {0.229f, 0.224f, 0.225f};

// What a swapper family takes as the source identity.
enum swap_source_kind { SOURCE_CROP, SOURCE_EMBEDDING, SOURCE_NORMED_EMBEDDING };

struct swap_family {
    int size;                       // side of the target crop and of the generated face
    const float* target_template;
    const float* target_mean;       // none: the crop goes in as byte / 255
    const float* target_std;
    swap_source_kind source;
    int source_size;                // side of the source crop (crop families only)
    const float* source_template;
};

swap_family family_for(const char* type) {
    if (strcmp(type, "uniface") == 0)
        return {256, WARP_TEMPLATE_FFHQ_512, nullptr, nullptr, SOURCE_CROP, 256,
                WARP_TEMPLATE_FFHQ_512};
    if (strcmp(type, "inswapper") == 0)
        return {128, WARP_TEMPLATE_ARCFACE_128_V2, nullptr, nullptr, SOURCE_EMBEDDING, 0, nullptr};
    if (strcmp(type, "blendswap") == 0)
        return {256, WARP_TEMPLATE_FFHQ_512, nullptr, nullptr, SOURCE_CROP, 112,
                WARP_TEMPLATE_ARCFACE_112_V2};
    return {256, WARP_TEMPLATE_ARCFACE_112_V2, SIMSWAP_MEAN, SIMSWAP_STD, SOURCE_NORMED_EMBEDDING,
            0, nullptr};
}

// The source identity as the family's model takes it: a planar crop scaled
// to 0 ... 1, or a copy of one of the two embeddings. None when the source
// face cannot be cut from its image or memory runs out.
bl_malloc_array<float> make_source_input(const swap_family& family, const bl_face* source_face,
                                         const bl_image* source_image) {
    if (family.source == SOURCE_CROP) {
        bl_image_ptr crop(bl_warp_face_by_landmarks(source_image, source_face->landmark5_align,
                                                    family.source_template, family.source_size,
                                                    family.source_size, nullptr));
        if (!crop) return nullptr;
        return bl_malloc_array<float>(bl_image_to_chw(crop.get(), 1, nullptr, nullptr));
    }
    bl_malloc_array<float> embedding = bl_alloc_array<float>(BL_EMBEDDING_SIZE);
    if (!embedding) return nullptr;
    const float* from = family.source == SOURCE_EMBEDDING ? source_face->embedding
                                                          : source_face->normed_embedding;
    memcpy(embedding.get(), from, BL_EMBEDDING_SIZE * sizeof(float));
    return embedding;
}

// The generated face as bytes: 255 * value, negatives (and NaN) to 0, the
// rest capped at 255 and rounded.
bl_image_ptr crop_from_planes(const float* planes, int size) {
    bl_image_ptr crop(bl_image_create(size, size, 3));
    if (!crop) return nullptr;
    const size_t plane = static_cast<size_t>(size) * size;
    for (size_t p = 0; p < plane; ++p) {
        for (int c = 0; c < 3; ++c) {
            float v = 255.0f * planes[c * plane + p];
            uint8_t byte = 0;
            if (v >= 0.0f) byte = static_cast<uint8_t>(static_cast<int>((v < 255.0f ? v : 255.0f) + 0.5f));
            crop->data[p * 3 + c] = byte;
        }
    }
    return crop;
}

// Runs the swapper with its inputs bound by name and turns its first output
// into the generated face. None when the run fails or its output is short.
bl_image_ptr run_swapper(const bl_model* swapper, const swap_family& family, float* target,
                         float* source) {
    const int64_t size = family.size;
    const int64_t target_shape[4] = {1, 3, size, size};
    const int64_t crop_shape[4] = {1, 3, family.source_size, family.source_size};
    const int64_t embedding_shape[2] = {1, BL_EMBEDDING_SIZE};
    const bool crop_source = family.source == SOURCE_CROP;
    const bl_tensor inputs[2] = {
        {"source", source, crop_source ? crop_shape : embedding_shape, crop_source ? 4u : 2u},
        {"target", target, target_shape, 4},
    };
    static const bl_run_lines LINES = {nullptr, "[face_swap] Run failed: %s\n"};
    bl_run_result result;
    if (bl_model_run(swapper, inputs, 2, 1, &LINES, &result) != BL_RUN_OK)
        return nullptr;
    size_t count = 0;
    const float* planes = result.floats(0, &count);
    if (!planes) return nullptr;
    const size_t wanted = 3 * static_cast<size_t>(size) * static_cast<size_t>(size);
    if (count < wanted) {
        bl_log(BRIGHTLOOM_LOG_ERROR, "[face_swap] Output too short: %zu values, expected %zu\n", count, wanted);
        return nullptr;
    }
    return crop_from_planes(planes, family.size);
}

// Narrows mask by one optional factor: the per-pixel minimum with the map
// that make writes for crop. A factor whose model fails is left out; false
// only when there is no memory for it.
bool narrow_mask(int (*make)(const bl_model*, const bl_image*, float*), const bl_model* model,
                 const bl_image* crop, float* mask, size_t count) {
    bl_malloc_array<float> factor = bl_alloc_array<float>(count);
    if (!factor) return false;
    if (make(model, crop, factor.get()) != 0) return true;
    for (size_t i = 0; i < count; ++i)
        if (factor[i] < mask[i]) mask[i] = factor[i];
    return true;
}

bool is_open(const bl_model* model) { return model && model->is_open(); }

}  // namespace

bl_image* bl_swap_face(const bl_swapper* swapper, const bl_paste_masks& masks,
                       const bl_face* source_face, const bl_face* target_face,
                       const bl_image* target_image, const bl_image* source_image,
                       float mask_blur, const int32_t mask_padding[4]) {
    if (!swapper || !swapper->model.is_open() || !target_image || !target_face || !source_face)
        return nullptr;
    const swap_family family = family_for(swapper->type);
    const int size = family.size;
    const size_t pixels = static_cast<size_t>(size) * size;

    float matrix[6];
    bl_image_ptr target_crop(bl_warp_face_by_landmarks(
        target_image, target_face->landmark5_align, family.target_template, size, size, matrix));
    if (!target_crop) return nullptr;

    bl_malloc_array<float> mask = bl_alloc_array<float>(pixels);
    if (!mask) return nullptr;
    if (bl_create_box_mask(size, size, mask_blur, mask_padding, mask.get()) != 0) return nullptr;
    // Whatever covers the target face must stay visible, so the occlusion is
    // judged on the face before the swap.
    if (is_open(masks.occluder) &&
        !narrow_mask(bl_create_occlusion_mask, masks.occluder, target_crop.get(), mask.get(),
                     pixels))
        return nullptr;

    bl_malloc_array<float> target = bl_malloc_array<float>(
        bl_image_to_chw(target_crop.get(), 1, family.target_mean, family.target_std));
    if (!target) return nullptr;
    bl_malloc_array<float> source = make_source_input(family, source_face, source_image);
    if (!source) return nullptr;

    bl_image_ptr generated = run_swapper(&swapper->model, family, target.get(), source.get());
    if (!generated) return nullptr;
    // The face regions are those of the new face, which is what gets pasted.
    if (is_open(masks.parser) &&
        !narrow_mask(bl_create_region_mask, masks.parser, generated.get(), mask.get(), pixels))
        return nullptr;
    bl_clamp_unit(mask.get(), pixels);

    return bl_paste_back(target_image, generated.get(), mask.get(), matrix);
}
