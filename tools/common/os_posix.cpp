#include "os.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

namespace os {

namespace {

void (*g_interrupt_handler)() = nullptr;
void (*g_terminate_handler)() = nullptr;
struct sigaction g_previous_sigint;
struct sigaction g_previous_sigterm;

void on_sigint(int) {
    if (g_interrupt_handler) g_interrupt_handler();
}

void on_sigterm(int signal_number) {
    if (g_terminate_handler) g_terminate_handler();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
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
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &g_previous_sigint);
    action.sa_handler = on_sigterm;
    sigaction(SIGTERM, &action, &g_previous_sigterm);
}

void restore_interrupt_handler() {
    sigaction(SIGINT, &g_previous_sigint, nullptr);
    sigaction(SIGTERM, &g_previous_sigterm, nullptr);
}

void exit_now(int code) { _exit(code); }

}  // namespace os
