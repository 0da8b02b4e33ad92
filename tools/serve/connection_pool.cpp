#include "connection_pool.h"

ConnectionPool::ConnectionPool(size_t threads, std::shared_ptr<RequestHeadGuard> guard,
                               std::shared_ptr<ConnectionWatch> watch)
    : guard_(std::move(guard)), watch_(std::move(watch)) {
    for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { serve(); });
    watch_->set_runner([this](std::function<void()> task) { run(std::move(task)); });
}

ConnectionPool::~ConnectionPool() { shutdown(); }

void ConnectionPool::enqueue(std::function<void()> connection) {
    const int fd = guard_->newest_connection();
    // A socket that cannot be told apart is served unwatched rather than
    // dropped: only serving it closes it. (On Windows none can be: there the
    // server's task hands its socket to the watch itself, see http_server.h.)
    if (fd < 0) return run(std::move(connection));
    watch_->admit(fd, std::move(connection));
}

void ConnectionPool::run(std::function<void()> task) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(std::move(task));
    has_work_.notify_one();
}

void ConnectionPool::shutdown() {
    watch_->stop();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shutting_down_ && threads_.empty()) return;
        shutting_down_ = true;
    }
    has_work_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    watch_->set_runner(nullptr);
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
        }
        connection();
    }
}
