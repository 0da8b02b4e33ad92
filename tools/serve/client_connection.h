// Tells whether the client of a request still waits for its answer, so a
// request whose client went away can give up its place in the job queue.
#ifndef BL_TOOLS_SERVE_CLIENT_CONNECTION_H
#define BL_TOOLS_SERVE_CLIENT_CONNECTION_H

#include <string>

class ClientConnection {
public:
    // The server's socket whose peer is remote_addr:remote_port on our
    // local_port. Call from the thread serving the request: the socket stays
    // open until its handler returns.
    ClientConnection(const std::string& remote_addr, int remote_port, int local_port);

    // False once the client has closed or reset its side; true when it cannot
    // be told.
    bool still_there() const;

private:
    int fd_ = -1;
};

#endif
