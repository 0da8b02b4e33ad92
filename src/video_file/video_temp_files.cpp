#include "video_temp_files.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace {

const char PLACEHOLDER[] = "XXXXXX";
const size_t PLACEHOLDER_LENGTH = sizeof PLACEHOLDER - 1;
const char NAME_CHARACTERS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// As mkstemp: names already taken are retried, a few times only.
const int ATTEMPTS = 100;

void fill_randomly(std::string& path, size_t at) {
    for (size_t i = 0; i < PLACEHOLDER_LENGTH; ++i)
        path[at + i] = NAME_CHARACTERS[arc4random_uniform(sizeof NAME_CHARACTERS - 1)];
}

bool create(const std::string& path, TempKind kind) {
    if (kind == TempKind::Directory) return mkdir(path.c_str(), 0700) == 0;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    close(fd);
    return true;
}

}  // namespace

void publish_path(char* slot, const std::string& path) {
    // The first byte goes last: until then the handler sees an empty name
    // rather than a prefix that may name someone else's file.
    slot[0] = '\0';
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (path.empty() || path.size() >= PATH_MAX) return;
    memcpy(slot + 1, path.c_str() + 1, path.size());
    std::atomic_thread_fence(std::memory_order_seq_cst);
    slot[0] = path[0];
}

std::string create_unique(const std::string& pattern, TempKind kind, char* slot) {
    size_t at = pattern.rfind(PLACEHOLDER);
    if (at == std::string::npos || pattern.size() >= PATH_MAX) {
        errno = EINVAL;
        return std::string();
    }
    std::string path = pattern;
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        fill_randomly(path, at);
        publish_path(slot, path);
        if (create(path, kind)) return path;
        int reason = errno;
        slot[0] = '\0';
        errno = reason;
        if (reason != EEXIST) break;
    }
    return std::string();
}
