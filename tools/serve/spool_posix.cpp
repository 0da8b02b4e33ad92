// A held folder is a directory with an exclusive flock on it: the lock goes
// with the process however it ends (SIGKILL, power loss), so the next server
// can tell a killed server's folder from a living one's.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <vector>

#include "spool_platform.h"

namespace spool_platform {
namespace {

// A folder is made again when another server removed it between its making
// and its locking (it looked unheld then).
constexpr int MAKE_ATTEMPTS = 8;
const char* const FOLDER_PREFIX = "server-";

// What the signal handler removes: written before `g_held` is set.
char g_held_path[4096];
char g_parent_path[4096];
std::atomic<bool> g_held{false};

std::string error_text(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool starts_with(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// Removes `path` and what it holds; symbolic links are removed, never followed.
void remove_tree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

// The folder was still there, and is the one `fd` locks.
bool still_named(int fd, const std::string& path) {
    struct stat held {}, named {};
    return fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino && held.st_nlink > 0;
}

void remember_for_signal(const std::string& path, const std::string& parent) {
    if (path.size() >= sizeof g_held_path || parent.size() >= sizeof g_parent_path) return;
    std::memcpy(g_held_path, path.c_str(), path.size() + 1);
    std::memcpy(g_parent_path, parent.c_str(), parent.size() + 1);
    g_held = true;
}

class PosixFile : public OpenFile {
public:
    PosixFile(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~PosixFile() override { close(fd_); }
    uint64_t size() const override { return size_; }
    size_t read_at(uint64_t offset, char* buffer, size_t length) const override {
        for (;;) {
            const ssize_t n = pread(fd_, buffer, length, static_cast<off_t>(offset));
            if (n >= 0) return static_cast<size_t>(n);
            if (errno != EINTR) return 0;
        }
    }

private:
    const int fd_;
    const uint64_t size_;
};

}  // namespace

std::string unavailable_reason() { return ""; }

std::string parent_under(const std::string& place) {
    const char* tmp = getenv("TMPDIR");
    std::string folder = !place.empty() ? place : tmp && *tmp ? tmp : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder + "/brightloom-spool-" + std::to_string(geteuid());
}

std::string claim_parent(const std::string& parent) {
    if (mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST)
        return error_text("Cannot make the spool folder", parent);
    struct stat info {};
    if (lstat(parent.c_str(), &info) != 0) return error_text("Cannot use the spool folder", parent);
    if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 077) != 0)
        return "Cannot use the spool folder " + parent +
               ": it is not a folder of this user alone (mode 0700)";
    return "";
}

std::string make_held_folder(const std::string& parent, HeldFolder& folder) {
    for (int attempt = 0; attempt < MAKE_ATTEMPTS; ++attempt) {
        std::string problem = claim_parent(parent);
        if (!problem.empty()) return problem;
        std::string name = parent + "/" + FOLDER_PREFIX + "XXXXXX";
        std::vector<char> path(name.begin(), name.end());
        path.push_back('\0');
        if (!mkdtemp(path.data())) {
            if (errno == ENOENT) continue;  // the parent was removed meanwhile
            return error_text("Cannot make a folder in", parent);
        }
        const int fd = open(path.data(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 && still_named(fd, path.data())) {
            folder.path = path.data();
            folder.handle = fd;
            remember_for_signal(folder.path, parent);
            return "";
        }
        close(fd);
    }
    return "Cannot make a spool folder in " + parent + ": other servers keep removing it";
}

void remove_unheld_folders(const std::string& parent) {
    struct stat info {};
    if (lstat(parent.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid())
        return;
    std::error_code error;
    std::filesystem::directory_iterator entry(parent, error), end;
    std::vector<std::string> folders;
    for (; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (starts_with(name, FOLDER_PREFIX)) folders.push_back(entry->path().string());
    }
    for (const std::string& path : folders) {
        const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        // Held while removing, so a server making it anew sees it gone.
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) remove_tree(path);
        close(fd);
    }
    rmdir(parent.c_str());
}

void release_folder(HeldFolder& folder, const std::string& parent) {
    if (folder.handle < 0) return;
    g_held = false;
    remove_tree(folder.path);
    close(folder.handle);
    folder.handle = -1;
    rmdir(parent.c_str());
}

std::string random_id() {
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return "";
        got += static_cast<size_t>(n);
    }
    static const char HEX[] = "0123456789abcdef";
    std::string id;
    for (unsigned char byte : bytes) {
        id += HEX[byte >> 4];
        id += HEX[byte & 15];
    }
    return id;
}

std::shared_ptr<OpenFile> open_for_reading(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return nullptr;
    }
    return std::make_shared<PosixFile>(fd, static_cast<uint64_t>(info.st_size));
}

// The spool holds files only (uploads, results and the encoder's partial
// output), so one level is removed.
void remove_held_folder_now() {
    if (!g_held) return;
    const int fd = open(g_held_path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        alignas(8) char entries[4096];
        for (int rounds = 0; rounds < 1024; ++rounds) {
            const long n = syscall(SYS_getdents64, fd, entries, sizeof entries);
            if (n <= 0) break;
            for (long at = 0; at < n;) {
                // struct linux_dirent64: inode, offset, record length, type, name.
                unsigned short length;
                std::memcpy(&length, entries + at + 16, sizeof length);
                const char* name = entries + at + 19;
                if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
                    unlinkat(fd, name, 0);
                at += length;
            }
        }
        close(fd);
    }
    rmdir(g_held_path);
    rmdir(g_parent_path);
}

}  // namespace spool_platform
