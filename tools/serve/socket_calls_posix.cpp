// The kernel counts every byte a TCP connection receives (TCP_INFO), so the
// upload limit holds for the body's framing and for bytes the library has
// not read yet alike.
#include <errno.h>
#include <fcntl.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "socket_calls.h"

namespace socket_calls {

namespace {

// A receive that found nothing yet, as opposed to a failed one.
long nothing_yet_or_closed(long n) {
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return -1;
    return n < 0 ? 0 : n;
}

}  // namespace

void send_now(int socket, const std::string& bytes) {
    ssize_t ignored = send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    (void)ignored;
}

void shut_down(int socket) { shutdown(socket, SHUT_RDWR); }

void shut_down_sending(int socket) { shutdown(socket, SHUT_WR); }

void close_socket(int socket) { close(socket); }

uint64_t bytes_received(int socket) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return 0;
    return info.tcpi_bytes_received;
}

size_t unread_bytes(int socket) {
    int n = 0;
    return ioctl(socket, FIONREAD, &n) == 0 && n > 0 ? static_cast<size_t>(n) : 0;
}

long peek(int socket, char* buffer, size_t size) {
    return nothing_yet_or_closed(recv(socket, buffer, size, MSG_PEEK | MSG_DONTWAIT));
}

long receive_now(int socket, char* buffer, size_t size) {
    return nothing_yet_or_closed(recv(socket, buffer, size, MSG_DONTWAIT));
}

bool wait_readable(const std::vector<int>& sockets, int timeout_ms) {
    std::vector<pollfd> waiting;
    for (int socket : sockets)
        if (socket >= 0) waiting.push_back({socket, POLLIN, 0});
    return poll(waiting.data(), waiting.size(), timeout_ms) > 0;
}

Wakeup::Wakeup() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    read_end_ = ends[0];
    write_end_ = ends[1];
}

Wakeup::~Wakeup() {
    for (int fd : {read_end_, write_end_})
        if (fd >= 0) close(fd);
}

void Wakeup::wake() {
    const char byte = 1;
    ssize_t ignored = write(write_end_, &byte, 1);
    (void)ignored;
}

void Wakeup::drain() {
    char drained[64];
    while (read(read_end_, drained, sizeof drained) > 0) {
    }
}

}  // namespace socket_calls
