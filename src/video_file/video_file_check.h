// What a video job checks before it starts, and what the checks find out:
// the ffmpeg to run, the encoding and the input's streams.
#ifndef BL_VIDEO_FILE_VIDEO_FILE_CHECK_H
#define BL_VIDEO_FILE_VIDEO_FILE_CHECK_H

#include <string>

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

#endif
