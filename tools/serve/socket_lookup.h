// Finding the server's own sockets among the process's descriptors. The HTTP
// library keeps its sockets to itself; these let the server see a
// connection's socket (to check that its client is still there, to guard
// its request head) and widen the listen backlog. Windows lets no process
// list its sockets: there the connection a thread serves is the only one
// known (see http_server.h).
#ifndef BL_TOOLS_SERVE_SOCKET_LOOKUP_H
#define BL_TOOLS_SERVE_SOCKET_LOOKUP_H

#include <string>
#include <vector>

struct ServerSocket {
    int fd;
    std::string identity;  // "socket:[inode]": unique while the socket is open
    bool connected;        // a connection (with a peer), not the listening socket
};

// The open sockets whose local port is `port`.
std::vector<ServerSocket> sockets_on_port(int port);

// The connection whose peer is remote_addr:remote_port on local_port, or -1.
int find_connection(const std::string& remote_addr, int remote_port, int local_port);

// The HTTP library listens with a backlog of 5, too few for a burst of
// clients; listening again on the same socket sets a longer one.
void widen_listen_backlog(int port, int backlog);

#endif
