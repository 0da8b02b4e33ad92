#include "face/face_detect.h"

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <cmath>

#include "image/image_math.h"
#include "image/image_warp.h"
#include "inference/model_session.h"

// The detector owns the environment and memory description; the landmarker
// and the recognizer run in them, so the detector closes last.
static const OrtApi* g_ort = nullptr;
static bl_slot g_det = {};
static bl_slot g_lm68 = {};
static bl_slot g_rec = {};
static int g_detector_type = BL_DETECTOR_SCRFD;

static const bl_slot_lines DETECTOR_LINES = {
    "face_detect",
    "[face_detect] CreateEnv failed: %s\n",
    "[face_detect] CreateMemoryInfo failed\n",
    "[face_detect] Load model failed: %s\n",
    "[face_detect] Load model failed: %s\n",
};
static const bl_slot_lines LANDMARKER_LINES = {
    "face_detect", nullptr, nullptr,
    "[landmark68] Load model failed: %s\n",
    "[landmark68] Load model failed: %s\n",
};
static const bl_slot_lines RECOGNIZER_LINES = {
    "face_detect", nullptr, nullptr,
    "[recognize] Load model failed: %s\n",
    "[recognize] Load model failed: %s\n",
};

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

int bl_detector_type(void) { return g_detector_type; }

// Creates a session in the detector's environment (landmarker, recognizer).
static int create_session(bl_slot* slot, const char* path, const bl_slot_lines* lines) {
    return bl_slot_create_session(g_ort, slot, g_det.env, path, lines);
}

int bl_detect_init(const char* path, const OrtApi* api) {
    // Sessions of the old environment go first: the environment they live in
    // is about to be replaced.
    bl_recognize_shutdown();
    bl_landmark68_shutdown();
    bl_slot_close(g_ort, &g_det);
    g_ort = api;
    if (bl_slot_create_env(g_ort, &g_det, &DETECTOR_LINES) != 0) return -1;
    g_detector_type = bl_detector_type_for_path(path);
    if (bl_slot_create_session(g_ort, &g_det, g_det.env, path, &DETECTOR_LINES) != 0) return -1;
    fprintf(stderr, "[face_detect] Detector loaded: %s\n", path);
    return 0;
}

// Opens a slot that runs in the detector's environment; `tag` names the slot
// in its lines and `what` in its success line.
static int open_in_detector_env(bl_slot* slot, const char* path, const OrtApi* api,
                                const bl_slot_lines* lines, const char* tag, const char* what) {
    if (!g_det.env) {
        fprintf(stderr, "%s Detector must be initialized first\n", tag);
        return -1;
    }
    g_ort = api;
    if (create_session(slot, path, lines) != 0) return -1;
    fprintf(stderr, "%s %s loaded: %s\n", tag, what, path);
    return 0;
}

int bl_landmark68_init(const char* path, const OrtApi* api) {
    return open_in_detector_env(&g_lm68, path, api, &LANDMARKER_LINES, "[landmark68]", "Landmarker");
}

int bl_recognize_init(const char* path, const OrtApi* api) {
    return open_in_detector_env(&g_rec, path, api, &RECOGNIZER_LINES, "[recognize]", "Recognizer");
}

void bl_detect_shutdown(void) { bl_slot_close(g_ort, &g_det); }
void bl_landmark68_shutdown(void) { bl_slot_close(g_ort, &g_lm68); }
void bl_recognize_shutdown(void) { bl_slot_close(g_ort, &g_rec); }

// ---------------------------------------------------------------- detection

