#include "video_temp_files.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace {

const char PLACEHOLDER[] = "XXXXXX";
const size_t PLACEHOLDER_LENGTH = sizeof PLACEHOLDER - 1;
const char NAME_CHARACTERS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// As mkstemp: names already taken are retried, a few times only.
const int ATTEMPTS = 100;

// Random bytes from the kernel through getrandom (glibc 2.25), which the
// portable builds for older systems have too. Should the kernel refuse, the
// clock still varies the name: O_EXCL keeps a guessed name harmless.
unsigned char random_byte() {
    static thread_local unsigned char bytes[64];
    static thread_local size_t left = 0;
    if (left == 0) {
        ssize_t got;
        do got = getrandom(bytes, sizeof bytes, 0);
        while (got < 0 && errno == EINTR);
        if (got <= 0) {
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            return static_cast<unsigned char>(now.tv_nsec ^ (now.tv_nsec >> 8));
        }
        left = static_cast<size_t>(got);
    }
    return bytes[--left];
}

// Bytes past the last whole multiple of the alphabet are drawn again, so
// every character is equally likely.
void fill_randomly(std::string& path, size_t at) {
    const unsigned alphabet = sizeof NAME_CHARACTERS - 1;
    const unsigned usable = 256 / alphabet * alphabet;
    for (size_t i = 0; i < PLACEHOLDER_LENGTH; ++i) {
        unsigned byte;
        do byte = random_byte();
        while (byte >= usable);
        path[at + i] = NAME_CHARACTERS[byte % alphabet];
    }
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
