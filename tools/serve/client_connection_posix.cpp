// The HTTP library hands request handlers no socket, so the socket is found
// among the process's descriptors by its two ends, which the request does
// carry.
#include "client_connection.h"

#include <dirent.h>
#include <netdb.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <memory>

namespace {

struct Endpoint {
    std::string address;
    int port = -1;
};

Endpoint numeric_endpoint(const sockaddr_storage& address, socklen_t length) {
    char host[NI_MAXHOST], service[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return {};
    return {host, atoi(service)};
}

bool has_ends(int fd, const std::string& remote_addr, int remote_port, int local_port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
    Endpoint peer = numeric_endpoint(address, length);
    if (peer.port != remote_port || peer.address != remote_addr) return false;
    length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
    return numeric_endpoint(address, length).port == local_port;
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

ClientConnection::ClientConnection(const std::string& remote_addr, int remote_port, int local_port) {
    std::unique_ptr<DIR, DirCloser> fds(opendir("/proc/self/fd"));
    if (!fds) return;
    while (const dirent* entry = readdir(fds.get())) {
        char* end = nullptr;
        long fd = strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == dirfd(fds.get())) continue;
        if (has_ends(static_cast<int>(fd), remote_addr, remote_port, local_port)) {
            fd_ = static_cast<int>(fd);
            return;
        }
    }
}

bool ClientConnection::still_there() const {
    if (fd_ < 0) return true;
    pollfd p{fd_, POLLIN | POLLRDHUP, 0};
    if (poll(&p, 1, 0) <= 0) return true;
    if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) return false;
    // Readable: either the next request of a keep-alive client, or the end.
    char byte;
    return recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) != 0;
}
