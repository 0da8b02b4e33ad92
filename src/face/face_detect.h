// The face detector (three model families).
#ifndef BL_FACE_DETECT_H
#define BL_FACE_DETECT_H

#include <stdint.h>

#include <vector>

#include "face/face.h"
#include "image/image_io.h"
#include "inference/model_session.h"

enum { BL_DETECTOR_SCRFD = 0, BL_DETECTOR_YOLOFACE = 1, BL_DETECTOR_YUNET = 2 };

// The detector model and the family that decides how its outputs are read.
struct bl_detector {
    bl_model model;
    int family = BL_DETECTOR_SCRFD;
};

// Opens the detector at `path` in `runtime`, its family from the file name:
// 0 when the session was created, -1 otherwise; writes its own log lines.
int bl_detector_open(const bl_runtime* runtime, const char* path, bl_detector* detector);

// Family a model file name selects: the part after the last separator is
// searched for "yoloface", then "yunet"; otherwise scrfd.
int bl_detector_type_for_path(const char* path);

enum { BL_DETECT_BAD_INPUT = -1, BL_DETECT_NO_MEMORY = -2, BL_DETECT_RUN_FAILED = -3 };

// Finds at most max_faces faces, best first, appending them to `faces` (a
// caller's list that starts empty). Returns how many, or one of the
// BL_DETECT_* failures. Every candidate at or above the threshold takes part
// in the suppression, so the faces kept do not depend on max_faces.
int bl_detect(const bl_detector* detector, const bl_image* image, float score_threshold,
              int input_size, int max_faces, std::vector<bl_face>* faces);

// bl_detect into a fixed list (at most BL_MAX_FACES). Returns the count, 0
// when none was found or the run failed, -1 on bad arguments, a closed
// detector or when memory runs out.
int bl_detect_faces(const bl_detector* detector, const bl_image* image, float score_threshold,
                    int input_size, bl_face_list* list);

// Greedy suppression of the detector (IoU 0.4, +1 on every extent): for
// scores that are numbers, descending score order with ties in input order,
// sorted in O(n log n) and stopping once max_keep boxes are kept, so that
// thousands of candidates stay cheap. Returns how many indices it wrote, -1
// when memory runs out.
int bl_detect_suppress(const float* boxes, const float* scores, int count, int max_keep,
                       int32_t* keep);

#endif
