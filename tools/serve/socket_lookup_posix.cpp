#include <dirent.h>
#include <netdb.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include "socket_lookup.h"

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

struct Endpoint {
    std::string address;
    int port = -1;
};

using AddressOf = int (*)(int, sockaddr*, socklen_t*);

Endpoint endpoint(int fd, AddressOf address_of) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (address_of(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    char host[NI_MAXHOST], service[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return {};
    return {host, atoi(service)};
}

std::string identity(const char* fd_name) {
    char target[64];
    std::string link = std::string("/proc/self/fd/") + fd_name;
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) return "";
    target[n] = '\0';
    return strncmp(target, "socket:", 7) == 0 ? target : "";
}

// Calls `visit` for every open socket of the process.
void for_each_socket(const std::function<void(int fd, const std::string& identity)>& visit) {
    std::unique_ptr<DIR, DirCloser> fds(opendir("/proc/self/fd"));
    if (!fds) return;
    while (const dirent* entry = readdir(fds.get())) {
        std::string id = identity(entry->d_name);
        if (!id.empty()) visit(atoi(entry->d_name), id);
    }
}

}  // namespace

std::vector<ServerSocket> sockets_on_port(int port) {
    std::vector<ServerSocket> found;
    for_each_socket([&](int fd, const std::string& id) {
        if (endpoint(fd, getsockname).port == port)
            found.push_back({fd, id, endpoint(fd, getpeername).port >= 0});
    });
    return found;
}

int find_connection(const std::string& remote_addr, int remote_port, int local_port) {
    int found = -1;
    for_each_socket([&](int fd, const std::string&) {
        if (found >= 0) return;
        Endpoint peer = endpoint(fd, getpeername);
        if (peer.port == remote_port && peer.address == remote_addr &&
            endpoint(fd, getsockname).port == local_port)
            found = fd;
    });
    return found;
}

void widen_listen_backlog(int port, int backlog) {
    for (const ServerSocket& socket : sockets_on_port(port))
        if (!socket.connected) listen(socket.fd, backlog);
}
