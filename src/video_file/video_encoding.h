// The ffmpeg command lines of a video job: decoding to raw RGB frames,
// taking one frame out, and encoding the processed frames with the sound of
// the input, for the container OUTPUT's extension names.
#ifndef BL_VIDEO_FILE_VIDEO_ENCODING_H
#define BL_VIDEO_FILE_VIDEO_ENCODING_H

#include <stdint.h>

#include <string>
#include <vector>

#include "video_probe.h"

// A part of the input: decoding starts at the key frame SEEK_MICROSECONDS
// from the file's start, the first SKIP frames decoded are passed over and
// COUNT frames are taken (0: to the end).
struct FrameWindow {
    int64_t seek_microseconds = -1;  // -1: the whole input
    int64_t skip = 0;
    int64_t count = 0;
    bool active() const { return seek_microseconds >= 0; }
};

struct EncodeOptions {
    std::string codec;      // empty: libx264, or VP9 for WebM
    std::string preset = "medium";
    int crf = 18;
    int scale = 1;          // output frames are this many times larger
    std::string container;  // ffmpeg's muxer name, set by check_encode_options
    FrameWindow window;     // the frames encoded
};

extern const std::vector<std::string> VIDEO_CODECS;
extern const std::vector<std::string> VIDEO_PRESETS;

// Fills in the container and default codec for `output`; "" when the
// options fit, else what is wrong.
std::string check_encode_options(const std::string& output, EncodeOptions& options);

// "" when frames of WIDTH x HEIGHT (as encoded) can be encoded with
// OPTIONS, else the refusal for INPUT naming the limit they pass.
std::string frame_size_problem(const EncodeOptions& options, int64_t width, int64_t height,
                               const std::string& input);

// A path as ffmpeg's file protocol, so no file name is read as a protocol
// or an option.
std::string ffmpeg_file(const std::string& path);

// Options before every input ffprobe or ffmpeg opens, so that reading it
// reads nothing else: the only protocols are files and the job's own pipes
// (files a demuxer opens inside inherit the list, so a playlist naming a URL
// opens no connection), and the only demuxers are those of self-contained
// videos and pictures. Playlists, scripts and manifests (HLS, concat, DASH)
// name further files or URLs: refused before anything they name is read.
std::vector<std::string> contained_input_options();

// INPUT opened by the demuxer the probe found, as exactly the named file:
// "-f <format>" pins the demuxer, and for the image demuxer, which reads a
// name such as img%03d.png as a numbered sequence of other files, pattern
// expansion is off (an option ffmpeg refuses for any other demuxer).
std::vector<std::string> input_args(const VideoInfo& info, const std::string& input);

std::vector<std::string> decoder_args(const std::string& ffmpeg, const VideoInfo& info,
                                      const std::string& input, const FrameWindow& window);
std::vector<std::string> frame_extract_args(const std::string& ffmpeg, const VideoInfo& info,
                                            const std::string& input, int number,
                                            const std::string& image);
// Whether OUTPUT keeps the input's rotation tag: MP4 and MOV do, with the
// frames stored as in the input; in Matroska and WebM (which ffmpeg cannot
// tag) the frames are stored upright instead, so they show the same.
bool stores_rotation(const EncodeOptions& options, const VideoInfo& info);
// ffmpeg sets a rotation tag only when copying streams: the encoded file is
// copied once more with the tag.
std::vector<std::string> rotation_tag_args(const std::string& ffmpeg, const EncodeOptions& options,
                                           const VideoInfo& info, const std::string& encoded,
                                           const std::string& output);
std::vector<std::string> encoder_args(const std::string& ffmpeg, const EncodeOptions& options,
                                      const VideoInfo& info, int width, int height,
                                      const std::string& input, const std::string& output);
// How the sound of CODECS goes into CONTAINER: copied where it takes them
// all as they are, else encoded again.
std::vector<std::string> sound_args(const std::string& container,
                                    const std::vector<std::string>& codecs);
// Encoded segments named in LIST (a concat listing) joined into OUTPUT
// without encoding again, with SOUND_FROM's sound (none when empty) and
// INFO's rotation tag.
std::vector<std::string> join_args(const std::string& ffmpeg, const EncodeOptions& options,
                                   const VideoInfo& info, const std::string& list,
                                   const std::string& sound_from, const std::string& output);

#endif
