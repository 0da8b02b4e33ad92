#include "connection_pool.h"

ConnectionPool::ConnectionPool(size_t threads, size_t pending,
                               std::shared_ptr<RequestHeadGuard> guard)
    : pending_limit_(pending), guard_(std::move(guard)) {
    for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { serve(); });
}

ConnectionPool::~ConnectionPool() { shutdown(); }

void ConnectionPool::enqueue(std::function<void()> connection) {
    const int fd = guard_ ? guard_->newest_connection() : -1;
    if (fd >= 0)
        connection = [fd, serve = std::move(connection)] {
            // A refused head leaves the socket shut down; serving it then
            // only closes it.
            RequestHeadGuard::head_arrives(fd);
            serve();
        };
    std::unique_lock<std::mutex> lock(mutex_);
    // The connection must be served even during shutdown: only serving it
    // closes its socket.
    has_room_.wait(lock, [this] { return pending_.size() < pending_limit_ || shutting_down_; });
    pending_.push_back(std::move(connection));
    has_work_.notify_one();
}

void ConnectionPool::shutdown() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shutting_down_ && threads_.empty()) return;
        shutting_down_ = true;
    }
    has_work_.notify_all();
    has_room_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
}

void ConnectionPool::serve() {
    for (;;) {
        std::function<void()> connection;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            has_work_.wait(lock, [this] { return !pending_.empty() || shutting_down_; });
            if (pending_.empty()) return;
            connection = std::move(pending_.front());
            pending_.pop_front();
            has_room_.notify_one();
        }
        connection();
    }
}
