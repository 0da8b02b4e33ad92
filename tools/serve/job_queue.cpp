#include "job_queue.h"

#include <chrono>

namespace {

// How often a waiting request checks that its client is still there.
constexpr std::chrono::milliseconds CLIENT_CHECK_INTERVAL{200};

}  // namespace

JobQueue::Admission JobQueue::wait_for_turn(const std::function<bool()>& still_wanted) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (closed_) return Admission::Closed;
    if (running_ < slots_ && waiting_.empty()) {
        ++running_;
        return Admission::Run;
    }
    if (waiting_.size() >= capacity_) return Admission::Full;
    auto place = waiting_.insert(waiting_.end(), next_ticket_++);
    for (;;) {
        changed_.wait_for(lock, CLIENT_CHECK_INTERVAL);
        if (closed_) {
            leave(place);
            return Admission::Closed;
        }
        if (running_ < slots_ && place == waiting_.begin()) {
            // The one behind may take a second free slot.
            leave(place);
            ++running_;
            return Admission::Run;
        }
        lock.unlock();
        bool wanted = still_wanted();
        lock.lock();
        if (!wanted) {
            leave(place);
            return Admission::Abandoned;
        }
    }
}

// Called with the lock held: the one behind may now be first.
void JobQueue::leave(std::list<uint64_t>::iterator place) {
    waiting_.erase(place);
    changed_.notify_all();
}

void JobQueue::finished() {
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
    changed_.notify_all();
}

void JobQueue::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

JobQueue::Length JobQueue::length() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {running_, waiting_.size(), capacity_, slots_};
}
