#include "upload_dir.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
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
    for (const std::string& path : disk_files_) unlink(path.c_str());
    for (int fd : memory_files_) close(fd);
}

std::string RequestFiles::write(const std::string& role, const std::string& bytes) {
    const int fd = memfd_create(role.c_str(), MFD_CLOEXEC);
    if (fd < 0) return "";
    memory_files_.push_back(fd);
    if (!write_all(fd, bytes)) return "";
    // The library opens the path anew, so it reads from the start.
    paths_.emplace_back("/proc/self/fd/" + std::to_string(fd), role);
    return paths_.back().first;
}

std::string RequestFiles::reserve(const std::string& role, const std::string& extension) {
    paths_.emplace_back(dir_.new_path(role, extension), role);
    disk_files_.push_back(paths_.back().first);
    return paths_.back().first;
}

bool read_file(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}
