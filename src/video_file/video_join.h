// Encoded segments joined into one file without encoding them again.
#ifndef BL_VIDEO_FILE_VIDEO_JOIN_H
#define BL_VIDEO_FILE_VIDEO_JOIN_H

#include <stdint.h>

#include <string>
#include <vector>

#include "video_encoding.h"
#include "video_probe.h"

// The concat listing of SEGMENTS: at a constant rate each segment lasts
// exactly its frames (FRAMES) at that rate, since its own duration counts
// the encoder's delay too and the next segment must follow on the same grid.
std::string concat_listing(const std::vector<std::string>& segments,
                           const std::vector<int64_t>& frames, const VideoInfo& info);

struct JoinPlan {
    std::string ffmpeg;
    EncodeOptions encoding;
    VideoInfo info;           // rate, rotation and sound of the joined file
    std::string sound_from;   // "" for none
    std::vector<std::string> segments;
    std::vector<int64_t> frames;
};

// Writes OUTPUT through a partial file beside it; "" on success, else the
// message ("Cannot write output: <output>" and ffmpeg's last line).
std::string join_segments(const JoinPlan& plan, const std::string& output);

#endif
