// Caps the size of a request's head (request line and headers) and the time
// a client may take to send it. The HTTP library caps each header line but
// not their number, and its timeouts restart with every byte, so without this
// a client could send headers for ever. The library hands its connection
// threads no socket, so the socket is recognised as the one accept() has
// just made.
#ifndef BL_TOOLS_SERVE_REQUEST_HEAD_GUARD_H
#define BL_TOOLS_SERVE_REQUEST_HEAD_GUARD_H

#include <set>
#include <string>

class RequestHeadGuard {
public:
    static constexpr size_t MAX_HEAD_BYTES = 16 * 1024;
    static constexpr int HEAD_SECONDS = 15;

    // `port`: the one the server listens on.
    explicit RequestHeadGuard(int port) : port_(port) {}

    // The connection accept() has just returned: call on the accepting
    // thread, once per connection. -1 when it cannot be told.
    int newest_connection();

    // Waits for the whole head of the first request on `fd`. When it is too
    // large or too slow, answers 431 or 408, shuts the connection down (the
    // library then closes it) and returns false.
    static bool head_arrives(int fd);

private:
    const int port_;
    std::set<std::string> known_;  // the connections' socket identities
};

#endif
