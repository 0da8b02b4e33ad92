#include "frame_pipes.h"

#include <system_error>
#include <utility>

std::atomic<bool> g_bl_video_frame_pipes_threaded{true};

namespace {

// A thread for `work`, or none when the system has none to give: the pipe's
// end then does its I/O in place, as unthreaded.
template <class Work>
std::thread start_thread(Work work) {
    if (!g_bl_video_frame_pipes_threaded.load()) return std::thread();
    try {
        return std::thread(std::move(work));
    } catch (const std::system_error&) {
        return std::thread();
    }
}

}  // namespace

// ------------------------------------------------------------ reading

FrameReadAhead::FrameReadAhead(int fd, std::function<void()> unblock)
    : reader_(fd), unblock_(std::move(unblock)) {
    thread_ = start_thread([this] { read_all(); });
}

FrameReadAhead::~FrameReadAhead() { stop(); }

void FrameReadAhead::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    // Past the stream's end the thread has returned; before it, it may sit
    // in a read only the decoder's end releases.
    if (!ended_) unblock_();
    thread_.join();
}

void FrameReadAhead::read_into(Slot& slot) {
    slot.result = reader_.next(slot.frame);
    slot.width = reader_.width();
    slot.height = reader_.height();
    slot.timestamp_scale = reader_.timestamp_scale();
}

// The slot is this thread's while it is not full, the caller's while it is.
void FrameReadAhead::read_all() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return !full_ || stopping_; });
            if (stopping_) return;
        }
        std::exception_ptr failure;
        try {
            read_into(slot_);
        } catch (...) {
            failure = std::current_exception();
        }
        bool last;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            failure_ = failure;
            full_ = true;
            last = failure || slot_.result != FrameStreamReader::Result::Frame;
        }
        changed_.notify_all();
        if (last) return;
    }
}

FrameStreamReader::Result FrameReadAhead::next(RawFrame& frame) {
    if (ended_) return FrameStreamReader::Result::End;
    if (!thread_.joinable()) {
        FrameStreamReader::Result result = reader_.next(frame);
        width_ = reader_.width();
        height_ = reader_.height();
        timestamp_scale_ = reader_.timestamp_scale();
        ended_ = result != FrameStreamReader::Result::Frame;
        return result;
    }
    FrameStreamReader::Result result;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return full_; });
        if (failure_) {
            ended_ = true;
            std::rethrow_exception(failure_);
        }
        // The caller's old buffer goes back to be read into again.
        frame.rgb.swap(slot_.frame.rgb);
        frame.timestamp = slot_.frame.timestamp;
        width_ = slot_.width;
        height_ = slot_.height;
        timestamp_scale_ = slot_.timestamp_scale;
        result = slot_.result;
        full_ = false;
    }
    changed_.notify_all();
    ended_ = result != FrameStreamReader::Result::Frame;
    return result;
}

// ------------------------------------------------------------ writing

FrameWriteBehind::FrameWriteBehind(int fd) : writer_(fd) {
    thread_ = start_thread([this] { write_all_handed_over(); });
}

FrameWriteBehind::~FrameWriteBehind() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    // A frame being written is finished first: ending the encoder under it
    // would raise SIGPIPE in a host that does not ignore it.
    thread_.join();
}

bool FrameWriteBehind::start(int width, int height, uint64_t timestamp_scale) {
    return writer_.start(width, height, timestamp_scale);
}

void FrameWriteBehind::write_one(int64_t timestamp, const std::vector<uint8_t>& rgb) {
    bool ok = writer_.write(timestamp, rgb.data(), rgb.size());
    std::lock_guard<std::mutex> lock(mutex_);
    if (ok) ++written_;
    else failed_ = true;
}

bool FrameWriteBehind::write(int64_t timestamp, std::vector<uint8_t>&& rgb) {
    if (!thread_.joinable()) {
        if (!failed_) write_one(timestamp, rgb);
        return !failed_;
    }
    if (!wait()) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        timestamp_ = timestamp;
        rgb_ = std::move(rgb);
        pending_ = true;
    }
    changed_.notify_all();
    return true;
}

// The frame is this thread's while it is pending.
void FrameWriteBehind::write_all_handed_over() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return pending_ || stopping_; });
            if (!pending_) return;
        }
        try {
            write_one(timestamp_, rgb_);
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            failure_ = std::current_exception();
        }
        std::vector<uint8_t>().swap(rgb_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pending_ = false;
        }
        changed_.notify_all();
    }
}

bool FrameWriteBehind::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !pending_; });
    if (failure_) std::rethrow_exception(failure_);
    return !failed_;
}

int32_t FrameWriteBehind::written() {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}
