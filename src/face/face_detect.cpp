#include "face/face_detect.h"

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <cmath>

#include "image/image_math.h"
#include "inference/model_session.h"
#include "platform/log_sink.h"

int bl_detector_type_for_path(const char* path) {
    // Only the file name decides: a directory called "yunet-models" must not
    // turn an scrfd model into a yunet one.
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    if (strstr(name, "yoloface")) return BL_DETECTOR_YOLOFACE;
    if (strstr(name, "yunet")) return BL_DETECTOR_YUNET;
    return BL_DETECTOR_SCRFD;
}

int bl_detector_open(const bl_runtime* runtime, const char* path, bl_detector* detector) {
    detector->family = bl_detector_type_for_path(path);
    return bl_model_open_announced(runtime, path, "[face_detect] Load model failed: %s\n",
                                   "[face_detect] Detector loaded: %s\n", &detector->model);
}

// ---------------------------------------------------------------- detection

namespace {

const bl_run_lines DETECT_RUN_LINES = {"[face_detect] CreateTensor failed: %s\n",
                                       "[face_detect] Run failed: %s\n"};

const int DETECT_STRIDES[3] = {8, 16, 32};
const float DETECT_IOU_THRESHOLD = 0.4f;

// Every candidate above the threshold, in scan order. Sized once per call
// from the model's outputs (the anchor count bounds the candidates), so a
// crowded photo never loses faces to a full buffer before suppression.
struct candidate_set {
    bl_malloc_array<float> boxes;   // 4 per candidate
    bl_malloc_array<float> points;  // 10 per candidate
    bl_malloc_array<float> scores;
    int count = 0;
    int capacity = 0;

    bool reserve(size_t n) {
        if (n > static_cast<size_t>(INT32_MAX / 16)) return false;  // no buffer that large
        capacity = static_cast<int>(n);
        boxes = bl_alloc_array<float>(4 * n);
        points = bl_alloc_array<float>(10 * n);
        scores = bl_alloc_array<float>(n);
        return boxes && points && scores;
    }

