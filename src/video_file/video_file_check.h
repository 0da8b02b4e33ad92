// What a video job checks before it starts, and what the checks find out:
// the ffmpeg to run, the encoding and the input's streams.
#ifndef BL_VIDEO_FILE_VIDEO_FILE_CHECK_H
#define BL_VIDEO_FILE_VIDEO_FILE_CHECK_H

#include <string>
#include <vector>

#include "brightloom.h"
#include "video_encoding.h"
#include "video_probe.h"

struct VideoFilePlan {
    std::string ffmpeg, ffprobe;
    EncodeOptions encoding;
    VideoInfo info;
};

// Fills `plan`; anything but BRIGHTLOOM_OK has the thread's message set.
// `options` and `params` have been read with their defaults filled in.
brightloom_status plan_video_file(brightloom_video_operation operation, const char* input,
                                  const char* output, const brightloom_options& options,
                                  const brightloom_video_params& params, VideoFilePlan& plan);

// `given` (may be NULL: the defaults) read as far as its size reaches, the
// rest the defaults; BAD_ARGUMENT for a size of 0.
brightloom_status complete_video_params(const brightloom_video_params* given,
                                        brightloom_video_params* params);

// The caller's encoder settings for OUTPUT's container.
brightloom_status check_video_encoding(const brightloom_video_params& params, const char* output,
                                       EncodeOptions& encoding);

// The programs, and a readable video file probed: what every call that
// reads a video checks first.
brightloom_status open_video_input(const char* path, std::string& ffmpeg, std::string& ffprobe,
                                   VideoInfo& info);

// OUTPUT names no file of INPUTS and can be created by a rename in its folder.
brightloom_status check_video_output(const std::vector<std::string>& inputs, const char* output);

#endif
