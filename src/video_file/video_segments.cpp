#include "video_segments.h"

#include <stdlib.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "child_process.h"
#include "video_encoding.h"

using nlohmann::json;

namespace {

bool read_integer(const json& object, const char* key, int64_t& value) {
    if (!object.contains(key) || !object[key].is_number_integer()) return false;
    value = object[key].get<int64_t>();
    return true;
}

// ffmpeg prints the start as seconds with six decimals: exact microseconds.
int64_t microseconds_of(const std::string& text) {
    bool negative = !text.empty() && text[0] == '-';
    std::string digits = negative ? text.substr(1) : text;
    size_t point = digits.find('.');
    std::string whole = digits.substr(0, point), fraction;
    if (point != std::string::npos) fraction = digits.substr(point + 1);
    fraction = (fraction + "000000").substr(0, 6);
    int64_t value = atoll(whole.c_str()) * 1000000 + atoll(fraction.c_str());
    return negative ? -value : value;
}

// value x num / den rounded to the nearest, halves away from zero, as
// ffmpeg rescales timestamps.
int64_t rescale_nearest(__int128 value, __int128 num, __int128 den) {
    __int128 product = value * num;
    __int128 half = den / 2;
    return static_cast<int64_t>(product >= 0 ? (product + half) / den : -((-product + half) / den));
}

// A packet's time as the cut compares it, in units of `cut`: the stream copy
// moves the file's start to 0 and converts to the segments' time base, and
// when the first packet would then be decoded before 0, that packet is moved
// to 0 with all the others.
class CutClock {
public:
    CutClock(const PacketList& list, const Rational& cut) : list_(list), cut_(cut) {
        const Rational& tb = list.time_base;
        start_ = rescale_nearest(-list.start_microseconds, tb.den, __int128(tb.num) * 1000000);
        for (const VideoPacket& packet : list.packets) {
            if (!packet.has_dts) continue;
            int64_t first = convert(packet.dts);
            if (first < 0) shift_ = -first;
            break;
        }
    }
    int64_t time(int64_t pts) const { return convert(pts) + shift_; }

private:
    int64_t convert(int64_t value) const {
        const Rational& tb = list_.time_base;
        return rescale_nearest(value + start_, __int128(tb.num) * cut_.den, __int128(tb.den) * cut_.num);
    }
    const PacketList& list_;
    Rational cut_;
    int64_t start_ = 0, shift_ = 0;
};

}  // namespace

bool list_video_packets(const std::string& ffprobe, const std::string& path, const VideoInfo& info,
                        PacketList& list, std::string& error) {
    ChildProcess child;
    ChildProcess::Streams streams;
    streams.pipe_output = true;
    std::vector<std::string> args = {ffprobe, "-v", "error"};
    std::vector<std::string> contained = contained_input_options();
    args.insert(args.end(), contained.begin(), contained.end());
    if (!info.format.empty()) args.insert(args.end(), {"-f", info.format});
    if (info.format == "image2") args.insert(args.end(), {"-pattern_type", "none"});
    args.insert(args.end(), {"-select_streams", "v:0", "-show_entries",
                             "packet=pts,dts,flags:stream=time_base:format=start_time", "-of",
                             "json", ffmpeg_file(path)});
    error = "Not a video: " + path;
    std::string ignored;
    if (!child.start(args, streams, ignored)) return false;
    json probe = json::parse(read_to_end(child.output_fd()), nullptr, false);
    if (child.wait() != 0 || probe.is_discarded() || !probe.contains("streams") ||
        probe["streams"].empty())
        return false;
    std::string base = probe["streams"][0].value("time_base", "");
    if (sscanf(base.c_str(), "%lld/%lld", reinterpret_cast<long long*>(&list.time_base.num),
               reinterpret_cast<long long*>(&list.time_base.den)) != 2 ||
        !list.time_base.valid())
        return false;
    const json format = probe.value("format", json::object());
    if (format.contains("start_time") && format["start_time"].is_string())
        list.start_microseconds = microseconds_of(format["start_time"].get<std::string>());
    for (const json& entry : probe.value("packets", json::array())) {
        VideoPacket packet;
        packet.has_pts = read_integer(entry, "pts", packet.pts);
        packet.has_dts = read_integer(entry, "dts", packet.dts);
        packet.key = entry.value("flags", "").find('K') != std::string::npos;
        list.packets.push_back(packet);
    }
    error.clear();
    return true;
}

std::vector<FrameSpan> segment_spans(const PacketList& list, const Rational& cut_time_base,
                                     int64_t microseconds) {
    std::vector<FrameSpan> spans;
    if (list.packets.empty() || microseconds <= 0 || !cut_time_base.valid()) return spans;
    const CutClock clock(list, cut_time_base);
    const __int128 num = cut_time_base.num, den = cut_time_base.den;
    spans.push_back(FrameSpan{0, 0});
    for (size_t i = 0; i < list.packets.size(); ++i) {
        const VideoPacket& packet = list.packets[i];
        __int128 end = __int128(microseconds) * __int128(spans.size());
        // An exact comparison of the packet's time with end / 10^6 seconds.
        if (packet.key && packet.has_pts && spans.back().count > 0 &&
            __int128(clock.time(packet.pts)) * num * 1000000 >= end * den)
            spans.push_back(FrameSpan{int64_t(i), 0});
        ++spans.back().count;
    }
    return spans;
}

Rational segment_time_base(const PacketList& list, bool keeps_rotation) {
    if (!keeps_rotation) return Rational{1, 1000};
    // MOV keeps the stream's denominator, doubled up to at least 10000.
    int64_t scale = list.time_base.den;
    while (scale > 0 && scale < 10000) scale *= 2;
    return Rational{1, scale};
}

int64_t seek_microseconds(const PacketList& list, size_t index) {
    const Rational& tb = list.time_base;
    __int128 scaled = __int128(list.packets[index].pts) * tb.num * 1000000;
    __int128 floor = scaled >= 0 ? scaled / tb.den : -((-scaled + tb.den - 1) / tb.den);
    return static_cast<int64_t>(floor) - list.start_microseconds;
}

bool key_frame_before(const PacketList& list, int64_t frame, size_t& key, int64_t& skip) {
    std::vector<int64_t> shown;
    for (const VideoPacket& packet : list.packets)
        if (packet.has_pts) shown.push_back(packet.pts);
    if (frame < 0 || frame >= int64_t(shown.size())) return false;
    std::nth_element(shown.begin(), shown.begin() + frame, shown.end());
    const int64_t target = shown[size_t(frame)];
    bool found = false;
    for (size_t i = 0; i < list.packets.size(); ++i) {
        const VideoPacket& packet = list.packets[i];
        if (packet.key && packet.has_pts && packet.pts <= target) {
            key = i;
            found = true;
        }
    }
    if (!found) return false;
    const int64_t from = list.packets[key].pts;
    skip = 0;
    for (const VideoPacket& packet : list.packets)
        if (packet.has_pts && packet.pts >= from && packet.pts < target) ++skip;
    return true;
}
