#include "image/decode_input.h"

#include <limits.h>
#include <string.h>

decode_input decode_input::of_file(FILE* file, int64_t length) {
    decode_input input;
    input.file_ = file;
    input.length_ = length;
    return input;
}

decode_input decode_input::of_bytes(const uint8_t* bytes, size_t size) {
    decode_input input;
    input.bytes_ = bytes;
    input.length_ = size > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(size);
    return input;
}

size_t decode_input::read(void* buffer, size_t n) {
    if (file_) return fread(buffer, 1, n, file_);
    const int64_t left = at_ < length_ ? length_ - at_ : 0;
    const size_t count = static_cast<uint64_t>(left) < n ? static_cast<size_t>(left) : n;
    if (count > 0) memcpy(buffer, bytes_ + at_, count);
    at_ += static_cast<int64_t>(count);
    return count;
}

bool decode_input::read_exact(void* buffer, size_t n) { return n == 0 || read(buffer, n) == n; }

int decode_input::get() {
    if (file_) return getc(file_);
    return at_ < length_ ? bytes_[at_++] : EOF;
}

bool decode_input::seek(int64_t offset) {
    if (offset < 0) return false;
    // The stream's offsets are longs, 32 bits on some platforms.
    if (file_) return offset <= LONG_MAX && fseek(file_, static_cast<long>(offset), SEEK_SET) == 0;
    at_ = offset;
    return true;
}

int64_t decode_input::tell() const { return file_ ? ftell(file_) : at_; }
