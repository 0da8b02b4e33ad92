// The two ends of a video job's frame pipes, each on a thread of its own:
// the next decoded frame is read (and the decoder freed to decode the one
// after) and the last processed frame written while the caller's thread runs
// the models on the current one. One frame waits at each end, no more, so
// a job holds at most one frame more on either side than it works on.
//
// Frames keep their order; nothing but the pipe's I/O runs on these threads
// (the operation, its logs and the progress callback stay on the caller's).
// Unthreaded, each call does its I/O in place, as the jobs did before.
#ifndef BL_VIDEO_FILE_FRAME_PIPES_H
#define BL_VIDEO_FILE_FRAME_PIPES_H

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "video_frame_stream.h"

// Read ahead and written behind unless the tests or benchmarks turn it off
// (video_job_testing.h).
extern std::atomic<bool> g_bl_video_frame_pipes_threaded;

class FrameReadAhead {
public:
    // `unblock` ends a read the decoder may hold up forever (by ending the
    // decoder); it is called when the reader is dropped before the stream's end.
    FrameReadAhead(int fd, std::function<void()> unblock);
    // Stops and joins the reading thread.
    ~FrameReadAhead();
    FrameReadAhead(const FrameReadAhead&) = delete;
    FrameReadAhead& operator=(const FrameReadAhead&) = delete;

    // The next frame, as FrameStreamReader::next; `frame`'s old buffer is
    // reused for a later one. The sizes below are those of this frame.
    FrameStreamReader::Result next(RawFrame& frame);
    int width() const { return width_; }
    int height() const { return height_; }
    uint64_t timestamp_scale() const { return timestamp_scale_; }

private:
    struct Slot {
        FrameStreamReader::Result result = FrameStreamReader::Result::End;
        RawFrame frame;
        int width = 0, height = 0;
        uint64_t timestamp_scale = 0;
    };
    void read_into(Slot& slot);
    void read_all();
    void stop();

    FrameStreamReader reader_;
    std::function<void()> unblock_;
    int width_ = 0, height_ = 0;
    uint64_t timestamp_scale_ = 0;
    bool ended_ = false;  // the caller was handed the stream's last answer

    std::mutex mutex_;
    std::condition_variable changed_;
    Slot slot_;
    bool full_ = false, stopping_ = false;
    std::exception_ptr failure_;  // from the reading thread, thrown by next()
    std::thread thread_;
};

class FrameWriteBehind {
public:
    explicit FrameWriteBehind(int fd);
    // Waits for the frame being written and joins the writing thread.
    ~FrameWriteBehind();
    FrameWriteBehind(const FrameWriteBehind&) = delete;
    FrameWriteBehind& operator=(const FrameWriteBehind&) = delete;

    // The stream's header, written in place.
    bool start(int width, int height, uint64_t timestamp_scale);
    // Hands one frame over once the previous one is written; it is then
    // written while the caller goes on (unthreaded: before this returns).
    // False, taking nothing, when a frame before could not be written whole
    // (unthreaded: this one).
    bool write(int64_t timestamp, std::vector<uint8_t>&& rgb);
    // Waits for the frame handed over last; false when any write failed.
    bool wait();
    // Frames written whole so far, in the order handed over.
    int32_t written();

private:
    void write_all_handed_over();
    void write_one(int64_t timestamp, const std::vector<uint8_t>& rgb);

    FrameStreamWriter writer_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int64_t timestamp_ = 0;
    std::vector<uint8_t> rgb_;
    bool pending_ = false, stopping_ = false, failed_ = false;
    int32_t written_ = 0;
    std::exception_ptr failure_;  // from the writing thread, thrown by wait()
    std::thread thread_;
};

#endif
