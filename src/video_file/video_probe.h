// What ffprobe tells about a video file: its first video stream's rate,
// rotation and frame count, and the codecs of its sound streams.
#ifndef BL_VIDEO_FILE_VIDEO_PROBE_H
#define BL_VIDEO_FILE_VIDEO_PROBE_H

#include <stdint.h>

#include <string>
#include <vector>

struct Rational {
    int64_t num = 0, den = 0;
    bool valid() const { return num > 0 && den > 0; }
    bool operator==(const Rational& o) const { return num * o.den == o.num * den; }
    std::string text() const { return std::to_string(num) + "/" + std::to_string(den); }
};

struct VideoInfo {
    std::string format;     // ffmpeg's name for the demuxer that read it
    bool has_video = false;
    int64_t width = 0, height = 0;  // as decoded, before any rotation
    Rational rate;          // the stream's base frame rate
    bool variable_rate = false;
    int rotation = 0;       // display rotation, 0, 90, 180 or 270
    int64_t frame_count = 0;      // from the container, 0 when it does not say
    int64_t estimated_frames = 0;  // duration x rate, 0 when unknown
    std::vector<std::string> sound_codecs;
    // Frames expected, or -1 when neither count is known.
    int64_t total() const;
};

// Runs ffprobe on `path`. On failure `error` says "Not a video: <path>" or
// "No video stream in: <path>". With `declared_only`, only what the
// container declares is read, decoding nothing (sizes may then be 0).
bool probe_video(const std::string& ffprobe, const std::string& path, VideoInfo& info,
                 std::string& error, bool declared_only = false);

// The packets of the first video stream of PATH (a file the job wrote, in
// ffmpeg's FORMAT), counted by reading the file; -1 when it cannot be read.
int64_t count_video_packets(const std::string& ffprobe, const std::string& path,
                            const std::string& format);

#endif
