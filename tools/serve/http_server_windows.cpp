// The library's task for an accepted socket runs on a connection thread,
// which it leaves at once: the watch holds the socket until its request head
// is there and a thread may take it, and then serves it as the library
// would have.
#include "http_server.h"

#include "socket_handle_windows.h"

void HttpServer::watch_connections(std::shared_ptr<ConnectionWatch> watch) {
    watch_ = std::move(watch);
}

bool HttpServer::process_and_close_socket(socket_t sock) {
    if (!watch_) return serve_and_close(sock);
    watch_->admit(socket_number(sock), [this, sock] { serve_and_close(sock); });
    return true;
}

// The library's own process_and_close_socket(), which it keeps private.
bool HttpServer::serve_and_close(socket_t sock) {
    const bool served = httplib::detail::process_server_socket(
        svr_sock_, sock, keep_alive_max_count_, keep_alive_timeout_sec_, read_timeout_sec_,
        read_timeout_usec_, write_timeout_sec_, write_timeout_usec_,
        [this](httplib::Stream& stream, bool close_connection, bool& connection_closed) {
            return process_request(stream, close_connection, connection_closed, nullptr);
        });
    httplib::detail::shutdown_socket(sock);
    httplib::detail::close_socket(sock);
    return served;
}
