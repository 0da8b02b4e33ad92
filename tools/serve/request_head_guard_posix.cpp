#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "request_head_guard.h"
#include "socket_lookup.h"

namespace {

void answer_and_shut(int fd, const char* status) {
    std::string answer =
        std::string("HTTP/1.1 ") + status +
        "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: ";
    std::string body = std::string("{\"error\": \"") + status + "\"}";
    answer += std::to_string(body.size()) + "\r\n\r\n" + body;
    ssize_t ignored = send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    (void)ignored;
    shutdown(fd, SHUT_RDWR);
}

}  // namespace

int RequestHeadGuard::newest_connection() {
    std::set<std::string> seen;
    int newest = -1, unknown = 0;
    for (const ServerSocket& socket : sockets_on_port(port_)) {
        if (!socket.connected) continue;
        seen.insert(socket.identity);
        if (!known_.count(socket.identity)) {
            newest = socket.fd;
            ++unknown;
        }
    }
    known_ = std::move(seen);
    return unknown == 1 ? newest : -1;
}

bool RequestHeadGuard::head_arrives(int fd) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(HEAD_SECONDS);
    std::vector<char> head(MAX_HEAD_BYTES + 1);
    while (Clock::now() < deadline) {
        ssize_t n = recv(fd, head.data(), head.size(), MSG_PEEK | MSG_DONTWAIT);
        if (n == 0) return true;  // closed: the library sees that itself
        if (n > 0) {
            static const char END[] = "\r\n\r\n";
            if (std::search(head.begin(), head.begin() + n, END, END + 4) != head.begin() + n)
                return true;
            if (static_cast<size_t>(n) > MAX_HEAD_BYTES) {
                answer_and_shut(fd, "431 Request Header Fields Too Large");
                return false;
            }
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return true;
        if (n > 0) {
            // A part of the head is there, so the socket stays readable:
            // look again a little later.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } else {
            pollfd readable{fd, POLLIN, 0};
            poll(&readable, 1, 200);
        }
    }
    answer_and_shut(fd, "408 Request Timeout");
    return false;
}
