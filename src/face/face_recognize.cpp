#include "face/face_recognize.h"

#include <stdio.h>
#include <string.h>

#include "image/image_math.h"
#include "image/image_warp.h"
#include "inference/model_output.h"
#include "inference/model_session.h"
#include "platform/log_sink.h"

int bl_recognizer_open(const bl_runtime* runtime, const char* path, bl_model* recognizer) {
    return bl_model_open_announced(runtime, path, "[recognize] Load model failed: %s\n",
                                   "[recognize] Recognizer loaded: %s\n", recognizer);
}

namespace {

const int RECOGNIZER_SIZE = 112;
const bl_run_lines RECOGNIZE_RUN_LINES = {nullptr, "[recognize] Run failed: %s\n",
                                          "[recognize] Run failed: output holds %zu values, %zu expected\n"};

// The aligned crop as the recognizer takes it: planes B, G, R scaled to
// -1 ... 1. None when the face cannot be cut out or memory runs out.
bl_malloc_array<float> recognizer_input(const bl_image* image, const float landmarks[10]) {
    const int size = RECOGNIZER_SIZE;
    bl_image_ptr crop(bl_warp_face_by_landmarks(image, landmarks, WARP_TEMPLATE_ARCFACE_112_V2,
                                                size, size, nullptr));
    if (!crop || crop->channels < 3) return nullptr;
    bl_image_swap_rb(crop.get());
    const size_t plane = static_cast<size_t>(size) * size;
    bl_malloc_array<float> input = bl_alloc_array<float>(3 * plane);
    if (!input) return nullptr;
    const int ch = crop->channels;
    for (size_t i = 0; i < plane; ++i)
        for (int c = 0; c < 3; ++c)
            input[c * plane + i] = static_cast<float>(crop->data[i * ch + c]) / 127.5f - 1.0f;
    return input;
}

}  // namespace

int bl_recognize_face(const bl_model* recognizer, const bl_image* image, bl_face* face) {
    if (!recognizer || !recognizer->is_open() || !image || !face) return -1;
    // Non-finite points cannot be aligned: the warp would sample nowhere.
    if (!bl_all_finite(face->landmark5_align, 10)) return -1;
    bl_malloc_array<float> input = recognizer_input(image, face->landmark5_align);
    if (!input) return -1;

    const int64_t shape[4] = {1, 3, RECOGNIZER_SIZE, RECOGNIZER_SIZE};
    bl_run_result out;
    // A short embedding is a failed run, not a vector padded with whatever
    // lies past the output's end.
    const float* embedding =
        bl_model_run_first_output(recognizer, {nullptr, input.get(), shape, 4}, 1,
                                  BL_EMBEDDING_SIZE, &RECOGNIZE_RUN_LINES, &out);
    if (!embedding) return -1;
    memcpy(face->embedding, embedding, BL_EMBEDDING_SIZE * sizeof(float));
    memcpy(face->normed_embedding, embedding, BL_EMBEDDING_SIZE * sizeof(float));
    bl_vec_normalize(face->normed_embedding, BL_EMBEDDING_SIZE);
    return 0;
}
