// The bytes a decoder reads: an open file or a range of memory, behind one
// small reader, so that every decoder serves both. A file is read as the
// decoder asks (a load never holds more of it than the decoder needs), and
// memory is read in place: no temporary file, no copy, and no stream over
// memory, which not every C library offers.
#ifndef BL_DECODE_INPUT_H
#define BL_DECODE_INPUT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// What a probe wants of a decode: the size the header declares, after which
// the decoder stops before any pixel is read or allocated for.
struct decode_probe {
    bool found = false;
    int64_t width = 0, height = 0;  // as the decoded picture would be: turned upright
};

class decode_input {
public:
    // An open stream at its start, `length` bytes long; the caller closes it.
    static decode_input of_file(FILE* file, int64_t length);
    // `size` bytes that stay where they are while the decoder runs.
    static decode_input of_bytes(const uint8_t* bytes, size_t size);

    int64_t length() const { return length_; }
    // Reads up to n bytes; fewer at the end or on a read error.
    size_t read(void* buffer, size_t n);
    // Reads exactly n bytes; false at the end or on a read error.
    bool read_exact(void* buffer, size_t n);
    // The next byte, or EOF.
    int get();
    // Moves to `offset` bytes from the start. As in a file, a place past the
    // end is allowed and reads there find nothing; false for a negative
    // offset or a stream that cannot move there.
    bool seek(int64_t offset);
    // The current place; -1 when the stream cannot tell.
    int64_t tell() const;
    // The whole input when it is in memory; none for a file.
    const uint8_t* bytes() const { return bytes_; }
    // Makes this a probe: the header's size goes into `probe` and the decode stops there.
    void probe_into(decode_probe* probe) { probe_ = probe; }
    decode_probe* probe() const { return probe_; }

private:
    FILE* file_ = nullptr;
    const uint8_t* bytes_ = nullptr;
    int64_t length_ = 0;
    int64_t at_ = 0;  // in memory only: a file keeps its own place
    decode_probe* probe_ = nullptr;
};

#endif
