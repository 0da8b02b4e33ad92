// Face analysis: the detector (three model families), the 68-point landmarker
// and the recognizer, with their three model slots.
#ifndef BL_FACE_DETECT_H
#define BL_FACE_DETECT_H

#include <stdint.h>

#include "image/image_io.h"
#include "inference/ort_api.h"

#define BL_MAX_FACES 64

// One detected face. Plain data: may be copied whole.
struct bl_face {
    float box[4];                 // x1, y1, x2, y2 in source-image pixels
    float landmark5[10];          // the detector's five points
    float score;                  // detector confidence
    float landmark68[136];        // refined points; zero until the landmarker runs
    float landmark5_align[10];    // the points every alignment uses
    float embedding[512];         // raw identity vector; zero until recognized
    float normed_embedding[512];  // embedding at unit length
};

struct bl_face_list {
    bl_face faces[BL_MAX_FACES];  // best score first
    int32_t count;
};

enum { BL_DETECTOR_SCRFD = 0, BL_DETECTOR_YOLOFACE = 1, BL_DETECTOR_YUNET = 2 };

// Slots. Each open returns 0 when the session was created, -1 otherwise, and
// writes its own log lines. The landmarker and recognizer run in the
// detector's environment and refuse to open before it exists.
int bl_detect_init(const char* path, const OrtApi* api);
int bl_landmark68_init(const char* path, const OrtApi* api);
int bl_recognize_init(const char* path, const OrtApi* api);
void bl_detect_shutdown(void);
void bl_landmark68_shutdown(void);
void bl_recognize_shutdown(void);

// Family recorded by the last bl_detect_init, from the model's file name.
int bl_detector_type(void);
// Family a model file name selects: the part after the last separator is
// searched for "yoloface", then "yunet"; otherwise scrfd.
int bl_detector_type_for_path(const char* path);

// Finds faces, best first (at most BL_MAX_FACES). Returns the count, 0 when
// none was found or the run failed, -1 on bad arguments or a closed detector.
// Every candidate at or above the threshold takes part in the suppression.
int bl_detect_faces(const bl_image* image, float score_threshold, int input_size,
                    bl_face_list* list);

// Greedy suppression of the detector (IoU 0.4, +1 on every extent): for
// scores that are numbers, the first max_keep indices bl_nms would keep, but
// sorted in O(n log n) and stopping once max_keep boxes are kept, so that
// thousands of candidates stay cheap. Returns how many indices it wrote.
int bl_detect_suppress(const float* boxes, const float* scores, int count, int max_keep,
                       int32_t* keep);

// Refines face->landmark68 and landmark5_align; returns the model's confidence,
// 0 when nothing was done.
float bl_detect_landmark68(const bl_image* image, bl_face* face);
void bl_landmark68_to_5(const float landmark68[136], float out[10]);

// The landmarker's steps, for tests: the matrix that centres the box in the
// 256 x 256 crop with its longer side over 195 pixels; the crop as the model
// receives it; the dark-crop step (1 when it equalised the crop, 0 when the
// crop was left alone); 8-bit Lab conversions; contrast-limited adaptive
// equalisation of one byte plane in place (0, or -1 without memory).
void bl_landmark68_crop_matrix(const float box[4], float m[6]);
bl_image* bl_landmark68_crop(const bl_image* image, const float m[6]);
int bl_dark_crop_contrast(bl_image* crop);
void bl_rgb_to_lab8(const uint8_t rgb[3], uint8_t lab[3]);
void bl_lab8_to_rgb(const uint8_t lab[3], uint8_t rgb[3]);
int bl_clahe8(uint8_t* plane, int width, int height);

// Fills face->embedding and normed_embedding. 0 or -1.
int bl_recognize_face(const bl_image* image, bl_face* face);

#endif
