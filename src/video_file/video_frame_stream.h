// Raw RGB frames with their timestamps on a pipe, as a minimal Matroska
// stream: the simplest form in which ffmpeg hands each frame's timestamp to
// us and takes it back, so variable frame rates survive the trip.
#ifndef BL_VIDEO_FILE_VIDEO_FRAME_STREAM_H
#define BL_VIDEO_FILE_VIDEO_FRAME_STREAM_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

struct RawFrame {
    int64_t timestamp = 0;  // in units of the stream's timestamp scale
    std::vector<uint8_t> rgb;
};

// Reads the frames of ffmpeg's Matroska output of raw RGB video (one track).
class FrameStreamReader {
public:
    enum class Result { Frame, End, Damaged };
    explicit FrameStreamReader(int fd) : fd_(fd) {}
    Result next(RawFrame& frame);
    int width() const { return width_; }
    int height() const { return height_; }
    // Nanoseconds per timestamp unit.
    uint64_t timestamp_scale() const { return timestamp_scale_; }

private:
    bool read_bytes(void* data, size_t size);
    bool read_vint(bool keep_marker, uint64_t& value, bool& unknown);
    bool take(uint64_t id, uint64_t size, RawFrame& frame, bool& got_frame);

    int fd_;
    std::vector<uint8_t> buffer_;
    size_t buffer_pos_ = 0;
    int width_ = 0, height_ = 0;
    uint64_t timestamp_scale_ = 1000000;
    int64_t cluster_time_ = 0;
};

// ffmpeg's Matroska reader takes no element over 256 MiB and reads a larger
// one as the end of its input (an empty video, with ffmpeg answering
// success): the most RGB pixels one written frame, in its block, can hold.
const int64_t FRAME_STREAM_MAX_PIXELS = ((int64_t(1) << 28) - 4) / 3;

// Writes frames as Matroska raw RGB video for ffmpeg to encode.
class FrameStreamWriter {
public:
    explicit FrameStreamWriter(int fd) : fd_(fd) {}
    bool start(int width, int height, uint64_t timestamp_scale);
    // False, writing nothing, for a frame over FRAME_STREAM_MAX_PIXELS.
    bool write(int64_t timestamp, const uint8_t* rgb, size_t size);

private:
    int fd_;
};

#endif