namespace {

// A malloc'd array released on every path; none when memory ran out, which
// the callers treat as a failed step instead of letting an exception escape.
template <typename T>
struct c_array {
    T* data = nullptr;
    c_array() = default;
    explicit c_array(size_t count) : data(static_cast<T*>(malloc((count ? count : 1) * sizeof(T)))) {}
    c_array(const c_array&) = delete;
    c_array& operator=(const c_array&) = delete;
    ~c_array() { free(data); }
};

bool all_finite(const float* v, int n) {
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

const bl_run_lines DETECT_RUN_LINES = {"[face_detect] CreateTensor failed: %s\n",
                                       "[face_detect] Run failed: %s\n"};
const bl_run_lines LANDMARK_RUN_LINES = {nullptr, nullptr};
const bl_run_lines RECOGNIZE_RUN_LINES = {nullptr, "[recognize] Run failed: %s\n"};

const int DETECT_STRIDES[3] = {8, 16, 32};
const float DETECT_IOU_THRESHOLD = 0.4f;

// Every candidate above the threshold, in scan order. Sized once per call
// from the model's outputs (the anchor count bounds the candidates), so a
// crowded photo never loses faces to a full buffer before suppression.
struct candidate_set {
    c_array<float> boxes;   // 4 per candidate
    c_array<float> points;  // 10 per candidate
    c_array<float> scores;
    int count = 0;
    int capacity = 0;

    bool reserve(size_t n) {
        if (n > static_cast<size_t>(INT32_MAX / 16)) return false;
        capacity = static_cast<int>(n);
        boxes.data = static_cast<float*>(malloc((n ? n : 1) * 4 * sizeof(float)));
        points.data = static_cast<float*>(malloc((n ? n : 1) * 10 * sizeof(float)));
        scores.data = static_cast<float*>(malloc((n ? n : 1) * sizeof(float)));
        return boxes.data && points.data && scores.data;
    }

    // A score equal to the threshold is kept. A NaN score is no confidence
    // at all and cannot be ordered, so it never becomes a candidate.
    bool accepts(float score, float threshold) const {
        return !(threshold > score) && !std::isnan(score) && count < capacity;
    }
    // Stores the score of a new candidate and returns its index; the caller
    // fills its box and points.
    int add(float score) {
        scores.data[count] = score;
        return count++;
    }
    float* box(int i) { return boxes.data + 4 * i; }
    float* point(int i) { return points.data + 10 * i; }
};

struct source_scale {
    float sx, sy;  // source pixels per model-input pixel
};

// A detector output that holds fewer values than the decoder reads is a model
// we cannot decode: the run counts as failed instead of being read past its end.
bool output_holds(const bl_run_result& out, size_t index, size_t wanted, const float** data) {
    size_t count = 0;
    *data = out.floats(index, &count);
    if (*data && count >= wanted) return true;
    fprintf(stderr, "[face_detect] Run failed: output %zu holds %zu values, %zu expected\n", index,
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
        fprintf(stderr, "[face_detect] Run failed: %zu outputs, 9 expected\n", out.count());
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
        c_array<float> anchors(2 * static_cast<size_t>(n));
        if (!anchors.data) return false;
        bl_create_anchors(stride, 2, side, side, anchors.data);
        const float* scores = maps[t];
        const float* d = maps[3 + t];
        const float* o = maps[6 + t];
        for (int j = 0; j < n; ++j) {
            if (!set->accepts(scores[j], threshold)) continue;
            const float ax = anchors.data[2 * j];
            const float ay = anchors.data[2 * j + 1];
            int c = set->add(scores[j]);
            float* box = set->box(c);
            box[0] = (ax - d[4 * j] * s) * sc.sx;
            box[1] = (ay - d[4 * j + 1] * s) * sc.sy;
            box[2] = (ax + d[4 * j + 2] * s) * sc.sx;
            box[3] = (ay + d[4 * j + 3] * s) * sc.sy;
            float* p = set->point(c);
            for (int k = 0; k < 5; ++k) {
                p[2 * k] = (ax + o[10 * j + 2 * k] * s) * sc.sx;
                p[2 * k + 1] = (ay + o[10 * j + 2 * k + 1] * s) * sc.sy;
            }
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
        fprintf(stderr, "[face_detect] Run failed: output 0 has %d dimensions, 3 expected\n", rank);
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
            p[2 * k] = v[(5 + 3 * k) * n + i] * sc.sx;
            p[2 * k + 1] = v[(6 + 3 * k) * n + i] * sc.sy;
        }
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
                p[2 * k] = (o[10 * j + 2 * k] + column) * s * sc.sx;
                p[2 * k + 1] = (o[10 * j + 2 * k + 1] + row) * s * sc.sy;
            }
        }
    }
}

