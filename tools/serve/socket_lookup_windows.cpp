// Windows lets no process list its own sockets. The server hands each
// connection's socket to the ConnectionWatch itself (http_server.h), so the
// connection a request came on is the one its thread serves.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>

#include "connection_watch.h"
#include "socket_handle_windows.h"
#include "socket_lookup.h"

namespace {

struct Endpoint {
    std::string address;
    int port = -1;
};

Endpoint peer_of(int fd) {
    sockaddr_storage address{};
    int length = sizeof address;
    if (getpeername(socket_handle(fd), reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    char host[NI_MAXHOST], service[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return {};
    return {host, std::atoi(service)};
}

}  // namespace

std::vector<ServerSocket> sockets_on_port(int) { return {}; }

int find_connection(const std::string& remote_addr, int remote_port, int) {
    const WatchedConnection* serving = serving_connection();
    if (!serving) return -1;
    const Endpoint peer = peer_of(serving->fd());
    return peer.port == remote_port && peer.address == remote_addr ? serving->fd() : -1;
}

// Winsock keeps the backlog of the first listen() on a socket and ignores
// later ones; the burst a short backlog cannot hold waits in the clients'
// connection retries.
void widen_listen_backlog(int, int) {}
