// Watches every open connection of the server from one thread, so that no
// client can hold the server by being slow or by sending too much. The HTTP
// library's timeouts restart with every byte and it reads some body framings
// without a limit, so:
// - a request's head waits here, not on a connection thread, and must arrive
//   within the head time and RequestHeadGuard's size;
// - the whole request (head and body) must arrive within the request time
//   from the connection's start, however slowly the bytes trickle in;
// - the bytes received after the head may not pass the upload limit,
//   whatever the body's framing (length, chunked, none);
// - requests with a body take at most `upload_slots` connection threads at
//   once (more wait here for one), so the health report and the page always
//   find a thread;
// - when the server stops, what has not reached its handler is answered 503
//   and answers still being written after a short grace are cut off.
// A refused connection gets a short JSON answer and is shut down; the
// connection thread serving it, if any, then finds it closed.
#ifndef BL_TOOLS_SERVE_CONNECTION_WATCH_H
#define BL_TOOLS_SERVE_CONNECTION_WATCH_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "socket_calls.h"

using WatchClock = std::chrono::steady_clock;

// One connection, from accept() until the library closes it. Its handler
// reaches it through serving_connection().
class WatchedConnection {
public:
    enum class Phase { AwaitingHead, Reading, Handling, Answering, Refused };

    WatchedConnection(int fd, std::function<void()> serve, WatchClock::time_point head_deadline,
                      WatchClock::time_point request_deadline, uint64_t max_body_bytes)
        : fd_(fd), serve_(std::move(serve)), head_deadline_(head_deadline),
          request_deadline_(request_deadline), max_body_bytes_(max_body_bytes) {}

    int fd() const { return fd_; }
    // The request has arrived whole and its job may start; false when the
    // watch refused the connection meanwhile (its answer is given).
    bool begin_handling();
    // The answer is about to be written, whoever made it.
    void begin_answering();
    // More bytes arrived after the head than the upload limit allows.
    bool body_too_large() const;
    // The answer is given before the body was read to its end: the client is
    // then let finish sending for a moment, so that it reads the answer
    // instead of a reset connection.
    void leave_body_unread() { body_unread_ = true; }
    // Called after the answer is written.
    void answered();
    // A route that takes larger and longer uploads (videos) widens its
    // connection's limits before it reads the body; they never narrow.
    void allow_upload(uint64_t max_body_bytes, WatchClock::time_point deadline) {
        wider_body_bytes_ = max_body_bytes;
        later_deadline_ = deadline.time_since_epoch().count();
    }

private:
    friend class ConnectionWatch;
    bool refuse_while_reading(int status, const std::string& message);

    const int fd_;
    std::function<void()> serve_;  // the library's task for the connection
    const WatchClock::time_point head_deadline_, request_deadline_;
    const uint64_t max_body_bytes_;
    std::atomic<Phase> phase_{Phase::AwaitingHead};
    std::atomic<bool> body_unread_{false};
    std::atomic<WatchClock::rep> answering_since_{0};
    std::atomic<uint64_t> wider_body_bytes_{0};
    std::atomic<WatchClock::rep> later_deadline_{0};
    size_t head_bytes_ = 0;
    size_t bytes_seen_ = 0;  // of a partial head, the last time it was looked at
    bool head_complete_ = false;
    bool upload_ = false;
    bool cut_off_ = false;
};

// The connection the calling thread serves; nullptr when it is not watched
// (its socket could not be told apart).
WatchedConnection* serving_connection();

class ConnectionWatch {
public:
    struct Limits {
        uint64_t max_body_bytes;
        int upload_limit_mb;  // the same, for messages
        std::chrono::seconds head_time, request_time;
        size_t upload_slots;  // connection threads that requests with a body may take
        size_t max_open;      // connections held at once; more are refused
    };
    // Hands a task to the connection threads.
    using Runner = std::function<void(std::function<void()>)>;

    explicit ConnectionWatch(const Limits& limits);
    ~ConnectionWatch();
    ConnectionWatch(const ConnectionWatch&) = delete;
    ConnectionWatch& operator=(const ConnectionWatch&) = delete;

    // Where complete heads go; nullptr once the threads are gone.
    void set_runner(Runner run);
    // A new connection and the library's task that serves it; call on the
    // accepting thread.
    void admit(int fd, std::function<void()> serve);
    // Refuses from now on what has not reached its handler (503).
    void stop();

private:
    using Entry = std::shared_ptr<WatchedConnection>;

    void watch();
    void wake();
    // Looks at one connection; true when the watch closed it.
    bool look_at(const Entry& c, WatchClock::time_point now);
    bool look_at_head(const Entry& c, WatchClock::time_point now);
    void dispatch(const Entry& c);
    void finished(const Entry& c);

    const Limits limits_;
    std::mutex mutex_;
    std::list<Entry> open_;  // in order of arrival
    Runner run_;
    size_t uploads_ = 0;     // connections with a body on the threads
    bool stopping_ = false;
    WatchClock::time_point stopped_at_{};
    std::atomic<bool> done_{false};
    socket_calls::Wakeup wakeup_;
    std::thread thread_;
};

#endif
