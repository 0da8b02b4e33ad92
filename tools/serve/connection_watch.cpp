#include <algorithm>
#include <vector>

#include "connection_watch.h"
#include "request_head_guard.h"
#include "socket_calls.h"

using namespace socket_calls;

namespace {

// How often the watch looks at connections whose head is partly there (a
// socket with unread bytes stays readable, so it cannot wait for more).
constexpr int PARTIAL_HEAD_TICK_MS = 20;
constexpr int TICK_MS = 100;
// After a stop, answers still being written get this long before they are cut.
constexpr std::chrono::seconds STOP_GRACE{3};
// An answer given before the body ended: how long, and how much, the client
// may go on sending so that it gets to read the answer.
constexpr std::chrono::milliseconds LINGER_TIME{1000};
constexpr size_t LINGER_BYTES = 8 * 1024 * 1024;

thread_local WatchedConnection* t_serving = nullptr;

const char* reason(int status) {
    switch (status) {
        case 408: return "Request Timeout";
        case 413: return "Payload Too Large";
        case 431: return "Request Header Fields Too Large";
        default: return "Service Unavailable";
    }
}

// The answer the library would give, written without it: the connection's
// thread may be blocked reading.
void send_answer(int fd, int status, const std::string& message) {
    const std::string body = "{\"error\": \"" + message + "\"}";
    const std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) +
                               "\r\nContent-Type: application/json\r\nConnection: close\r\n"
                               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                               body;
    send_now(fd, answer);
}

void refuse_and_close(int fd, int status, const std::string& message) {
    send_answer(fd, status, message);
    shut_down(fd);
    close_socket(fd);
}

std::string seconds_text(std::chrono::seconds time) {
    return std::to_string(time.count()) + " s";
}

const char* const BUSY = "The server is busy: too many connections; try again later";
const char* const STOPPING = "The server is shutting down";

}  // namespace

WatchedConnection* serving_connection() { return t_serving; }

bool WatchedConnection::begin_handling() {
    Phase reading = Phase::Reading;
    return phase_.compare_exchange_strong(reading, Phase::Handling);
}

void WatchedConnection::begin_answering() {
    answering_since_ = WatchClock::now().time_since_epoch().count();
    for (Phase now = phase_; now == Phase::Reading || now == Phase::Handling;)
        if (phase_.compare_exchange_weak(now, Phase::Answering)) return;
}

bool WatchedConnection::body_too_large() const {
    return bytes_received(fd_) > head_bytes_ + std::max(max_body_bytes_, wider_body_bytes_.load());
}

void WatchedConnection::answered() {
    if (!body_unread_) return;
    shut_down_sending(fd_);
    const auto until = WatchClock::now() + LINGER_TIME;
    std::vector<char> discard(64 * 1024);
    for (size_t drained = 0; drained < LINGER_BYTES;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - WatchClock::now());
        if (left.count() <= 0 || !wait_readable({fd_}, static_cast<int>(left.count()))) break;
        const long n = receive_now(fd_, discard.data(), discard.size());
        if (n <= 0) break;
        drained += static_cast<size_t>(n);
    }
}

bool WatchedConnection::refuse_while_reading(int status, const std::string& message) {
    Phase reading = Phase::Reading;
    if (!phase_.compare_exchange_strong(reading, Phase::Refused)) return false;
    send_answer(fd_, status, message);
    // Wakes the connection's thread if it waits in a read; what it then
    // writes goes nowhere.
    shut_down(fd_);
    return true;
}

ConnectionWatch::ConnectionWatch(const Limits& limits) : limits_(limits) {
    thread_ = std::thread([this] { watch(); });
}

ConnectionWatch::~ConnectionWatch() {
    done_ = true;
    wake();
    thread_.join();
    // Connections still waiting here were never handed to the library.
    for (const Entry& c : open_)
        if (c->phase_ == WatchedConnection::Phase::AwaitingHead) close_socket(c->fd_);
}

void ConnectionWatch::set_runner(Runner run) {
    std::lock_guard<std::mutex> lock(mutex_);
    run_ = std::move(run);
}

void ConnectionWatch::admit(int fd, std::function<void()> serve) {
    const auto now = WatchClock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || open_.size() >= limits_.max_open) {
        // The task is dropped unrun, so the socket is closed here.
        refuse_and_close(fd, 503, stopping_ ? STOPPING : BUSY);
        return;
    }
    open_.push_back(std::make_shared<WatchedConnection>(
        fd, std::move(serve), now + std::min(limits_.head_time, limits_.request_time),
        now + limits_.request_time, limits_.max_body_bytes));
    wake();
}