// Decodes the outputs of the open detector's family into `set`. 0 when the
// candidates (possibly none) are in the set, -1 when the outputs cannot be
// decoded or the set cannot be allocated: both end as a failed run.
int collect_candidates(const bl_run_result& out, int input_size, float threshold,
                       source_scale sc, candidate_set* set) {
    if (g_detector_type == BL_DETECTOR_YOLOFACE) {
        const float* values = nullptr;
        int64_t n = 0;
        if (!yoloface_output(out, &values, &n) || !set->reserve(static_cast<size_t>(n))) return -1;
        decode_yoloface(values, n, threshold, sc, set);
        return 0;
    }
    if (g_detector_type == BL_DETECTOR_YUNET) {
        if (out.count() < 12) return set->reserve(0) ? 0 : -1;
        const float* maps[12] = {};
        size_t cells = 0;
        if (!yunet_outputs(out, input_size, maps, &cells) || !set->reserve(cells)) return -1;
        decode_yunet(maps, input_size, threshold, sc, set);
        return 0;
    }
    const float* maps[9] = {};
    size_t anchors = 0;
    if (!scrfd_outputs(out, input_size, maps, &anchors) || !set->reserve(anchors)) return -1;
    return decode_scrfd(maps, input_size, threshold, sc, set) ? 0 : -1;
}

// Builds the detector's input tensor data: the image stretched to the square
// input, planes B, G, R, scaled as the family expects. None on failure.
float* detector_input(const bl_image* image, int input_size) {
    bl_image* resized = bl_image_resize(image, input_size, input_size);
    if (!resized) return nullptr;
    const size_t plane = static_cast<size_t>(input_size) * static_cast<size_t>(input_size);
    float* input = static_cast<float*>(malloc(3 * plane * sizeof(float)));
    if (input) {
        const int ch = resized->channels;
        const uint8_t* px = resized->data;
        for (size_t i = 0; i < plane; ++i, px += ch) {
            for (int c = 0; c < 3; ++c) {
                const float byte = static_cast<float>(px[2 - c]);
                input[c * plane + i] =
                    g_detector_type == BL_DETECTOR_YUNET ? byte : (byte - 127.5f) * 0.0078125f;
            }
        }
    }
    bl_image_free(resized);
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
    c_array<int32_t> order(static_cast<size_t>(count));
    c_array<uint8_t> suppressed(static_cast<size_t>(count));
    if (!order.data || !suppressed.data) return 0;
    for (int i = 0; i < count; ++i) order.data[i] = i;
    // Stable: equal scores keep their scan order, so the earlier candidate
    // wins a tie, as with an insertion sort, at O(n log n) for crowded maps.
    std::stable_sort(order.data, order.data + count,
                     [scores](int32_t a, int32_t b) { return scores[a] > scores[b]; });
    memset(suppressed.data, 0, static_cast<size_t>(count));
    int kept = 0;
    for (int i = 0; i < count && kept < max_keep; ++i) {
        const int32_t k = order.data[i];
        if (suppressed.data[k]) continue;
        keep[kept++] = k;
        // Once max_keep boxes are kept, later suppression can no longer change them.
        if (kept == max_keep) break;
        const float* kbox = boxes + 4 * k;
        for (int j = i + 1; j < count; ++j) {
            const int32_t c = order.data[j];
            if (!suppressed.data[c] && bl_box_iou(kbox, boxes + 4 * c) > DETECT_IOU_THRESHOLD)
                suppressed.data[c] = 1;
        }
    }
    return kept;
}

int bl_detect_faces(const bl_image* image, float score_threshold, int input_size,
                    bl_face_list* list) {
    if (!image || !list || !g_det.session) return -1;
    list->count = 0;
    if (!image->data || image->channels < 3 || input_size <= 0) return -1;

    float* input = detector_input(image, input_size);
    if (!input) return -1;
    const int64_t shape[4] = {1, 3, input_size, input_size};
    bl_tensor tensor = {nullptr, input, shape, 4};
    bl_run_result out;
    int rc = bl_model_run(g_ort, g_det.session, g_det.mem, &tensor, 1, BL_ALL_OUTPUTS,
                          &DETECT_RUN_LINES, &out);
    free(input);
    if (rc == BL_RUN_TENSOR_FAILED) return -1;
    if (rc != BL_RUN_OK) return 0;

    const source_scale sc = {static_cast<float>(image->width) / static_cast<float>(input_size),
                             static_cast<float>(image->height) / static_cast<float>(input_size)};
    candidate_set set;
    if (collect_candidates(out, input_size, score_threshold, sc, &set) != 0) return 0;
    if (set.count == 0) return 0;

    int32_t keep[BL_MAX_FACES];
    int kept = bl_detect_suppress(set.boxes.data, set.scores.data, set.count, BL_MAX_FACES, keep);
    for (int i = 0; i < kept; ++i)
        fill_face(&list->faces[i], set.box(keep[i]), set.point(keep[i]),
                  set.scores.data[keep[i]]);
    list->count = kept;
    return kept;
}