    // A score equal to the threshold is kept. A NaN score is no confidence
    // at all and cannot be ordered, so it never becomes a candidate.
    bool accepts(float score, float threshold) const {
        return !(threshold > score) && !std::isnan(score) && count < capacity;
    }
    // Stores the score of a new candidate and returns its index; the caller
    // fills its box and points.
    int add(float score) {
        scores[count] = score;
        return count++;
    }
    float* box(int i) { return boxes.get() + 4 * i; }
    float* point(int i) { return points.get() + 10 * i; }
};

struct source_scale {
    float sx, sy;  // source pixels per model-input pixel
};

// Scales `count` points (x, y) given in model-input pixels to the source image.
void scale_to_source(float* xy, int count, source_scale sc) {
    for (int k = 0; k < count; ++k) {
        xy[2 * k] *= sc.sx;
        xy[2 * k + 1] *= sc.sy;
    }
}

// A detector output that holds fewer values than the decoder reads is a model
// we cannot decode: the run counts as failed instead of being read past its end.
bool output_holds(const bl_run_result& out, size_t index, size_t wanted, const float** data) {
    size_t count = 0;
    *data = out.floats(index, &count);
    if (*data && count >= wanted) return true;
    bl_log(BRIGHTLOOM_LOG_ERROR, "[face_detect] Run failed: output %zu holds %zu values, %zu expected\n", index,
            *data ? count : static_cast<size_t>(0), wanted);
    return false;
}

size_t cells_of(int input_size, int stride) {
    size_t side = static_cast<size_t>(input_size / stride);
    return side * side;
}

// scrfd: nine outputs, per stride a score per anchor (two anchors per cell),
// four distances and ten landmark offsets per anchor, both in stride units.
bool scrfd_outputs(const bl_run_result& out, int input_size, const float* maps[9],
                   size_t* anchors) {
    if (out.count() < 9) {
        bl_log(BRIGHTLOOM_LOG_ERROR, "[face_detect] Run failed: %zu outputs, 9 expected\n", out.count());
        return false;
    }
    *anchors = 0;
    for (int t = 0; t < 3; ++t) {
        size_t n = 2 * cells_of(input_size, DETECT_STRIDES[t]);
        if (!output_holds(out, t, n, &maps[t]) || !output_holds(out, 3 + t, 4 * n, &maps[3 + t]) ||
            !output_holds(out, 6 + t, 10 * n, &maps[6 + t]))
            return false;
        *anchors += n;
    }
    return true;
}

bool decode_scrfd(const float* const maps[9], int input_size, float threshold, source_scale sc,
                  candidate_set* set) {
    for (int t = 0; t < 3; ++t) {
        const int stride = DETECT_STRIDES[t];
        const float s = static_cast<float>(stride);
        const int side = input_size / stride;
        const int n = 2 * side * side;
        bl_malloc_array<float> anchors = bl_alloc_array<float>(2 * static_cast<size_t>(n));
        if (!anchors) return false;
        bl_create_anchors(stride, 2, side, side, anchors.get());
        const float* scores = maps[t];
        for (int j = 0; j < n; ++j) {
            if (!set->accepts(scores[j], threshold)) continue;
            int c = set->add(scores[j]);
            const float* anchor = anchors.get() + 2 * j;
            bl_decode_boxes(anchor, maps[3 + t] + 4 * j, 1, s, set->box(c));
            scale_to_source(set->box(c), 2, sc);
            bl_decode_landmarks(anchor, maps[6 + t] + 10 * j, 1, s, set->point(c));
            scale_to_source(set->point(c), 5, sc);
        }
    }
    return true;
}

// Stores a candidate box given by its centre and size in model-input pixels,
// scaled back to the source image.
void store_centre_box(float* box, float cx, float cy, float w, float h, source_scale sc) {
    box[0] = (cx - 0.5f * w) * sc.sx;
    box[1] = (cy - 0.5f * h) * sc.sy;
    box[2] = (cx + 0.5f * w) * sc.sx;
    box[3] = (cy + 0.5f * h) * sc.sy;
}

// yoloface: one [1, 20, N] output, channel-major, positions in input pixels.
bool yoloface_output(const bl_run_result& out, const float** values, int64_t* n) {
    int64_t dims[3] = {0, 0, 0};
    int rank = out.shape(0, dims, 3);
    if (rank < 3) {
        bl_log(BRIGHTLOOM_LOG_ERROR, "[face_detect] Run failed: output 0 has %d dimensions, 3 expected\n", rank);
        return false;
    }
    *n = dims[2] > 0 ? dims[2] : 0;
    if (*n == 0) return true;  // an empty output: no candidates, nothing to read
    return output_holds(out, 0, 20 * static_cast<size_t>(*n), values);
}

void decode_yoloface(const float* v, int64_t n, float threshold, source_scale sc,
                     candidate_set* set) {
    for (int64_t i = 0; i < n; ++i) {
        const float score = v[4 * n + i];
        if (!set->accepts(score, threshold)) continue;
        const float cx = v[i], cy = v[n + i], w = v[2 * n + i], h = v[3 * n + i];
        int c = set->add(score);
        store_centre_box(set->box(c), cx, cy, w, h, sc);
        float* p = set->point(c);
        for (int k = 0; k < 5; ++k) {
            p[2 * k] = v[(5 + 3 * k) * n + i];
            p[2 * k + 1] = v[(6 + 3 * k) * n + i];
        }
        scale_to_source(p, 5, sc);
    }
}

// yunet: twelve outputs, per stride class score, objectness, box and
// landmarks, one anchor per cell. Fewer outputs give no candidates.
bool yunet_outputs(const bl_run_result& out, int input_size, const float* maps[12],
                   size_t* cells) {
    *cells = 0;
    for (int t = 0; t < 3; ++t) {
        size_t n = cells_of(input_size, DETECT_STRIDES[t]);
        if (!output_holds(out, t, n, &maps[t]) || !output_holds(out, 3 + t, n, &maps[3 + t]) ||
            !output_holds(out, 6 + t, 4 * n, &maps[6 + t]) ||
            !output_holds(out, 9 + t, 10 * n, &maps[9 + t]))
            return false;
        *cells += n;
    }
    return true;
}

float clamp_unit(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

void decode_yunet(const float* const maps[12], int input_size, float threshold, source_scale sc,
                  candidate_set* set) {
    for (int t = 0; t < 3; ++t) {
        const float s = static_cast<float>(DETECT_STRIDES[t]);
        const int side = input_size / DETECT_STRIDES[t];
        const float* cls = maps[t];
        const float* obj = maps[3 + t];
        const float* b = maps[6 + t];
        const float* o = maps[9 + t];
        for (int j = 0; j < side * side; ++j) {
            const float score = sqrtf(clamp_unit(cls[j]) * clamp_unit(obj[j]));
            if (!set->accepts(score, threshold)) continue;
            const float column = static_cast<float>(j % side);
            const float row = static_cast<float>(j / side);
            const float cx = (b[4 * j] + column) * s;
            const float cy = (b[4 * j + 1] + row) * s;
            const float w = expf(b[4 * j + 2]) * s;
            const float h = expf(b[4 * j + 3]) * s;
            int c = set->add(score);
            store_centre_box(set->box(c), cx, cy, w, h, sc);
            float* p = set->point(c);
            for (int k = 0; k < 5; ++k) {
                p[2 * k] = (o[10 * j + 2 * k] + column) * s;
                p[2 * k + 1] = (o[10 * j + 2 * k + 1] + row) * s;
            }
            scale_to_source(p, 5, sc);
        }
    }
}

enum { COLLECTED = 0, UNDECODABLE = -1, NO_MEMORY = -2 };

// Decodes the outputs of the open detector's family into `set`: COLLECTED
// when the candidates (possibly none) are in the set, UNDECODABLE when the
// outputs do not fit the family (a failed run), NO_MEMORY.
int collect_candidates(int family, const bl_run_result& out, int input_size, float threshold,
                       source_scale sc, candidate_set* set) {
    if (family == BL_DETECTOR_YOLOFACE) {
        const float* values = nullptr;
        int64_t n = 0;
        if (!yoloface_output(out, &values, &n)) return UNDECODABLE;
        if (!set->reserve(static_cast<size_t>(n))) return NO_MEMORY;
        decode_yoloface(values, n, threshold, sc, set);
        return COLLECTED;
    }
    if (family == BL_DETECTOR_YUNET) {
        if (out.count() < 12) return set->reserve(0) ? COLLECTED : NO_MEMORY;
        const float* maps[12] = {};
        size_t cells = 0;
        if (!yunet_outputs(out, input_size, maps, &cells)) return UNDECODABLE;
        if (!set->reserve(cells)) return NO_MEMORY;
        decode_yunet(maps, input_size, threshold, sc, set);
        return COLLECTED;
    }
    const float* maps[9] = {};
    size_t anchors = 0;
    if (!scrfd_outputs(out, input_size, maps, &anchors)) return UNDECODABLE;
    if (!set->reserve(anchors)) return NO_MEMORY;
    return decode_scrfd(maps, input_size, threshold, sc, set) ? COLLECTED : NO_MEMORY;
}

// Builds the detector's input tensor data: the image stretched to the square
// input, planes B, G, R, scaled as the family expects. None on failure.
bl_malloc_array<float> detector_input(int family, const bl_image* image, int input_size) {
    bl_image_ptr resized(bl_image_resize(image, input_size, input_size));
    if (!resized) return nullptr;
    const size_t plane = static_cast<size_t>(input_size) * static_cast<size_t>(input_size);
    bl_malloc_array<float> input = bl_alloc_array<float>(3 * plane);
    if (!input) return nullptr;
    const int ch = resized->channels;
    const uint8_t* px = resized->data;
    for (size_t i = 0; i < plane; ++i, px += ch) {
        for (int c = 0; c < 3; ++c) {
            const float byte = static_cast<float>(px[2 - c]);
            input[c * plane + i] =
                family == BL_DETECTOR_YUNET ? byte : (byte - 127.5f) * 0.0078125f;
        }
    }
    return input;
}

void fill_face(bl_face* face, const float* box, const float* points, float score) {
    memset(face, 0, sizeof(*face));
    memcpy(face->box, box, sizeof(face->box));
    memcpy(face->landmark5, points, sizeof(face->landmark5));
    memcpy(face->landmark5_align, points, sizeof(face->landmark5_align));
    face->score = score;
}

}  // namespace

int bl_detect_suppress(const float* boxes, const float* scores, int count, int max_keep,
                       int32_t* keep) {
    if (count <= 0 || max_keep <= 0) return 0;
    bl_malloc_array<int32_t> order = bl_alloc_array<int32_t>(static_cast<size_t>(count));
    bl_malloc_array<uint8_t> suppressed = bl_alloc_array<uint8_t>(static_cast<size_t>(count));
    if (!order || !suppressed) return -1;
    for (int i = 0; i < count; ++i) order[i] = i;
    // Stable: equal scores keep their scan order, so the earlier candidate
    // wins a tie, as with an insertion sort, at O(n log n) for crowded maps.
    std::stable_sort(order.get(), order.get() + count,
                     [scores](int32_t a, int32_t b) { return scores[a] > scores[b]; });
    memset(suppressed.get(), 0, static_cast<size_t>(count));
    int kept = 0;
    for (int i = 0; i < count && kept < max_keep; ++i) {
        const int32_t k = order[i];
        if (suppressed[k]) continue;
        keep[kept++] = k;
        // Once max_keep boxes are kept, later suppression can no longer change them.
        if (kept == max_keep) break;
        const float* kbox = boxes + 4 * k;
        for (int j = i + 1; j < count; ++j) {
            const int32_t c = order[j];
            if (!suppressed[c] && bl_box_iou(kbox, boxes + 4 * c) > DETECT_IOU_THRESHOLD)
                suppressed[c] = 1;
        }
    }
    return kept;
}

int bl_detect(const bl_detector* detector, const bl_image* image, float score_threshold,
              int input_size, int max_faces, std::vector<bl_face>* faces) {
    if (!detector || !image || !faces || !detector->model.is_open()) return BL_DETECT_BAD_INPUT;
    if (!image->data || image->channels < 3 || input_size <= 0) return BL_DETECT_BAD_INPUT;

    bl_malloc_array<float> input = detector_input(detector->family, image, input_size);
    if (!input) return BL_DETECT_NO_MEMORY;
    const int64_t shape[4] = {1, 3, input_size, input_size};
    bl_tensor tensor = {nullptr, input.get(), shape, 4};
    bl_run_result out;
    int rc = bl_model_run(&detector->model, &tensor, 1, BL_ALL_OUTPUTS, &DETECT_RUN_LINES, &out);
    input.reset();  // the outputs are decoded without it
    if (rc == BL_RUN_TENSOR_FAILED) return BL_DETECT_NO_MEMORY;
    if (rc != BL_RUN_OK) return BL_DETECT_RUN_FAILED;

    const source_scale sc = {static_cast<float>(image->width) / static_cast<float>(input_size),
                             static_cast<float>(image->height) / static_cast<float>(input_size)};
    candidate_set set;
    const int collected =
        collect_candidates(detector->family, out, input_size, score_threshold, sc, &set);
    if (collected == NO_MEMORY) return BL_DETECT_NO_MEMORY;
    if (collected != COLLECTED) return BL_DETECT_RUN_FAILED;
    if (set.count == 0 || max_faces <= 0) return 0;

    const int limit = max_faces < set.count ? max_faces : set.count;
    bl_malloc_array<int32_t> keep = bl_alloc_array<int32_t>(static_cast<size_t>(limit));
    if (!keep) return BL_DETECT_NO_MEMORY;
    int kept = bl_detect_suppress(set.boxes.get(), set.scores.get(), set.count, limit, keep.get());
    if (kept < 0) return BL_DETECT_NO_MEMORY;
    const size_t first = faces->size();
    faces->resize(first + static_cast<size_t>(kept));
    for (int i = 0; i < kept; ++i)
        fill_face(&(*faces)[first + i], set.box(keep[i]), set.point(keep[i]), set.scores[keep[i]]);
    return kept;
}

int bl_detect_faces(const bl_detector* detector, const bl_image* image, float score_threshold,
                    int input_size, bl_face_list* list) {
    if (!detector || !image || !list || !detector->model.is_open()) return -1;
    list->count = 0;
    std::vector<bl_face> faces;
    int found = bl_detect(detector, image, score_threshold, input_size, BL_MAX_FACES, &faces);
    if (found == BL_DETECT_RUN_FAILED) return 0;
    if (found < 0) return -1;
    for (int i = 0; i < found; ++i) list->faces[i] = faces[static_cast<size_t>(i)];
    list->count = found;
    return found;
}
