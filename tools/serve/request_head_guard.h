// Caps the size of a request's head (request line and headers). The HTTP
// library caps each header line but not their number, so the head is looked
// at, without being taken from the socket, before the library reads it. The
// library hands its connection threads no socket, so on POSIX the socket is
// recognised as the one accept() has just made (Windows: see http_server.h).
#ifndef BL_TOOLS_SERVE_REQUEST_HEAD_GUARD_H
#define BL_TOOLS_SERVE_REQUEST_HEAD_GUARD_H

#include <cstddef>
#include <set>
#include <string>

class RequestHeadGuard {
public:
    static constexpr size_t MAX_HEAD_BYTES = 16 * 1024;

    // `port`: the one the server listens on.
    explicit RequestHeadGuard(int port) : port_(port) {}

    // The connection accept() has just returned: call on the accepting
    // thread, once per connection. -1 when it cannot be told.
    int newest_connection();

    struct Head {
        enum State { Partial, Complete, TooLarge, Closed } state = Partial;
        size_t bytes = 0;        // of the whole head, when Complete
        bool has_body = false;   // the method sends a body (not GET or HEAD)
    };
    // What has arrived of the first request on `fd` so far; never waits.
    static Head peek(int fd);

private:
    const int port_;
    std::set<std::string> known_;  // the connections' socket identities
};

#endif
