#include "video_encoding.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "video_frame_stream.h"

const std::vector<std::string> VIDEO_CODECS = {"libx264", "libx265", "libvpx-vp9"};
const std::vector<std::string> VIDEO_PRESETS = {"ultrafast", "superfast", "veryfast",
                                                "faster",    "fast",      "medium",
                                                "slow",      "slower",    "veryslow"};

namespace {

const std::map<std::string, std::string> CONTAINERS = {
    {".mp4", "mp4"}, {".m4v", "mp4"}, {".mov", "mov"}, {".mkv", "matroska"}, {".webm", "webm"}};

// The sound codecs each container takes as they are; Matroska takes all.
const std::map<std::string, std::set<std::string>> COPYABLE_SOUND = {
    {"mp4", {"aac", "mp3", "ac3", "eac3", "alac", "opus", "flac"}},
    {"mov", {"aac", "mp3", "ac3", "eac3", "alac", "pcm_s16le", "pcm_s16be", "pcm_s24le"}},
    {"webm", {"opus", "vorbis"}},
};

// libx264 and libvpx's VP9 refuse a longer side (found by trying; libx265
// takes longer ones).
const int64_t CODEC_SIDE_LIMIT = 16384;

bool has_side_limit(const std::string& codec) { return codec == "libx264" || codec == "libvpx-vp9"; }

// What frames of WIDTH x HEIGHT pass, or "".
std::string limit_passed(const std::string& codec, int64_t width, int64_t height) {
    if (has_side_limit(codec) && (width > CODEC_SIDE_LIMIT || height > CODEC_SIDE_LIMIT))
        return codec + " takes at most " + std::to_string(CODEC_SIDE_LIMIT) + " pixels a side";
    // A side alone over the limit is checked first, so the products cannot overflow.
    if (width > FRAME_STREAM_MAX_PIXELS || height > FRAME_STREAM_MAX_PIXELS ||
        width * height > FRAME_STREAM_MAX_PIXELS)
        return "ffmpeg reads at most " + std::to_string(FRAME_STREAM_MAX_PIXELS) +
               " pixels a frame (256 MiB of RGB) from the job";
    // ffmpeg's own check of every picture it allocates, which thin frames
    // under the pixel limit can still pass.
    if (8 * (width + 128) * (height + 128) >= INT32_MAX)
        return "ffmpeg takes no frame with (width + 128) x (height + 128) of 2^28 or more";
    return "";
}

std::string lowercase_extension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(tolower(c)); });
    return ext;
}

// ffmpeg turns decoded frames upright by the display rotation; the encoder
// turns them back, so the stored frames stay as they were under the tag.
const char* undo_rotation_filter(int rotation) {
    switch ((360 - rotation) % 360) {
        case 90: return "transpose=cclock";
        case 180: return "hflip,vflip";
        case 270: return "transpose=clock";
        default: return nullptr;
    }
}

void add_codec_args(std::vector<std::string>& args, const EncodeOptions& o) {
    args.insert(args.end(), {"-c:v", o.codec, "-crf", std::to_string(o.crf)});
    if (o.codec == "libvpx-vp9") {
        // libvpx has no named presets: the same nine steps of speed instead.
        size_t step = size_t(std::find(VIDEO_PRESETS.begin(), VIDEO_PRESETS.end(), o.preset) -
                             VIDEO_PRESETS.begin());
        args.insert(args.end(), {"-b:v", "0", "-deadline", "good", "-cpu-used",
                                 std::to_string(8 - int(step)), "-row-mt", "1"});
        return;
    }
    args.insert(args.end(), {"-preset", o.preset});
    if (o.codec == "libx265") {
        args.insert(args.end(), {"-x265-params", "log-level=error"});
        if (o.container == "mp4" || o.container == "mov") args.insert(args.end(), {"-tag:v", "hvc1"});
    }
}

// The end every written file's arguments share, the encoder's and the
// join's alike: the sound as the container takes it, MP4/MOV's index at the
// front so a player can start before the whole file has arrived, then the
// format and the file.
void add_sound_and_output(std::vector<std::string>& args, const EncodeOptions& options,
                          const VideoInfo& info, bool sound, const std::string& output) {
    if (sound) {
        std::vector<std::string> codecs = sound_args(options.container, info.sound_codecs);
        args.insert(args.end(), codecs.begin(), codecs.end());
    }
    if (options.container == "mp4" || options.container == "mov")
        args.insert(args.end(), {"-movflags", "+faststart"});
    args.insert(args.end(), {"-f", options.container, ffmpeg_file(output)});
}

}  // namespace

