#include "support/reference_math.h"

#include <math.h>
#include <stddef.h>

#include <algorithm>
#include <vector>

#include "image/image_math.h"
#include "image/image_sample.h"

namespace bl_test {

int reference_nms(const float* boxes, const float* scores, int count, float iou_threshold,
                  int32_t* keep) {
    if (count <= 0 || !boxes || !scores || !keep) return 0;
    std::vector<int32_t> order(static_cast<size_t>(count));
    std::vector<uint8_t> suppressed(static_cast<size_t>(count), 0);
    for (int i = 0; i < count; ++i) order[i] = i;
    // An entry moves ahead only while its predecessor's score is strictly
    // lower, so a NaN score stops it where it stands.
    for (int i = 1; i < count; ++i) {
        const int32_t entry = order[i];
        int j = i;
        while (j > 0 && scores[order[j - 1]] < scores[entry]) {
            order[j] = order[j - 1];
            --j;
        }
        order[j] = entry;
    }
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        const int32_t k = order[i];
        if (suppressed[k]) continue;
        keep[kept++] = k;
        for (int j = i + 1; j < count; ++j) {
            const int32_t c = order[j];
            // Equal to the threshold keeps the candidate.
            if (!suppressed[c] &&
                bl_box_iou(boxes + 4 * static_cast<size_t>(k), boxes + 4 * static_cast<size_t>(c)) >
                    iou_threshold)
                suppressed[c] = 1;
        }
    }
    return kept;
}

float vec_dot(const float* a, const float* b, int length) {
    float sum = 0.0f;
    for (int i = 0; i < length; ++i) sum += a[i] * b[i];
    return sum;
}

void mat_vec_mul(const float* matrix, const float* vector, float* output, int rows, int cols) {
    for (int r = 0; r < rows; ++r) {
        const float* row = matrix + static_cast<size_t>(r) * static_cast<size_t>(std::max(cols, 0));
        float sum = 0.0f;
        for (int c = 0; c < cols; ++c) sum += row[c] * vector[c];
        output[r] = sum;
    }
}

namespace {

uint8_t sample_byte(const bl_image* image, int x0, int y0, int c, float fx, float fy) {
    const size_t ch = static_cast<size_t>(image->channels);
    const size_t stride = static_cast<size_t>(image->width) * ch;
    const uint8_t* p =
        image->data + static_cast<size_t>(y0) * stride + static_cast<size_t>(x0) * ch;
    const float v = bl_bilinear(p[c], p[ch + c], p[stride + c], p[stride + ch + c], fx, fy);
    return static_cast<uint8_t>(static_cast<int>(v + 0.5f));
}

}  // namespace

bl_image* paste_back_full_scan(const bl_image* frame, const bl_image* crop, const float* mask,
                               const float matrix[6]) {
    if (!frame || !crop || !mask || !matrix) return nullptr;
    const int blended = std::min(std::max(frame->channels, 0), 4);
    if (crop->channels < blended || crop->channels > 16) return nullptr;
    if (!crop->data && crop->width > 1 && crop->height > 1) return nullptr;
    bl_image* out = bl_image_clone(frame);
    if (!out) return nullptr;
    const float* m = matrix;
    for (int y = 0; y < out->height; ++y) {
        for (int x = 0; x < out->width; ++x) {
            const float fx_ = static_cast<float>(x), fy_ = static_cast<float>(y);
            const float cx = m[0] * fx_ + m[1] * fy_ + m[2];
            const float cy = m[3] * fx_ + m[4] * fy_ + m[5];
            if (!(cx >= 0.0f && cx < static_cast<float>(crop->width - 1))) continue;
            if (!(cy >= 0.0f && cy < static_cast<float>(crop->height - 1))) continue;
            const int x0 = static_cast<int>(cx), y0 = static_cast<int>(cy);
            const float fx = cx - static_cast<float>(x0), fy = cy - static_cast<float>(y0);
            const float* m0 = mask + static_cast<size_t>(y0) * crop->width;
            const float* m1 = m0 + crop->width;
            const float w = bl_bilinear(m0[x0], m0[x0 + 1], m1[x0], m1[x0 + 1], fx, fy);
            const float alpha = std::min(std::max(w, 0.0f), 1.0f);
            uint8_t* pixel = out->data + (static_cast<size_t>(y) * out->width + x) * out->channels;
            for (int c = 0; c < blended; ++c) {
                const float v = static_cast<float>(sample_byte(crop, x0, y0, c, fx, fy)) * alpha +
                                static_cast<float>(pixel[c]) * (1.0f - alpha) + 0.5f;
                pixel[c] = static_cast<uint8_t>(static_cast<int>(v));
            }
        }
    }
    return out;
}

}  // namespace bl_test
