#include "video_probe.h"

#include <math.h>
#include <stdlib.h>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "video_encoding.h"

using nlohmann::json;

namespace {

Rational parse_rate(const json& stream, const char* key) {
    Rational r;
    if (!stream.contains(key) || !stream[key].is_string()) return r;
    std::string text = stream[key].get<std::string>();
    if (sscanf(text.c_str(), "%lld/%lld", reinterpret_cast<long long*>(&r.num),
               reinterpret_cast<long long*>(&r.den)) != 2)
        r = Rational{};
    return r;
}

double number_of(const json& object, const char* key) {
    if (!object.contains(key) || !object[key].is_string()) return 0.0;
    double value = atof(object[key].get<std::string>().c_str());
    return std::isfinite(value) && value > 0 ? value : 0.0;
}

int64_t integer_of(const json& object, const char* key) {
    if (!object.contains(key) || !object[key].is_number_integer()) return 0;
    return object[key].get<int64_t>();
}

bool is_picture(const json& stream) {
    return stream.contains("disposition") && stream["disposition"].value("attached_pic", 0) == 1;
}

int rotation_of(const json& stream) {
    if (!stream.contains("side_data_list")) return 0;
    for (const json& side : stream["side_data_list"])
        if (side.contains("rotation") && side["rotation"].is_number()) {
            long quarter = lround(side["rotation"].get<double>() / 90.0);
            return static_cast<int>(((quarter % 4) + 4) % 4 * 90);
        }
    return 0;
}

void read_video_stream(const json& stream, const json& format, VideoInfo& info) {
    info.has_video = true;
    info.width = integer_of(stream, "width");
    info.height = integer_of(stream, "height");
    info.rate = parse_rate(stream, "r_frame_rate");
    Rational average = parse_rate(stream, "avg_frame_rate");
    info.variable_rate = !info.rate.valid() || (average.valid() && !(average == info.rate));
    info.rotation = rotation_of(stream);
    info.frame_count = static_cast<int64_t>(number_of(stream, "nb_frames"));
    double duration = number_of(stream, "duration");
    if (duration == 0.0) duration = number_of(format, "duration");
    Rational rate = average.valid() ? average : info.rate;
    if (duration > 0.0 && rate.valid())
        info.estimated_frames = llround(duration * double(rate.num) / double(rate.den));
}

}  // namespace

int64_t VideoInfo::total() const {
    if (frame_count > 0) return frame_count;
    return estimated_frames > 0 ? estimated_frames : -1;
}

bool probe_video(const std::string& ffprobe, const std::string& path, VideoInfo& info,
                 std::string& error, bool declared_only) {
    ChildProcess child;
    ChildProcess::Streams streams;
    streams.pipe_output = true;
    error = "Not a video: " + path;
    // Exactly the named file: a name such as img%03d.png is not a pattern
    // for a sequence of other files (ffprobe takes this for any format).
    std::vector<std::string> args = {ffprobe, "-v", "error", "-pattern_type", "none"};
    std::vector<std::string> contained = contained_input_options();
    args.insert(args.end(), contained.begin(), contained.end());
    if (declared_only) args.push_back("-nofind_stream_info");
    args.insert(args.end(), {"-show_streams", "-show_format", "-of", "json", ffmpeg_file(path)});
    if (!child.start(args, streams, error)) return false;
    std::string text = read_to_end(child.output_fd());
    if (child.wait() != 0) return false;
    json probe = json::parse(text, nullptr, false);
    if (probe.is_discarded() || !probe.contains("streams")) return false;
    const json format = probe.value("format", json::object());
    if (format.contains("format_name") && format["format_name"].is_string())
        info.format = format["format_name"].get<std::string>();
    for (const json& stream : probe["streams"]) {
        std::string type = stream.value("codec_type", "");
        if (type == "video" && !info.has_video && !is_picture(stream))
            read_video_stream(stream, format, info);
        if (type == "audio") info.sound_codecs.push_back(stream.value("codec_name", ""));
    }
    if (!info.has_video) {
        error = "No video stream in: " + path;
        return false;
    }
    error.clear();
    return true;
}

int64_t count_video_packets(const std::string& ffprobe, const std::string& path,
                            const std::string& format) {
    ChildProcess child;
    ChildProcess::Streams streams;
    streams.pipe_output = true;
    std::string error;
    std::vector<std::string> args = {ffprobe, "-v", "error"};
    std::vector<std::string> contained = contained_input_options();
    args.insert(args.end(), contained.begin(), contained.end());
    args.insert(args.end(), {"-f", format, "-select_streams", "v:0", "-count_packets",
                             "-show_entries", "stream=nb_read_packets", "-of",
                             "default=noprint_wrappers=1:nokey=1", ffmpeg_file(path)});
    if (!child.start(args, streams, error)) return -1;
    std::string text = read_to_end(child.output_fd());
    if (child.wait() != 0) return -1;
    char* end = nullptr;
    long long count = strtoll(text.c_str(), &end, 10);
    // One number for the one stream; no stream at all prints nothing.
    if (end == text.c_str() || (*end != '\0' && *end != '\n')) return text.empty() ? 0 : -1;
    return count;
}