std::string check_encode_options(const std::string& output, EncodeOptions& options) {
    auto container = CONTAINERS.find(lowercase_extension(output));
    if (container == CONTAINERS.end())
        return "Unsupported output container: " + output + " (use .mp4, .m4v, .mov, .mkv or .webm)";
    options.container = container->second;
    if (options.codec.empty()) options.codec = options.container == "webm" ? "libvpx-vp9" : "libx264";
    if (options.container == "webm" && options.codec != "libvpx-vp9")
        return "WebM holds only VP9 video: use the codec libvpx-vp9 or another container";
    return "";
}

bool stores_rotation(const EncodeOptions& options, const VideoInfo& info) {
    return info.rotation != 0 && (options.container == "mp4" || options.container == "mov");
}

std::vector<std::string> rotation_tag_args(const std::string& ffmpeg, const EncodeOptions& options,
                                           const VideoInfo& info, const std::string& encoded,
                                           const std::string& output) {
    // The partial file's own name ends in .part: its demuxer is named.
    std::vector<std::string> args = {ffmpeg, "-nostdin", "-v", "error", "-y"};
    std::vector<std::string> in = contained_input_options();
    args.insert(args.end(), in.begin(), in.end());
    args.insert(args.end(), {"-f", options.container, "-i", ffmpeg_file(encoded), "-map", "0",
                             "-c", "copy", "-metadata:s:v:0",
                             "rotate=" + std::to_string(info.rotation), "-movflags", "+faststart",
                             "-f", options.container, ffmpeg_file(output)});
    return args;
}

std::string frame_size_problem(const EncodeOptions& options, int64_t width, int64_t height,
                               const std::string& input) {
    std::string limit = limit_passed(options.codec, width, height);
    if (limit.empty()) return "";
    return "Frames of " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels are too large to encode: " + limit + ": " + input;
}

std::string ffmpeg_file(const std::string& path) {
    return "file:" + std::filesystem::absolute(path).string();
}

std::vector<std::string> contained_input_options() {
    // An allow-list: ffmpeg keeps gaining demuxers, and a new one that
    // follows references must not be let in unseen.
    return {"-protocol_whitelist", "file,pipe", "-format_whitelist",
            "mov,matroska,avi,mpegts,mpeg,ogg,nut,flv,asf,ivf,dv,yuv4mpegpipe,h264,hevc,m4v,"
            "mpegvideo,obu,gif,apng,image2,png_pipe,jpeg_pipe,webp_pipe,bmp_pipe,tiff_pipe,"
            "gif_pipe"};
}

std::vector<std::string> input_args(const VideoInfo& info, const std::string& input) {
    std::vector<std::string> args = contained_input_options();
    if (!info.format.empty()) args.insert(args.end(), {"-f", info.format});
    if (info.format == "image2") args.insert(args.end(), {"-pattern_type", "none"});
    args.insert(args.end(), {"-i", ffmpeg_file(input)});
    return args;
}

std::vector<std::string> decoder_args(const std::string& ffmpeg, const VideoInfo& info,
                                      const std::string& input, const FrameWindow& window) {
    std::vector<std::string> args = {ffmpeg, "-nostdin", "-v", "error"};
    if (window.active()) {
        // Seeking before the input opens it at the key frame; frames shown
        // before the named time are decoded and dropped.
        char seek[64];
        snprintf(seek, sizeof seek, "%lld.%06lld", (long long)(window.seek_microseconds / 1000000),
                 (long long)(window.seek_microseconds % 1000000));
        args.insert(args.end(), {"-ss", seek});
    }
    std::vector<std::string> in = input_args(info, input);
    args.insert(args.end(), in.begin(), in.end());
    args.insert(args.end(), {"-map", "0:v:0"});
    if (window.active() && window.count > 0)
        args.insert(args.end(), {"-frames:v", std::to_string(window.skip + window.count)});
    args.insert(args.end(), {"-fps_mode", "passthrough", "-enc_time_base", "-1",
                             "-c:v", "rawvideo", "-pix_fmt", "rgb24", "-allow_raw_vfw", "1",
                             "-write_crc32", "0", "-f", "matroska", "pipe:1"});
    return args;
}

