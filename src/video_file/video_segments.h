// Where a video can be cut into ranges of frames that each decode on their
// own, read from its packets without decoding anything.
#ifndef BL_VIDEO_FILE_VIDEO_SEGMENTS_H
#define BL_VIDEO_FILE_VIDEO_SEGMENTS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "video_probe.h"

// One packet of the first video stream, in file order, in its time base.
struct VideoPacket {
    int64_t pts = 0, dts = 0;
    bool has_pts = false, has_dts = false;
    bool key = false;
};

struct PacketList {
    Rational time_base;          // seconds per unit
    int64_t start_microseconds = 0;  // the file's start time
    std::vector<VideoPacket> packets;
};

struct FrameSpan {
    int64_t first = 0, count = 0;
    bool operator==(const FrameSpan& o) const { return first == o.first && count == o.count; }
};

// The packets of the first video stream of PATH (opened as INFO's format);
// false with `error` set when they cannot be read.
bool list_video_packets(const std::string& ffprobe, const std::string& path, const VideoInfo& info,
                        PacketList& list, std::string& error);

// The ranges a stream copy cut every `microseconds` of stream time gives
// when its segments count time in units of CUT_TIME_BASE: a range ends at
// the first key frame whose time reaches n x microseconds (n = the ranges so
// far). Packet indexes are frame numbers: every range starts at a key frame,
// so no frame of one range is shown before a frame of the one before.
std::vector<FrameSpan> segment_spans(const PacketList& list, const Rational& cut_time_base,
                                     int64_t microseconds);

// The time base of the segments such a cut writes: Matroska's milliseconds,
// or, for a rotated video (whose tag only MOV keeps), MOV's track scale.
Rational segment_time_base(const PacketList& list, bool keeps_rotation);

// The microseconds from the file's start to packet INDEX's presentation
// time, rounded down, so that a seek to it keeps that frame.
int64_t seek_microseconds(const PacketList& list, size_t index);

// The key frame packet at or before frame FRAME in presentation order, and
// how many frames after it FRAME is shown; false when there is no such frame.
bool key_frame_before(const PacketList& list, int64_t frame, size_t& key, int64_t& skip);

#endif