// ---------------------------------------------------------- 68-point landmarks

namespace {

const int LM_CROP = 256;
const int LM_POINTS = 68;
const float LM_DARK_MEAN = 30.0f;  // mean lightness byte below which a crop is equalised
const int CLAHE_TILES = 8;

float srgb_to_linear(float c) {
    return c <= 0.04045f ? c / 12.92f : powf((c + 0.055f) / 1.055f, 2.4f);
}

float lab_f(float t) { return t > 0.008856f ? cbrtf(t) : 7.787f * t + 0.13793103f; }

uint8_t clamp_byte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

float lab_f_inverse(float f) {
    const float cube = f * f * f;
    return cube > 0.008856f ? cube : (f - 0.13793103f) / 7.787f;
}

uint8_t linear_to_srgb_byte(float c) {
    float v;
    if (c < 0.0f)
        v = 0.0f;
    else if (c > 1.0f)
        v = 1.055f * powf(1.0f, 0.41666666f) - 0.055f;
    else if (c <= 0.0031308f)
        v = 12.92f * c;
    else
        v = 1.055f * powf(c, 0.41666666f) - 0.055f;
    return clamp_byte(static_cast<int>(v * 255.0f + 0.5f));
}

// Per byte value the linearised channel: the same function of the byte for
// every pixel, so it is computed once per crop instead of per sample.
void linear_table(float table[256]) {
    for (int v = 0; v < 256; ++v) table[v] = srgb_to_linear(static_cast<float>(v) / 255.0f);
}

void rgb_to_lab_linear(const float lin[256], const uint8_t rgb[3], uint8_t lab[3]) {
    const float r = lin[rgb[0]], g = lin[rgb[1]], b = lin[rgb[2]];
    const float x = (0.412453f * r + 0.357580f * g + 0.180423f * b) / 0.950456f;
    const float y = 0.212671f * r + 0.715160f * g + 0.072169f * b;
    const float z = (0.019334f * r + 0.119193f * g + 0.950227f * b) / 1.088754f;
    const float fx = lab_f(x), fy = lab_f(y), fz = lab_f(z);
    const float l = y > 0.008856f ? 116.0f * cbrtf(y) - 16.0f : 903.3f * y;
    lab[0] = clamp_byte(static_cast<int>(l * 255.0f / 100.0f + 0.5f));
    lab[1] = clamp_byte(static_cast<int>(500.0f * (fx - fy) + 128.0f + 0.5f));
    lab[2] = clamp_byte(static_cast<int>(200.0f * (fy - fz) + 128.0f + 0.5f));
}

// The 256-entry equalisation table of one tile.
void clahe_tile_table(const uint8_t* plane, int width, int x0, int x1, int y0, int y1,
                      int base_clip, int tile_area, uint8_t table[256]) {
    int hist[256] = {0};
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) ++hist[plane[static_cast<size_t>(y) * width + x]];
    int n = (x1 > x0 && y1 > y0) ? (x1 - x0) * (y1 - y0) : 0;
    if (n < 1) n = 1;
    int clip = n * base_clip / tile_area;
    if (clip < 1) clip = 1;
    int excess = 0;
    for (int k = 0; k < 256; ++k) {
        if (hist[k] > clip) {
            excess += hist[k] - clip;
            hist[k] = clip;
        }
    }
    for (int k = 0; k < 256; ++k) hist[k] += excess / 256;
    for (int k = 0; k < excess % 256; ++k) ++hist[k];
    const float scale = 255.0f / static_cast<float>(n);
    int sum = 0;
    for (int k = 0; k < 256; ++k) {
        sum += hist[k];
        int v = static_cast<int>(static_cast<float>(sum) * scale + 0.5f);
        table[k] = static_cast<uint8_t>(v > 255 ? 255 : v);
    }
}

// Neighbouring tile rows (or columns) of a pixel and the weight of the second.
void clahe_neighbours(int pos, int tile, int* first, int* second, float* weight) {
    const float g = static_cast<float>(pos) / static_cast<float>(tile) - 0.5f;
    *first = static_cast<int>(floorf(g));
    if (*first < 0) {
        *first = *second = 0;
        *weight = 0.0f;
        return;
    }
    *weight = g - static_cast<float>(*first);
    *second = *first + 1;
    if (*second > CLAHE_TILES - 1) *first = *second = CLAHE_TILES - 1;
}

}  // namespace

