// Fixtures shared by the face-analysis tests: the three slots opened on
// chosen models, and small in-memory images.
#ifndef BL_TEST_DETECT_SUPPORT_H
#define BL_TEST_DETECT_SUPPORT_H

#include <stdint.h>

#include <string>

#include "face/face_detect.h"
#include "face/face_landmark.h"
#include "face/face_recognize.h"
#include "image/image_io.h"
#include "inference/ort_api.h"
#include "inference/runtime_loader.h"
#include "support/test_images.h"
#include "support/testutil.h"

namespace bl_test {

inline const OrtApi* ort_api() { return bl_runtime_api_base()->GetApi(BL_ORT_API_VERSION); }

// The shared image owner under the name these tests use.
using ImagePtr = image_ptr;

// A width x height R, G, B image of one colour.
inline ImagePtr solid_image(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    ImagePtr image(bl_image_create(width, height, 3));
    for (int i = 0; i < width * height; ++i) {
        image->data[3 * i] = r;
        image->data[3 * i + 1] = g;
        image->data[3 * i + 2] = b;
    }
    return image;
}

inline void fill_rect(bl_image* image, int x0, int y0, int w, int h, uint8_t r, uint8_t g,
                      uint8_t b) {
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) {
            uint8_t* p = image->data + (static_cast<size_t>(y) * image->width + x) * 3;
            p[0] = r;
            p[1] = g;
            p[2] = b;
        }
}

// The detector (and optionally the landmarker and recognizer) opened on
// generated or real models copied under the names the library expects;
// everything is closed again when this goes out of scope.
class FaceSlots {
public:
    // `detector` is a path below models_dir() unless `absolute` is set;
    // `as` is the file name the library sees (it selects the family).
    FaceSlots(const std::string& detector, const std::string& as, bool absolute = false) {
        std::string path = dir_.file(as);
        copy(absolute ? detector : model_path(detector), path);
        StderrCapture quiet;
        ok_ = bl_detector_open(test_runtime(), path.c_str(), &detector_) == 0;
    }
    ~FaceSlots() {
        bl_model_close(&recognizer_);
        bl_model_close(&landmarker_);
        bl_model_close(&detector_.model);
    }
    bool ok() const { return ok_; }
    bool landmarker(const std::string& generated) {
        std::string path = dir_.file("2dfan4.onnx");
        copy(model_path(generated), path);
        StderrCapture quiet;
        return bl_landmarker_open(test_runtime(), path.c_str(), &landmarker_) == 0;
    }
    bool recognizer(const std::string& generated) {
        std::string path = dir_.file("arcface_w600k_r50.onnx");
        copy(model_path(generated), path);
        StderrCapture quiet;
        return bl_recognizer_open(test_runtime(), path.c_str(), &recognizer_) == 0;
    }
    const bl_detector* detector() const { return &detector_; }
    const bl_model* landmarker() const { return &landmarker_; }
    const bl_model* recognizer() const { return &recognizer_; }

private:
    static void copy(const std::string& from, const std::string& to) {
        std::vector<uint8_t> bytes = read_file(from);
        ASSERT_FALSE(bytes.empty()) << from;
        FILE* f = fopen(to.c_str(), "wb");
        ASSERT_NE(f, nullptr) << to;
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    TempDir dir_;
    bool ok_ = false;
    bl_detector detector_;
    bl_model landmarker_;
    bl_model recognizer_;
};

}  // namespace bl_test

#endif
