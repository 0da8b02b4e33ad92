// The threads that serve connections. The HTTP library's own pool takes any
// number of accepted connections into an unbounded list; this one holds at
// most `pending` of them and otherwise makes the accepting thread wait, so a
// flood of connections waits in the system's small listen backlog instead of
// piling up open sockets here. With a guard, each connection's request head
// must arrive whole, small and in time before the library reads it.
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

#include "request_head_guard.h"

class ConnectionPool : public httplib::TaskQueue {
public:
    ConnectionPool(size_t threads, size_t pending, std::shared_ptr<RequestHeadGuard> guard);
    ~ConnectionPool() override;

    void enqueue(std::function<void()> connection) override;
    // Serves the connections already taken, then ends the threads.
    void shutdown() override;

private:
    void serve();

    const size_t pending_limit_;
    const std::shared_ptr<RequestHeadGuard> guard_;
    std::mutex mutex_;
    std::condition_variable has_work_, has_room_;
    std::deque<std::function<void()>> pending_;
    std::vector<std::thread> threads_;
    bool shutting_down_ = false;
};

#endif