void bl_rgb_to_lab8(const uint8_t rgb[3], uint8_t lab[3]) {
    float lin[256];
    linear_table(lin);
    rgb_to_lab_linear(lin, rgb, lab);
}

void bl_lab8_to_rgb(const uint8_t lab[3], uint8_t rgb[3]) {
    const float l = static_cast<float>(lab[0]) * 100.0f / 255.0f;
    const float fy = (l + 16.0f) / 116.0f;
    const float y = l > 8.0f ? fy * fy * fy : l / 903.3f;
    const float fx = (static_cast<float>(lab[1]) - 128.0f) / 500.0f + fy;
    const float x = lab_f_inverse(fx) * 0.950456f;
    const float fz = fy - (static_cast<float>(lab[2]) - 128.0f) / 200.0f;
    const float z = lab_f_inverse(fz) * 1.088754f;
    const float r = 3.240479f * x - 1.537150f * y - 0.498535f * z;
    const float g = -0.969256f * x + 1.875992f * y + 0.041556f * z;
    const float b = 0.055648f * x - 0.204043f * y + 1.057311f * z;
    rgb[0] = linear_to_srgb_byte(r);
    rgb[1] = linear_to_srgb_byte(g);
    rgb[2] = linear_to_srgb_byte(b);
}

int bl_clahe8(uint8_t* plane, int width, int height) {
    if (!plane || width <= 0 || height <= 0) return -1;
    const int tw = (width + CLAHE_TILES - 1) / CLAHE_TILES;
    const int th = (height + CLAHE_TILES - 1) / CLAHE_TILES;
    int base_clip = static_cast<int>(2.0 * tw * th / 256);
    if (base_clip < 1) base_clip = 1;
    c_array<uint8_t> tables(CLAHE_TILES * CLAHE_TILES * 256);
    if (!tables.data) return -1;
    for (int ty = 0; ty < CLAHE_TILES; ++ty) {
        for (int tx = 0; tx < CLAHE_TILES; ++tx) {
            const int y0 = ty * th, x0 = tx * tw;
            const int y1 = std::min((ty + 1) * th, height), x1 = std::min((tx + 1) * tw, width);
            clahe_tile_table(plane, width, x0, x1, y0, y1, base_clip, tw * th,
                             tables.data + (ty * CLAHE_TILES + tx) * 256);
        }
    }
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    c_array<uint8_t> out(pixels);
    if (!out.data) return -1;
    for (int y = 0; y < height; ++y) {
        int r1, r2;
        float wy;
        clahe_neighbours(y, th, &r1, &r2, &wy);
        for (int x = 0; x < width; ++x) {
            int c1, c2;
            float wx;
            clahe_neighbours(x, tw, &c1, &c2, &wx);
            const size_t i = static_cast<size_t>(y) * width + x;
            const uint8_t v = plane[i];
            const float t11 = tables.data[(r1 * CLAHE_TILES + c1) * 256 + v];
            const float t12 = tables.data[(r1 * CLAHE_TILES + c2) * 256 + v];
            const float t21 = tables.data[(r2 * CLAHE_TILES + c1) * 256 + v];
            const float t22 = tables.data[(r2 * CLAHE_TILES + c2) * 256 + v];
            const float mapped = t11 * (1.0f - wy) * (1.0f - wx) + t12 * (1.0f - wy) * wx +
                                 t21 * wy * (1.0f - wx) + wx * (t22 * wy) + 0.5f;
            out.data[i] = clamp_byte(static_cast<int>(mapped));
        }
    }
    memcpy(plane, out.data, pixels);
    return 0;
}

