// One run over a video file: frames decoded by ffmpeg one at a time, each
// passed through a single-frame operation in memory, and encoded as they come
// to a temporary file beside OUTPUT that is renamed to OUTPUT only when
// complete. The next frame is read and the last one written while the
// operation runs (frame_pipes.h).
#ifndef BL_VIDEO_FILE_VIDEO_JOB_H
#define BL_VIDEO_FILE_VIDEO_JOB_H

#include <stdint.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "brightloom.h"
#include "video_encoding.h"
#include "video_probe.h"

class ChildProcess;
class FrameWriteBehind;
struct HardStopState;
struct RawFrame;

class VideoJob {
public:
    // Processes one frame into a new image; anything but BRIGHTLOOM_OK lets
    // the frame through as it came.
    using FrameOperation = std::function<brightloom_status(const brightloom_image& in,
                                                           brightloom_image* out)>;
    // Told after every frame: frames done, frames expected (-1 unknown).
    using Progress = std::function<void(int32_t done, int32_t total)>;
    enum class Outcome { Complete, Cancelled, Failed };

    // `cancel` (may be NULL) is polled before every frame.
    VideoJob(std::string ffmpeg, std::string ffprobe, std::string input, std::string output,
             EncodeOptions options, VideoInfo info, const volatile int32_t* cancel);
    // Stops the children and removes the temporary directory and any partial output.
    ~VideoJob();
    VideoJob(const VideoJob&) = delete;
    VideoJob& operator=(const VideoJob&) = delete;

    // Creates the private temporary directory (mode 0700) for ffmpeg's logs.
    bool prepare(std::string& error);
    // Frame `number` (0 = first) of the input, decoded.
    bool extract_frame(int number, brightloom_image* image, std::string& error);
    Outcome run(const FrameOperation& operation, const Progress& progress, std::string& error);
    // Joins encoded SEGMENTS (of FRAMES each) into the output without
    // encoding again, with the sound of the input (none when it is "").
    bool join(const std::vector<std::string>& segments, const std::vector<int64_t>& frames,
              std::string& error);
    // After run() answered Failed: the status its message stands for.
    brightloom_status failure_status() const { return failure_status_; }

    int32_t done() const { return done_; }
    int failed_frames() const { return failed_; }

    // Kills the children of every job in progress and removes their
    // temporary files; async-signal-safe, for a process that must end at once.
    static void hard_stop();

private:
    std::vector<uint8_t> process_frame(const FrameOperation& operation, RawFrame& frame,
                                       int width, int height);
    bool cancelled() const { return cancel_ && *cancel_ != 0; }
    int32_t total() const;
    bool make_partial(int slot, std::string& path, std::string& error);
    brightloom_status start_encoder(int width, int height, uint64_t timestamp_scale, std::string& error);
    Outcome encoder_refused(std::string& error);
    brightloom_status tag_rotation(std::string& error);
    bool holds_every_frame(const std::string& encoded, std::string& error);
    std::string encoder_failure();
    // The message `error` ends a run with, and the status it stands for.
    Outcome failed(brightloom_status status, std::string message, std::string& error);
    std::string temp_path(const char* name) const;
    void note_child(int slot, pid_t pid);
    void clean_up();

    std::string ffmpeg_, ffprobe_, input_, output_;
    EncodeOptions options_;
    VideoInfo info_;
    const volatile int32_t* cancel_;
    HardStopState* stop_state_;  // NULL when every slot was taken
    std::string temp_dir_, partial_, tagged_;
    std::unique_ptr<ChildProcess> decoder_, encoder_;
    std::unique_ptr<FrameWriteBehind> writer_;
    int32_t done_ = 0;
    bool input_ended_ = false;
    int failed_ = 0;
    brightloom_status failure_status_ = BRIGHTLOOM_OK;
};

#endif
