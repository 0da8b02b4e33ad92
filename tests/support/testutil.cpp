#include "support/testutil.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "brightloom.h"
#include "image/image_io.h"
#include "platform/platform.h"
#include "support/test_images.h"

namespace fs = std::filesystem;

namespace bl_test {

std::string models_dir() { return BL_TEST_MODELS_DIR; }

std::string model_path(const std::string& relative) { return models_dir() + "/" + relative; }

const char NOT_INITIALIZED[] = "Not initialized — call brightloom_init() first";
const char SWAP_NOT_AVAILABLE[] =
    "Face swap is not available — engine was initialized with "
    "brightloom_init_lite(want_swap=0); no recognizer/swapper loaded";
const char VIDEO_NOT_INITIALIZED[] = "Video swap not initialized — call face_swap_video_init() first";

std::string last_error() { return brightloom_get_error(); }

const OrtApi* runtime_api() {
    const OrtApiBase* base = bl_runtime_api_base();
    return base ? base->GetApi(BL_ORT_API_VERSION) : nullptr;
}

std::string assets_dir() {
    std::error_code ec;
    fs::path dir = fs::path(BL_TEST_SHARED_ASSETS_DIR);
    if (fs::is_directory(dir / "models", ec) && fs::is_directory(dir / "images", ec))
        return fs::canonical(dir, ec).string();
    return "";
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "bl_test_XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) ADD_FAILURE() << "mkdtemp failed";
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

ModelDir& ModelDir::add(const std::string& generated, const std::string& name) {
    fs::path from = model_path(generated);
    fs::path to = fs::path(path()) / (name.empty() ? from.filename().string() : name);
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec) ADD_FAILURE() << "cannot copy " << from << ": " << ec.message();
    return *this;
}

ModelDir& ModelDir::add_all_slots() {
    for (const auto& entry : fs::directory_iterator(model_path("slots")))
        add("slots/" + entry.path().filename().string());
    return *this;
}

ModelDir& ModelDir::remove(const std::string& name) {
    std::error_code ec;
    fs::remove(fs::path(path()) / name, ec);
    return *this;
}

StderrCapture::StderrCapture() {
    fflush(stderr);
    char name[] = "/tmp/bl_stderr_XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) {
        ADD_FAILURE() << "mkstemp failed";
        done_ = true;
        return;
    }
    file_ = name;
    saved_fd_ = dup(STDERR_FILENO);
    dup2(fd, STDERR_FILENO);
    close(fd);
}

StderrCapture::~StderrCapture() { text(); }

std::string StderrCapture::text() {
    if (done_) return text_;
    done_ = true;
    fflush(stderr);
    dup2(saved_fd_, STDERR_FILENO);
    close(saved_fd_);
    std::ifstream in(file_, std::ios::binary);
    text_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    unlink(file_.c_str());
    return text_;
}

int count_of(const std::string& haystack, const std::string& needle) {
    if (needle.empty()) return 0;
    int n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size()))
        ++n;
    return n;
}

void write_image(const std::string& path, int width, int height,
                 const std::function<void(int x, int y, uint8_t rgb[3])>& pixel) {
    image_ptr image = make_image(width, height, pixel);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(bl_image_save(image.get(), path.c_str()), 0) << "cannot write " << path;
}

void write_solid_image(const std::string& path, int width, int height, uint8_t r, uint8_t g,
                       uint8_t b) {
    write_image(path, width, height, [&](int, int, uint8_t rgb[3]) {
        rgb[0] = r;
        rgb[1] = g;
        rgb[2] = b;
    });
}

bool file_exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

size_t file_size(const std::string& path) {
    std::error_code ec;
    auto size = fs::file_size(path, ec);
    return ec ? 0 : static_cast<size_t>(size);
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace bl_test

// Builds with LeakSanitizer ask this for their default suppressions. The
// inference runtime keeps one small allocation of its process-wide set-up for
// the life of the process; leaks of the handles we own are checked with full
// stacks by the valgrind test of an init/shutdown cycle.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() { return "leak:libonnxruntime.so.1\n"; }
