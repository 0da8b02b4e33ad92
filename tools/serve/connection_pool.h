// The threads that serve connections. The HTTP library's own pool takes any
// number of accepted connections; this one hands each connection to the
// ConnectionWatch first, which passes it on once its request head is there
// and a thread may take it, or refuses it.
#ifndef BL_TOOLS_SERVE_CONNECTION_POOL_H
#define BL_TOOLS_SERVE_CONNECTION_POOL_H

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "connection_watch.h"
#include "request_head_guard.h"

class ConnectionPool : public httplib::TaskQueue {
public:
    ConnectionPool(size_t threads, std::shared_ptr<RequestHeadGuard> guard,
                   std::shared_ptr<ConnectionWatch> watch);
    ~ConnectionPool() override;

    void enqueue(std::function<void()> connection) override;
    // Refuses what has not reached a handler, serves the rest, then ends
    // the threads.
    void shutdown() override;

private:
    void run(std::function<void()> task);
    void serve();

    const std::shared_ptr<RequestHeadGuard> guard_;
    const std::shared_ptr<ConnectionWatch> watch_;
    std::mutex mutex_;
    std::condition_variable has_work_;
    std::deque<std::function<void()>> pending_;
    std::vector<std::thread> threads_;
    bool shutting_down_ = false;
};

#endif
