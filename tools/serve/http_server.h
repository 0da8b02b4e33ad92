// The HTTP library's server, as the serve command runs it. The connection
// watch must hold every accepted socket before a connection thread serves
// it. POSIX builds find the socket among the process's descriptors
// (socket_lookup.h); Windows lets no process list its sockets, so there the
// server takes each socket from the library, which is compiled into the
// tool, and hands it to the watch itself.
#ifndef BL_TOOLS_SERVE_HTTP_SERVER_H
#define BL_TOOLS_SERVE_HTTP_SERVER_H

#include <httplib.h>

#include <memory>

#include "connection_watch.h"

class HttpServer : public httplib::Server {
public:
    // Accepted connections go through `watch` from now on; call before
    // listening.
    void watch_connections(std::shared_ptr<ConnectionWatch> watch);

#ifdef _WIN32
private:
    // The library's task for an accepted socket: handing it to the watch.
    bool process_and_close_socket(socket_t sock) override;
    // What the library's task does: reading requests and answering them.
    bool serve_and_close(socket_t sock);

    std::shared_ptr<ConnectionWatch> watch_;
#endif
};

#endif
