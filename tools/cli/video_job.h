// One run over a video file: frames decoded by ffmpeg one at a time, each
// passed through a single-frame operation as files in a private temporary
// directory, and encoded as they come to a temporary file beside OUTPUT
// that is renamed to OUTPUT only when complete.
#ifndef BL_TOOLS_VIDEO_JOB_H
#define BL_TOOLS_VIDEO_JOB_H

#include <stdint.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "video_encoding.h"
#include "video_probe.h"

class ChildProcess;
class FrameStreamWriter;
struct RawFrame;

class VideoJob {
public:
    // Processes one frame file into another; false when the library failed.
    using FrameOperation = std::function<bool(const std::string& in, const std::string& out)>;
    enum class Outcome { Complete, Cancelled, Failed };

    VideoJob(std::string ffmpeg, std::string input, std::string output, EncodeOptions options,
             VideoInfo info);
    // Stops the children and removes the temporary directory and any partial output.
    ~VideoJob();
    // What the destructor does, for a caller that must finish it while its
    // signal handling is still in place.
    void clean_up();
    VideoJob(const VideoJob&) = delete;
    VideoJob& operator=(const VideoJob&) = delete;

    // Creates the private temporary directory (mode 0700).
    bool prepare(std::string& error);
    // Frame `number` (0 = first) of the input as an image file in the temporary directory.
    bool extract_frame(int number, std::string& image, std::string& error);
    Outcome run(const FrameOperation& operation, std::string& error);

    // Callable from another thread while run() is in progress.
    int32_t done() const { return done_; }
    int32_t total() const;
    void cancel() { cancelled_ = true; }
    int failed_frames() const { return failed_; }

    // Kills the children and removes every temporary file; async-signal-safe,
    // for a process that must end at once.
    static void hard_stop();

private:
    std::vector<uint8_t> process_frame(const FrameOperation& operation, const RawFrame& frame,
                                       int width, int height);
    bool make_partial(int slot, std::string& path, std::string& error);
    bool start_encoder(int width, int height, uint64_t timestamp_scale, std::string& error);
    bool tag_rotation(std::string& error);
    std::string encoder_failure();
    std::string temp_path(const char* name) const;

    std::string ffmpeg_, input_, output_;
    EncodeOptions options_;
    VideoInfo info_;
    std::string temp_dir_, partial_, tagged_;
    std::unique_ptr<ChildProcess> decoder_, encoder_;
    std::unique_ptr<FrameStreamWriter> writer_;
    std::atomic<int32_t> done_{0};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> input_ended_{false};
    int failed_ = 0;
};

#endif