void ConnectionWatch::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    stopped_at_ = WatchClock::now();
    wake();
}

void ConnectionWatch::wake() { wakeup_.wake(); }

void ConnectionWatch::watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_) {
        std::vector<int> waiting{wakeup_.handle()};
        bool partial = false;
        for (const Entry& c : open_) {
            if (c->phase_ != WatchedConnection::Phase::AwaitingHead || c->head_complete_) continue;
            if (c->bytes_seen_ > 0)
                partial = true;
            else
                waiting.push_back(c->fd_);
        }
        lock.unlock();
        wait_readable(waiting, partial ? PARTIAL_HEAD_TICK_MS : TICK_MS);
        wakeup_.drain();
        lock.lock();
        const auto now = WatchClock::now();
        for (auto it = open_.begin(); it != open_.end();)
            it = look_at(*it, now) ? open_.erase(it) : std::next(it);
    }
}

bool ConnectionWatch::look_at(const Entry& entry, WatchClock::time_point now) {
    using Phase = WatchedConnection::Phase;
    WatchedConnection& c = *entry;
    switch (c.phase_.load()) {
        case Phase::AwaitingHead:
            return look_at_head(entry, now);
        case Phase::Reading:
            if (stopping_)
                c.refuse_while_reading(503, STOPPING);
            else if (now > std::max(c.request_deadline_,
                                    WatchClock::time_point(WatchClock::duration(c.later_deadline_))))
                c.refuse_while_reading(408, "The request did not arrive within " +
                                                seconds_text(limits_.request_time));
            else if (c.upload_ && c.body_too_large())
                c.refuse_while_reading(413, "Upload too large: the limit is " +
                                                std::to_string(c.wider_body_bytes_ > 0
                                                    ? c.wider_body_bytes_ / (1024 * 1024)
                                                    : static_cast<uint64_t>(limits_.upload_limit_mb)) +
                                                " MB");
            return false;
        case Phase::Answering: {
            const WatchClock::time_point since{WatchClock::duration(c.answering_since_.load())};
            if (stopping_ && !c.cut_off_ && now > std::max(stopped_at_, since) + STOP_GRACE) {
                shut_down(c.fd_);
                c.cut_off_ = true;
            }
            return false;
        }
        default:
            return false;
    }
}

bool ConnectionWatch::look_at_head(const Entry& entry, WatchClock::time_point now) {
    WatchedConnection& c = *entry;
    if (stopping_ || !run_) {
        refuse_and_close(c.fd_, 503, STOPPING);
        return true;
    }
    if (!c.head_complete_) {
        const size_t unread = unread_bytes(c.fd_);
        // Nothing new since the last look: the head is still partial.
        RequestHeadGuard::Head head;
        if (unread == 0 || unread != c.bytes_seen_) head = RequestHeadGuard::peek(c.fd_);
        if (head.state == RequestHeadGuard::Head::Closed) {
            close_socket(c.fd_);
            return true;
        }
        if (head.state == RequestHeadGuard::Head::TooLarge) {
            refuse_and_close(c.fd_, 431, "Request Header Fields Too Large");
            return true;
        }
        c.bytes_seen_ = unread;
        if (head.state == RequestHeadGuard::Head::Complete) {
            c.head_complete_ = true;
            c.head_bytes_ = head.bytes;
            c.upload_ = head.has_body;
        }
    }
    if (!c.head_complete_) {
        if (now <= c.head_deadline_) return false;
        refuse_and_close(c.fd_, 408, "The request head did not arrive within " +
                                         seconds_text(std::min(limits_.head_time,
                                                               limits_.request_time)));
        return true;
    }
    if (c.upload_ && uploads_ >= limits_.upload_slots) {
        if (now <= c.request_deadline_) return false;  // waits for a thread
        refuse_and_close(c.fd_, 503, BUSY);
        return true;
    }
    dispatch(entry);
    return false;
}

void ConnectionWatch::dispatch(const Entry& c) {
    if (c->upload_) ++uploads_;
    c->phase_ = WatchedConnection::Phase::Reading;
    run_([this, c] {
        t_serving = c.get();
        std::function<void()> serve = std::move(c->serve_);
        serve();
        t_serving = nullptr;
        finished(c);
    });
}

void ConnectionWatch::finished(const Entry& c) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (c->upload_) --uploads_;
    open_.remove(c);
    // An upload waiting for a thread may go now.
    wake();
}
