#include "os.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

namespace os {

namespace {

// The requests to end that a run cleans up after: kill, a closed terminal
// or session (hangup), and Ctrl-\.
const int TERMINATING_SIGNALS[] = {SIGTERM, SIGHUP, SIGQUIT};
const int TERMINATING_COUNT = sizeof TERMINATING_SIGNALS / sizeof TERMINATING_SIGNALS[0];

void (*g_interrupt_handler)() = nullptr;
void (*g_terminate_handler)() = nullptr;
struct sigaction g_previous_sigint;
struct sigaction g_previous_terminating[TERMINATING_COUNT];

void on_sigint(int) {
    if (g_interrupt_handler) g_interrupt_handler();
}

// Ends the process by the signal it got, so its parent sees why, after the
// clean-up. A quit dumps no core: the core would hold the user's frames in
// the working folder, which is what the clean-up has just removed.
void on_terminating_signal(int signal_number) {
    if (g_terminate_handler) g_terminate_handler();
    if (signal_number == SIGQUIT) {
        struct rlimit no_core = {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
    }
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// While one handler cleans up, a further signal waits: a second Ctrl-C or
// kill must not end the process halfway through the clean-up.
void block_stop_signals(sigset_t& mask) {
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    for (int number : TERMINATING_SIGNALS) sigaddset(&mask, number);
}

}  // namespace

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::filesystem::path path_from_utf8(const std::string& text) { return text; }

int duplicate(int fd) { return dup(fd); }

void redirect(int fd, int target) { dup2(fd, target); }

void close_fd(int fd) { close(fd); }

int open_null_device() { return open("/dev/null", O_WRONLY | O_CLOEXEC); }

bool open_pipe(int fds[2]) { return pipe(fds) == 0; }

bool is_terminal(int fd) { return isatty(fd) != 0; }

long write_some(int fd, const void* data, size_t size) { return write(fd, data, size); }

long read_some(int fd, void* buffer, size_t size) { return read(fd, buffer, size); }

bool wait_readable(int fd, int timeout_ms) {
    struct pollfd entry = {fd, POLLIN, 0};
    return poll(&entry, 1, timeout_ms) > 0;
}

void install_interrupt_handler(void (*handler)(), void (*on_terminate)()) {
    g_interrupt_handler = handler;
    g_terminate_handler = on_terminate;
    struct sigaction action = {};
    action.sa_handler = on_sigint;
    block_stop_signals(action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &g_previous_sigint);
    action.sa_handler = on_terminating_signal;
    for (int i = 0; i < TERMINATING_COUNT; ++i)
        sigaction(TERMINATING_SIGNALS[i], &action, &g_previous_terminating[i]);
}

void restore_interrupt_handler() {
    sigaction(SIGINT, &g_previous_sigint, nullptr);
    for (int i = 0; i < TERMINATING_COUNT; ++i)
        sigaction(TERMINATING_SIGNALS[i], &g_previous_terminating[i], nullptr);
}

void exit_now(int code) { _exit(code); }

}  // namespace os
