#include "face/face_detect.h"

#include <stdio.h>
#include <string.h>

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

int bl_landmark68_init(const char* path, const OrtApi* api) {
    if (!g_det.env) {
        fprintf(stderr, "[landmark68] Detector must be initialized first\n");
        return -1;
    }
    g_ort = api;
    if (create_session(&g_lm68, path, &LANDMARKER_LINES) != 0) return -1;
    fprintf(stderr, "[landmark68] Landmarker loaded: %s\n", path);
    return 0;
}

int bl_recognize_init(const char* path, const OrtApi* api) {
    if (!g_det.env) {
        fprintf(stderr, "[recognize] Detector must be initialized first\n");
        return -1;
    }
    g_ort = api;
    if (create_session(&g_rec, path, &RECOGNIZER_LINES) != 0) return -1;
    fprintf(stderr, "[recognize] Recognizer loaded: %s\n", path);
    return 0;
}

void bl_detect_shutdown(void) { bl_slot_close(g_ort, &g_det); }
void bl_landmark68_shutdown(void) { bl_slot_close(g_ort, &g_lm68); }
void bl_recognize_shutdown(void) { bl_slot_close(g_ort, &g_rec); }

// ---------------------------------------------------------------- detection

int bl_detect_faces(const bl_image* image, float score_threshold, int input_size,
                    bl_face_list* list) {
    (void)score_threshold;
    (void)input_size;
    if (!image || !list || !g_det.session) return -1;
    list->count = 0;
    return 0;
}

// ---------------------------------------------------------- 68-point landmarks

float bl_detect_landmark68(const bl_image* image, bl_face* face) {
    if (!g_lm68.session || !image || !face) return 0.0f;
    return 0.0f;
}

void bl_landmark68_to_5(const float landmark68[136], float out[10]) {
    (void)landmark68;
    (void)out;
}

// ------------------------------------------------------------------ recognizer

int bl_recognize_face(const bl_image* image, bl_face* face) {
    if (!g_rec.session || !image || !face) return -1;
    return -1;
}
