#include "upload_dir.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace {

bool write_all(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::unique_ptr<UploadDir> UploadDir::create(std::string& error) {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && base[0] ? base : "/tmp") + "/brightloom-serve-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkdtemp makes the folder with mode 0700 under a name nobody could guess.
    if (!mkdtemp(name.data())) {
        error = "Cannot create a private temporary folder under " +
                pattern.substr(0, pattern.rfind('/')) + ": " +
                std::generic_category().message(errno);
        return nullptr;
    }
    return std::unique_ptr<UploadDir>(new UploadDir(name.data()));
}

UploadDir::~UploadDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string UploadDir::new_path(const std::string& role, const std::string& extension) {
    return path_ + "/" + std::to_string(next_++) + "-" + role + extension;
}

RequestFiles::~RequestFiles() {
    for (const auto& entry : paths_) unlink(entry.first.c_str());
}

std::string RequestFiles::write(const std::string& role, const std::string& bytes) {
    std::string path = reserve(role, "");
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return "";
    bool written = write_all(fd, bytes);
    if (close(fd) != 0) written = false;
    return written ? path : "";
}

std::string RequestFiles::reserve(const std::string& role, const std::string& extension) {
    paths_.emplace_back(dir_.new_path(role, extension), role);
    return paths_.back().first;
}

bool read_file(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}