int bl_dark_crop_contrast(bl_image* crop) {
    if (!crop || !crop->data || crop->channels < 3) return 0;
    const size_t pixels = static_cast<size_t>(crop->width) * static_cast<size_t>(crop->height);
    if (pixels == 0) return 0;
    c_array<uint8_t> lab(3 * pixels);
    if (!lab.data) return 0;
    float lin[256];
    linear_table(lin);
    const int ch = crop->channels;
    uint64_t lightness = 0;
    for (size_t i = 0; i < pixels; ++i) {
        uint8_t v[3];
        rgb_to_lab_linear(lin, crop->data + i * ch, v);
        lab.data[i] = v[0];
        lab.data[pixels + i] = v[1];
        lab.data[2 * pixels + i] = v[2];
        lightness += v[0];
    }
    const float mean = static_cast<float>(lightness) / static_cast<float>(pixels);
    if (mean >= LM_DARK_MEAN) return 0;
    // Without memory for the equalisation the lightness stays as it is; the
    // round trip still runs, as it would after equalising.
    bl_clahe8(lab.data, crop->width, crop->height);
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t v[3] = {lab.data[i], lab.data[pixels + i], lab.data[2 * pixels + i]};
        bl_lab8_to_rgb(v, crop->data + i * ch);
    }
    return 1;
}

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
    bl_image* crop = bl_warp_affine(image, m, LM_CROP, LM_CROP);
    if (crop) bl_dark_crop_contrast(crop);
    return crop;
}

float bl_detect_landmark68(const bl_image* image, bl_face* face) {
    if (!g_lm68.session || !image || !face) return 0.0f;
    if (!image->data || image->channels < 3) return 0.0f;
    float m[6];
    bl_landmark68_crop_matrix(face->box, m);
    // An empty or non-finite box gives no usable crop (and would make the
    // warp sample at non-finite positions): nothing to refine.
    if (!all_finite(m, 6)) return 0.0f;
    bl_image* crop = bl_landmark68_crop(image, m);
    if (!crop) return 0.0f;
    float* input = bl_image_to_chw(crop, 1, nullptr, nullptr);
    bl_image_free(crop);
    if (!input) return 0.0f;

    const int64_t shape[4] = {1, 3, LM_CROP, LM_CROP};
    bl_tensor tensor = {nullptr, input, shape, 4};
    bl_run_result out;
    int rc = bl_model_run(g_ort, g_lm68.session, g_det.mem, &tensor, 1, 2, &LANDMARK_RUN_LINES,
                          &out);
    free(input);
    if (rc != BL_RUN_OK) return 0.0f;

    // A short landmark output is a failed run: the face keeps its points.
    size_t count = 0;
    const float* points = out.floats(0, &count);
    if (!points || count < static_cast<size_t>(LM_POINTS) * 3) return 0.0f;

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

// ------------------------------------------------------------------ recognizer

int bl_recognize_face(const bl_image* image, bl_face* face) {
    if (!g_rec.session || !image || !face) return -1;
    // Non-finite points cannot be aligned: the warp would sample nowhere.
    if (!all_finite(face->landmark5_align, 10)) return -1;
    const int size = 112;
    bl_image* crop = bl_warp_face_by_landmarks(image, face->landmark5_align,
                                               WARP_TEMPLATE_ARCFACE_112_V2, size, size, nullptr);
    if (!crop) return -1;
    if (crop->channels < 3) {
        bl_image_free(crop);
        return -1;
    }
    bl_image_swap_rb(crop);
    const size_t plane = static_cast<size_t>(size) * size;
    c_array<float> input(3 * plane);
    if (!input.data) {
        bl_image_free(crop);
        return -1;
    }
    const int ch = crop->channels;
    for (size_t i = 0; i < plane; ++i)
        for (int c = 0; c < 3; ++c)
            input.data[c * plane + i] = static_cast<float>(crop->data[i * ch + c]) / 127.5f - 1.0f;
    bl_image_free(crop);

    const int64_t shape[4] = {1, 3, size, size};
    bl_tensor tensor = {nullptr, input.data, shape, 4};
    bl_run_result out;
    if (bl_model_run(g_ort, g_rec.session, g_det.mem, &tensor, 1, 1, &RECOGNIZE_RUN_LINES, &out) !=
        BL_RUN_OK)
        return -1;
    size_t count = 0;
    const float* embedding = out.floats(0, &count);
    if (!embedding) return -1;
    // A short embedding is a failed run, not a vector padded with whatever
    // lies past the output's end.
    if (count < 512) {
        fprintf(stderr, "[recognize] Run failed: output holds %zu values, 512 expected\n", count);
        return -1;
    }
    memcpy(face->embedding, embedding, 512 * sizeof(float));
    memcpy(face->normed_embedding, embedding, 512 * sizeof(float));
    bl_vec_normalize(face->normed_embedding, 512);
    return 0;
}
