#include "terminal.h"

#include "os.h"
#include "brightloom.h"

namespace {

// Where the tool's own messages go: the original standard error, kept apart
// from fd 2 so that --quiet can silence the library without silencing us.
int g_terminal_fd = os::STDERR_FD;

// Sends the library's log to /dev/null while our own messages keep the
// original standard error.
void silence_library_log() {
    int null_fd = os::open_null_device();
    if (null_fd < 0) return;
    os::redirect(null_fd, os::STDERR_FD);
    os::close_fd(null_fd);
}

}  // namespace

void say(const std::string& text) {
    std::string line = "brightloom: " + text + "\n";
    os::write_some(g_terminal_fd, line.data(), line.size());
}

int terminal_fd() { return g_terminal_fd; }

void route_terminal(bool quiet) {
    g_terminal_fd = os::duplicate(os::STDERR_FD);
    if (g_terminal_fd < 0) g_terminal_fd = os::STDERR_FD;
    if (quiet) silence_library_log();
}

int fail_with_library_error() {
    const char* message = brightloom_get_error();
    say(std::string("error: ") + (message[0] ? message : "operation failed"));
    return EXIT_FAILED;
}
