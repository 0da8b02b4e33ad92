// Winsock's sockets are blocking, as the HTTP library made them, and it has
// no flag for one call that must not wait: a call that must not wait first
// asks whether it would (WSAPoll with no timeout). SIO_TCP_INFO counts every
// byte received, as TCP_INFO does on Linux, from Windows 10 1703 on.
#ifndef NTDDI_VERSION
#define NTDDI_VERSION 0x0A000003  // Windows 10 1703, for TCP_INFO_v0
#endif
#include <winsock2.h>
#include <mstcpip.h>
#include <ws2tcpip.h>

#include "socket_calls.h"
#include "socket_handle_windows.h"

namespace socket_calls {

namespace {

// True when the socket has bytes or its end to read, or failed: a receive
// would not wait.
bool ready(int socket, short events) {
    WSAPOLLFD entry{socket_handle(socket), events, 0};
    return WSAPoll(&entry, 1, 0) > 0;
}

int clamp_count(size_t size) { return size > 0x7fffffff ? 0x7fffffff : static_cast<int>(size); }

long received_or_closed(int n) { return n < 0 ? 0 : n; }

}  // namespace

void send_now(int socket, const std::string& bytes) {
    if (ready(socket, POLLWRNORM))
        send(socket_handle(socket), bytes.data(), clamp_count(bytes.size()), 0);
}

void shut_down(int socket) { shutdown(socket_handle(socket), SD_BOTH); }

void shut_down_sending(int socket) { shutdown(socket_handle(socket), SD_SEND); }

void close_socket(int socket) { closesocket(socket_handle(socket)); }

uint64_t bytes_received(int socket) {
    DWORD version = 0, length = 0;
    TCP_INFO_v0 info{};
    if (WSAIoctl(socket_handle(socket), SIO_TCP_INFO, &version, sizeof version, &info, sizeof info,
                 &length, nullptr, nullptr) != 0)
        return 0;
    return info.BytesIn;
}

size_t unread_bytes(int socket) {
    u_long n = 0;
    return ioctlsocket(socket_handle(socket), FIONREAD, &n) == 0 ? static_cast<size_t>(n) : 0;
}

long peek(int socket, char* buffer, size_t size) {
    if (!ready(socket, POLLRDNORM)) return -1;
    return received_or_closed(recv(socket_handle(socket), buffer, clamp_count(size), MSG_PEEK));
}

long receive_now(int socket, char* buffer, size_t size) {
    if (!ready(socket, POLLRDNORM)) return -1;
    return received_or_closed(recv(socket_handle(socket), buffer, clamp_count(size), 0));
}

bool wait_readable(const std::vector<int>& sockets, int timeout_ms) {
    std::vector<WSAPOLLFD> waiting;
    for (int socket : sockets)
        if (socket >= 0) waiting.push_back({socket_handle(socket), POLLRDNORM, 0});
    if (waiting.empty()) {
        Sleep(static_cast<DWORD>(timeout_ms));
        return false;
    }
    return WSAPoll(waiting.data(), static_cast<ULONG>(waiting.size()), timeout_ms) > 0;
}

// A UDP socket on the loopback address that sends to itself: Winsock waits
// on sockets only, and a datagram is a byte that wakes the waiting thread.
Wakeup::Wakeup() {
    SOCKET own = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (own == INVALID_SOCKET) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    u_long non_blocking = 1;
    if (bind(own, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        getsockname(own, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        connect(own, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ioctlsocket(own, FIONBIO, &non_blocking) != 0) {
        closesocket(own);
        return;
    }
    read_end_ = write_end_ = socket_number(own);
}

Wakeup::~Wakeup() {
    if (read_end_ >= 0) closesocket(socket_handle(read_end_));
}

void Wakeup::wake() {
    const char byte = 1;
    if (write_end_ >= 0) send(socket_handle(write_end_), &byte, 1, 0);
}

void Wakeup::drain() {
    char drained[64];
    if (read_end_ < 0) return;
    while (recv(socket_handle(read_end_), drained, sizeof drained, 0) > 0) {
    }
}

}  // namespace socket_calls
