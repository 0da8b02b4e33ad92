// The HTTP library hands request handlers no socket, so the socket is found
// by its two ends, which the request does carry.
#include <poll.h>
#include <sys/socket.h>

#include "client_connection.h"
#include "socket_lookup.h"

ClientConnection::ClientConnection(const std::string& remote_addr, int remote_port, int local_port)
    : fd_(find_connection(remote_addr, remote_port, local_port)) {}

bool ClientConnection::still_there() const {
    if (fd_ < 0) return true;
    pollfd p{fd_, POLLIN | POLLRDHUP, 0};
    if (poll(&p, 1, 0) <= 0) return true;
    if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) return false;
    // Readable: either the next request of a keep-alive client, or the end.
    char byte;
    return recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) != 0;
}
