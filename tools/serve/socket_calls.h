// The socket calls the server makes beside the HTTP library, to watch its
// connections: the one place where POSIX (socket_calls_posix.cpp) and Windows
// (socket_calls_windows.cpp) differ. A socket is the library's and is named
// by an int: a descriptor on POSIX, a SOCKET handle on Windows, which the
// system keeps within 32 bits.
#ifndef BL_TOOLS_SERVE_SOCKET_CALLS_H
#define BL_TOOLS_SERVE_SOCKET_CALLS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace socket_calls {

// Sends what the socket takes at once: a client that reads nothing cannot
// hold the caller, and one that has gone raises no signal.
void send_now(int socket, const std::string& bytes);
// Ends both directions; a thread waiting in a read on the socket wakes up.
void shut_down(int socket);
// Ends our direction only: the client reads the end of the answer and may
// still send.
void shut_down_sending(int socket);
void close_socket(int socket);

// Every byte the connection has received so far, read or not; 0 when the
// system cannot tell.
uint64_t bytes_received(int socket);
// The bytes received and not read yet.
size_t unread_bytes(int socket);
// Copies what has arrived into `buffer` and leaves it in the socket; never
// waits. The count copied, 0 when the client has closed (or the socket
// failed), -1 when nothing has arrived yet.
long peek(int socket, char* buffer, size_t size);
// Reads what has arrived; never waits. As peek().
long receive_now(int socket, char* buffer, size_t size);

// Waits at most timeout_ms until one of `sockets` has bytes or its end to
// read; true when one has.
bool wait_readable(const std::vector<int>& sockets, int timeout_ms);

// Something one thread waits on among its sockets and another makes
// readable, so that the wait ends at once when there is news: a pipe on
// POSIX, a loopback socket on Windows (whose waits take sockets only).
class Wakeup {
public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    // What to wait on; -1 when none could be made (waits then end by time).
    int handle() const { return read_end_; }
    void wake();
    // Takes the news, so the next wait waits again.
    void drain();

private:
    int read_end_ = -1, write_end_ = -1;
};

}  // namespace socket_calls

#endif
