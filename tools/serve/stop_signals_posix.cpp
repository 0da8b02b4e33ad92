// Any thread may receive the signal (the inference runtime starts threads of
// its own), so the handler only writes a byte to a pipe that the watcher
// thread reads. The second signal cannot wait for that thread: its handler
// ends the process itself, after stopping the video jobs' encoders and
// removing the spool folder (picture uploads and results live in memory).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "../common/terminal.h"
#include "brightloom.h"
#include "spool_platform.h"
#include "stop_signals.h"

namespace {

volatile sig_atomic_t g_signals = 0;
int g_notify_fd = -1;
int g_message_fd = STDERR_FILENO;
void on_stop_signal(int) {
    if (++g_signals > 1) {
        const int saved = errno;
        static const char MESSAGE[] = "brightloom: interrupted\n";
        ssize_t ignored = write(g_message_fd, MESSAGE, sizeof MESSAGE - 1);
        (void)ignored;
        brightloom_video_hard_stop();
        spool_platform::remove_held_folder_now();
        errno = saved;
        _exit(EXIT_CANCELLED);
    }
    const char byte = 1;
    ssize_t ignored = write(g_notify_fd, &byte, 1);
    (void)ignored;
}

void install_handlers() {
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

}  // namespace

StopSignals::StopSignals(std::function<void()> on_stop)
    : on_stop_(std::move(on_stop)) {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        say("warning: cannot watch for Ctrl-C; the server will not stop cleanly");
        return;
    }
    g_notify_fd = pipe_[1];
    g_message_fd = terminal_fd();
    install_handlers();
    watcher_ = std::thread([this] { watch(); });
}

// The handlers stay: the process is about to end, and a late signal must not
// kill it in the middle of its clean exit.
StopSignals::~StopSignals() {
    done_ = true;
    if (watcher_.joinable()) watcher_.join();
}

void StopSignals::watch() {
    pollfd notified{pipe_[0], POLLIN, 0};
    while (!done_) {
        if (poll(&notified, 1, 200) <= 0) continue;
        char byte;
        if (read(pipe_[0], &byte, 1) != 1) continue;
        say("stopping: finishing the job in progress (Ctrl-C again quits at once)");
        on_stop_();
        return;
    }
}
