// The face detector (three model families) and its slot, whose environment
// the landmarker and the recognizer share (face/detector_env.h).
#ifndef BL_FACE_DETECT_H
#define BL_FACE_DETECT_H

#include <stdint.h>

#include "face/face.h"
#include "image/image_io.h"
#include "inference/ort_api.h"

enum { BL_DETECTOR_SCRFD = 0, BL_DETECTOR_YOLOFACE = 1, BL_DETECTOR_YUNET = 2 };

// Opens the detector: 0 when the session was created, -1 otherwise; writes
// its own log lines. Closes the landmarker and the recognizer first, since
// the environment they run in is replaced.
int bl_detect_init(const char* path, const OrtApi* api);
void bl_detect_shutdown(void);

// Family recorded by the last bl_detect_init, from the model's file name.
int bl_detector_type(void);
// Family a model file name selects: the part after the last separator is
// searched for "yoloface", then "yunet"; otherwise scrfd.
int bl_detector_type_for_path(const char* path);

// Finds faces, best first (at most BL_MAX_FACES). Returns the count, 0 when
// none was found or the run failed, -1 on bad arguments, a closed detector or
// when memory runs out. Every candidate at or above the threshold takes part
// in the suppression.
int bl_detect_faces(const bl_image* image, float score_threshold, int input_size,
                    bl_face_list* list);

// Greedy suppression of the detector (IoU 0.4, +1 on every extent): for
// scores that are numbers, descending score order with ties in input order,
// sorted in O(n log n) and stopping once max_keep boxes are kept, so that
// thousands of candidates stay cheap. Returns how many indices it wrote, -1
// when memory runs out.
int bl_detect_suppress(const float* boxes, const float* scores, int count, int max_keep,
                       int32_t* keep);

#endif
