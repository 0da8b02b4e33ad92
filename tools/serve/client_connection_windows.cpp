// The HTTP library hands request handlers no socket; the connection's own
// thread knows it (socket_lookup_windows.cpp).
#include "client_connection.h"
#include "socket_calls.h"
#include "socket_lookup.h"

ClientConnection::ClientConnection(const std::string& remote_addr, int remote_port, int local_port)
    : fd_(find_connection(remote_addr, remote_port, local_port)) {}

// A client that has closed or reset its side leaves the socket readable with
// nothing to read; one that waits leaves it quiet (or sends more).
bool ClientConnection::still_there() const {
    if (fd_ < 0) return true;
    char byte;
    return socket_calls::peek(fd_, &byte, 1) != 0;
}
