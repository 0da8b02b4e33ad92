// Shared fixtures of the test suite: temporary folders, model directories
// built from the generated models, capture of standard error, small images.
#ifndef BL_TESTUTIL_H
#define BL_TESTUTIL_H

#include <stdint.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "inference/model_session.h"
#include "inference/ort_api.h"
#include "support/posix_shims.h"

namespace bl_test {

// Folder of the generated stand-in models (build tree).
std::string models_dir();
// Path of one generated model, e.g. model_path("slots/scrfd_2.5g.onnx").
std::string model_path(const std::string& relative);
// Folder of the real models and photos beside the project, or "" when absent.
std::string assets_dir();

// Messages of the public interface that several areas' tests expect.
extern const char NOT_INITIALIZED[];
extern const char SWAP_NOT_AVAILABLE[];
extern const char VIDEO_NOT_INITIALIZED[];
// brightloom_get_error() as a string, for comparisons.
std::string last_error();

// The runtime's function table, for tests that open model slots directly.
const OrtApi* runtime_api();
// A runtime for tests that open models directly (none when the runtime
// library cannot be loaded).
const bl_runtime* test_runtime();

// Skips the current test, with a message, when the shared real assets are absent.
#define BL_REQUIRE_ASSETS()                                                        \
    do {                                                                           \
        if (bl_test::assets_dir().empty())                                         \
            GTEST_SKIP() << "shared assets not found beside the project; skipped"; \
    } while (0)

// A fresh folder under the system's temporary folder, removed with its
// contents when this goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A model directory holding copies of generated models under chosen names.
class ModelDir : public TempDir {
public:
    // Copies model_path(generated) into the folder as `name` (default: the
    // generated file's own name).
    ModelDir& add(const std::string& generated, const std::string& name = "");
    // Every file of models_dir()/slots: a full set of loadable models.
    ModelDir& add_all_slots();
    ModelDir& remove(const std::string& name);
};

// Captures what is written to standard error between construction and text().
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    // Stops capturing (once) and returns everything captured.
    std::string text();

private:
    int saved_fd_ = -1;
    std::string file_;
    std::string text_;
    bool done_ = false;
};

// Count of non-overlapping occurrences of needle in haystack.
int count_of(const std::string& haystack, const std::string& needle);

// Writes a width x height RGB image whose pixel (x, y) comes from `pixel`,
// in the format of the path's extension. Fails the test on error.
void write_image(const std::string& path, int width, int height,
                 const std::function<void(int x, int y, uint8_t rgb[3])>& pixel);
// A uniformly coloured image.
void write_solid_image(const std::string& path, int width, int height, uint8_t r, uint8_t g,
                       uint8_t b);

// A filesystem path for a UTF-8 string (the library's encoding for paths).
std::filesystem::path native_path(const std::string& utf8);
// Creates one folder named in UTF-8; false when it cannot.
bool make_dir(const std::string& utf8);

bool file_exists(const std::string& path);
size_t file_size(const std::string& path);
std::vector<uint8_t> read_file(const std::string& path);

#if !defined(_WIN32)
// Runs a program (ffmpeg, ffprobe) from its argument list, no shell between;
// true when it exited 0.
bool run_program(std::vector<std::string> args);
#endif

}  // namespace bl_test

#endif
