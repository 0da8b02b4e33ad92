#include "request_head_guard.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "socket_calls.h"
#include "socket_lookup.h"

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

RequestHeadGuard::Head RequestHeadGuard::peek(int fd) {
    std::vector<char> bytes(MAX_HEAD_BYTES + 1);
    const long n = socket_calls::peek(fd, bytes.data(), bytes.size());
    Head head;
    if (n == 0) head.state = Head::Closed;
    if (n <= 0) return head;
    static const char END[] = "\r\n\r\n";
    const auto end = std::search(bytes.begin(), bytes.begin() + n, END, END + 4);
    if (end == bytes.begin() + n) {
        if (static_cast<size_t>(n) > MAX_HEAD_BYTES) head.state = Head::TooLarge;
        return head;
    }
    head.state = Head::Complete;
    head.bytes = static_cast<size_t>(end - bytes.begin()) + 4;
    // Only the methods that never carry a body here are light; anything else
    // is counted as an upload, whatever the library makes of it.
    const bool light = std::strncmp(bytes.data(), "GET ", 4) == 0 ||
                       std::strncmp(bytes.data(), "HEAD ", 5) == 0;
    head.has_body = !light;
    return head;
}
