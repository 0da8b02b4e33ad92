#include "support/testutil.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "brightloom.h"
#include "image/image_io.h"
#include "inference/runtime_loader.h"
#include "platform/platform.h"
#include "support/test_images.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#endif

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

const bl_runtime* test_runtime() {
    // Opened once and never closed: the sessions of every test live in it.
    static bl_runtime* runtime = [] {
        static bl_runtime opened;
        const OrtApi* api = runtime_api();
        if (!api || bl_runtime_open(api, bl_session_tuning_for(0), &opened) != 0) return (bl_runtime*)nullptr;
        return &opened;
    }();
    return runtime;
}

std::string assets_dir() {
    std::error_code ec;
    fs::path dir = fs::path(BL_TEST_SHARED_ASSETS_DIR);
    if (fs::is_directory(dir / "models", ec) && fs::is_directory(dir / "images", ec))
        return fs::canonical(dir, ec).string();
    return "";
}

// A name under the system's temporary folder that nothing else has taken.
static fs::path fresh_temp_name(const char* prefix) {
    static std::random_device seed;
    static std::mt19937_64 random(seed());
    std::error_code ec;
    for (;;) {
        fs::path candidate = fs::temp_directory_path(ec) / (prefix + std::to_string(random()));
        if (!fs::exists(candidate, ec)) return candidate;
    }
}

TempDir::TempDir() {
    fs::path dir = fresh_temp_name("bl_test_");
    std::error_code ec;
    if (!fs::create_directory(dir, ec)) ADD_FAILURE() << "cannot create " << dir;
    // Forward slashes throughout, as the library's own joins use.
    path_ = dir.generic_u8string();
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
    fs::path name = fresh_temp_name("bl_stderr_");
    int fd = open(name.string().c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        ADD_FAILURE() << "cannot create " << name;
        done_ = true;
        return;
    }
    file_ = name.string();
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
    in.close();
    unlink(file_.c_str());
#ifdef _WIN32
    // Standard error is a text stream there: every line ends in "\r\n".
    size_t kept = 0;
    for (size_t i = 0; i < text_.size(); ++i) {
        bool line_end = text_[i] == '\r' && i + 1 < text_.size() && text_[i + 1] == '\n';
        if (!line_end) text_[kept++] = text_[i];
    }
    text_.resize(kept);
#endif
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

fs::path native_path(const std::string& utf8) { return fs::u8path(utf8); }

bool make_dir(const std::string& utf8) {
#ifdef _WIN32
    // The library's own conversion lifts the 260-character limit.
    std::wstring wide;
    return bl_wide_path(utf8.c_str(), &wide) && CreateDirectoryW(wide.c_str(), nullptr);
#else
    return mkdir(utf8.c_str(), 0700) == 0;
#endif
}

bool file_exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(native_path(path), ec);
}

size_t file_size(const std::string& path) {
    std::error_code ec;
    auto size = fs::file_size(native_path(path), ec);
    return ec ? 0 : static_cast<size_t>(size);
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(native_path(path), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#if !defined(_WIN32)
bool run_program(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}
#endif

}  // namespace bl_test

#ifdef _WIN32
int mkdir(const char* path, int /*mode*/) { return bl_test::make_dir(path) ? 0 : -1; }
#endif

// Builds with LeakSanitizer ask this for their default suppressions. The
// inference runtime keeps one small allocation of its process-wide set-up for
// the life of the process; leaks of the handles we own are checked with full
// stacks by the valgrind test of an init/shutdown cycle.
#ifndef _WIN32
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() { return "leak:libonnxruntime.so.1\n"; }
#endif
