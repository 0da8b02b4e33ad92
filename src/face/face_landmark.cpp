#include "face/face_landmark.h"

#include <stdint.h>

#include "face/landmark_contrast.h"
#include "image/image_math.h"
#include "image/image_warp.h"
#include "inference/model_output.h"
#include "inference/model_session.h"
#include "platform/log_sink.h"

int bl_landmarker_open(const bl_runtime* runtime, const char* path, bl_model* landmarker) {
    return bl_model_open_announced(runtime, path, "[landmark68] Load model failed: %s\n",
                                   "[landmark68] Landmarker loaded: %s\n", landmarker);
}

namespace {

const int LM_CROP = 256;
const int LM_POINTS = 68;
const bl_run_lines LANDMARK_RUN_LINES = {nullptr, nullptr};

}  // namespace

void bl_landmark68_crop_matrix(const float box[4], float m[6]) {
    const float w = box[2] - box[0];
    const float h = box[3] - box[1];
    const float s = 195.0f / (w > h ? w : h);
    m[0] = s;
    m[1] = 0.0f;
    m[2] = (256.0f - (box[0] + box[2]) * s) * 0.5f;
    m[3] = 0.0f;
    m[4] = s;
    m[5] = (256.0f - (box[1] + box[3]) * s) * 0.5f;
}

bl_image* bl_landmark68_crop(const bl_image* image, const float m[6]) {
    bl_image_ptr crop(bl_warp_affine(image, m, LM_CROP, LM_CROP));
    if (!crop || bl_dark_crop_contrast(crop.get()) < 0) return nullptr;
    return crop.release();
}

float bl_detect_landmark68(const bl_model* landmarker, const bl_image* image, bl_face* face) {
    if (!landmarker || !landmarker->is_open() || !image || !face) return 0.0f;
    if (!image->data || image->channels < 3) return 0.0f;
    float m[6];
    bl_landmark68_crop_matrix(face->box, m);
    // An empty or non-finite box gives no usable crop (and would make the
    // warp sample at non-finite positions): nothing to refine.
    if (!bl_all_finite(m, 6)) return 0.0f;
    bl_image_ptr crop(bl_landmark68_crop(image, m));
    if (!crop) return 0.0f;
    bl_malloc_array<float> input(bl_image_to_chw(crop.get(), 1, nullptr, nullptr));
    if (!input) return 0.0f;

    const int64_t shape[4] = {1, 3, LM_CROP, LM_CROP};
    bl_run_result out;
    // A short landmark output is a failed run: the face keeps its points.
    const float* points = bl_model_run_first_output(landmarker, {nullptr, input.get(), shape, 4}, 2,
                                                    static_cast<size_t>(LM_POINTS) * 3,
                                                    &LANDMARK_RUN_LINES, &out);
    if (!points) return 0.0f;

    float inv[6];
    bl_invert_affine(m, inv);
    for (int i = 0; i < LM_POINTS; ++i) {
        const float px = (points[3 * i] * 0.015625f) * 256.0f;
        const float py = (points[3 * i + 1] * 0.015625f) * 256.0f;
        face->landmark68[2 * i] = inv[0] * px + inv[1] * py + inv[2];
        face->landmark68[2 * i + 1] = inv[3] * px + inv[4] * py + inv[5];
    }
    bl_landmark68_to_5(face->landmark68, face->landmark5_align);

    size_t conf_count = 0;
    const float* conf = out.floats(1, &conf_count);
    float best = 0.0f;
    for (size_t i = 0; conf && i < conf_count; ++i)
        if (conf[i] > best) best = conf[i];
    return best;
}

void bl_landmark68_to_5(const float landmark68[136], float out[10]) {
    // Eye centres are the means of the eye contours; nose tip and mouth
    // corners are single points.
    for (int eye = 0; eye < 2; ++eye) {
        const int first = eye == 0 ? 36 : 42;
        float sx = 0.0f, sy = 0.0f;
        for (int k = first; k < first + 6; ++k) {
            sx += landmark68[2 * k];
            sy += landmark68[2 * k + 1];
        }
        out[2 * eye] = sx / 6.0f;
        out[2 * eye + 1] = sy / 6.0f;
    }
    const int singles[3] = {30, 48, 54};
    for (int k = 0; k < 3; ++k) {
        out[4 + 2 * k] = landmark68[2 * singles[k]];
        out[5 + 2 * k] = landmark68[2 * singles[k] + 1];
    }
}