std::vector<std::string> frame_extract_args(const std::string& ffmpeg, const VideoInfo& info,
                                            const std::string& input, int number,
                                            const std::string& image) {
    std::vector<std::string> args = {ffmpeg, "-nostdin", "-v", "error"};
    std::vector<std::string> in = input_args(info, input);
    args.insert(args.end(), in.begin(), in.end());
    // One picture under exactly its name, even where the temporary folder's
    // name holds a '%'.
    args.insert(args.end(), {"-map", "0:v:0", "-vf", "select=eq(n\\," + std::to_string(number) + ")",
                             "-fps_mode", "passthrough", "-frames:v", "1", "-y", "-f", "image2",
                             "-update", "1", ffmpeg_file(image)});
    return args;
}

std::vector<std::string> encoder_args(const std::string& ffmpeg, const EncodeOptions& options,
                                      const VideoInfo& info, int width, int height,
                                      const std::string& input, const std::string& output) {
    std::vector<std::string> args = {ffmpeg, "-nostdin", "-v", "error", "-y"};
    std::vector<std::string> frames = contained_input_options();
    args.insert(args.end(), frames.begin(), frames.end());
    args.insert(args.end(), {"-f", "matroska", "-i", "pipe:0"});
    bool sound = !info.sound_codecs.empty();
    if (sound) {
        std::vector<std::string> in = input_args(info, input);
        args.insert(args.end(), in.begin(), in.end());
        args.insert(args.end(), {"-map", "0:v:0", "-map", "1:a"});
    } else {
        args.insert(args.end(), {"-map", "0:v:0"});
    }
    // An odd side cannot take subsampled colour: full-resolution colour
    // keeps the exact size instead of padding a line.
    bool even = width % 2 == 0 && height % 2 == 0;
    args.insert(args.end(), {"-pix_fmt", even ? "yuv420p" : "yuv444p"});
    add_codec_args(args, options);
    if (stores_rotation(options, info))
        args.insert(args.end(), {"-vf", undo_rotation_filter(info.rotation)});
    // A stated constant rate puts every timestamp on that rate's exact grid
    // (frames are never duplicated); otherwise each frame keeps its own time.
    if (info.variable_rate) args.insert(args.end(), {"-fps_mode", "passthrough", "-enc_time_base", "-1"});
    else args.insert(args.end(), {"-fps_mode", "vfr", "-r", info.rate.text()});
    add_sound_and_output(args, options, info, sound, output);
    return args;
}

std::vector<std::string> sound_args(const std::string& container,
                                    const std::vector<std::string>& codecs) {
    auto copyable = COPYABLE_SOUND.find(container);
    bool copy = copyable == COPYABLE_SOUND.end() ||
                std::all_of(codecs.begin(), codecs.end(), [&](const std::string& c) {
                    return copyable->second.count(c) > 0;
                });
    if (copy) return {"-c:a", "copy"};
    // WebM takes no AAC; Opus is its sound codec.
    if (container == "webm") return {"-c:a", "libopus", "-b:a", "128k"};
    return {"-c:a", "aac", "-b:a", "192k"};
}

std::vector<std::string> join_args(const std::string& ffmpeg, const EncodeOptions& options,
                                   const VideoInfo& info, const std::string& list,
                                   const std::string& sound_from, const std::string& output) {
    std::vector<std::string> args = {ffmpeg, "-nostdin", "-v", "error", "-y"};
    std::vector<std::string> in = contained_input_options();
    // The list is ours; the segments it names open under the same lists.
    in[3] += ",concat";
    args.insert(args.end(), in.begin(), in.end());
    args.insert(args.end(), {"-f", "concat", "-safe", "0", "-i", ffmpeg_file(list)});
    bool sound = !sound_from.empty() && !info.sound_codecs.empty();
    if (sound) {
        std::vector<std::string> from = input_args(info, sound_from);
        args.insert(args.end(), from.begin(), from.end());
        args.insert(args.end(), {"-map", "0:v:0", "-map", "1:a"});
    } else {
        args.insert(args.end(), {"-map", "0:v:0"});
    }
    args.insert(args.end(), {"-c:v", "copy"});
    if (options.codec == "libx265" && (options.container == "mp4" || options.container == "mov"))
        args.insert(args.end(), {"-tag:v", "hvc1"});
    if (stores_rotation(options, info))
        args.insert(args.end(), {"-metadata:s:v:0", "rotate=" + std::to_string(info.rotation)});
    add_sound_and_output(args, options, info, sound, output);
    return args;
}
