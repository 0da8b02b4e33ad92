// The console calls its handler on a thread it starts for each event, which
// only writes a byte to a pipe that the watcher thread reads, as the POSIX
// signal handler does. Ctrl-C and Ctrl-Break stand for SIGINT; closing the
// console, logging off and shutting down for SIGTERM and SIGHUP. The second
// event ends the process at once. Nothing is left behind to clean: uploads
// and results live in memory only.
#include <windows.h>

#include <atomic>

#include "../common/os.h"
#include "../common/terminal.h"
#include "stop_signals.h"

namespace {

// The system ends the process 5 s after a close, log-off or shut-down event
// whatever the handler does; the server gets most of that to stop.
constexpr DWORD CLOSE_GRACE_MS = 4000;
constexpr int WATCH_TICK_MS = 200;

std::atomic<int> g_events{0};
std::atomic<int> g_notify_fd{-1};
std::atomic<int> g_message_fd{os::STDERR_FD};

BOOL WINAPI on_console_event(DWORD event) {
    if (++g_events > 1) {
        static const char MESSAGE[] = "brightloom: interrupted\n";
        os::write_some(g_message_fd, MESSAGE, sizeof MESSAGE - 1);
        os::exit_now(EXIT_CANCELLED);
    }
    const char byte = 1;
    os::write_some(g_notify_fd, &byte, 1);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    // Returning ends the process: the server finishes meanwhile, and its own
    // exit ends the process earlier when it does.
    Sleep(CLOSE_GRACE_MS);
    return TRUE;
}

}  // namespace

StopSignals::StopSignals(std::function<void()> on_stop)
    : on_stop_(std::move(on_stop)) {
    if (!os::open_pipe(pipe_)) {
        say("warning: cannot watch for Ctrl-C; the server will not stop cleanly");
        return;
    }
    g_notify_fd = pipe_[1];
    g_message_fd = terminal_fd();
    SetConsoleCtrlHandler(on_console_event, TRUE);
    watcher_ = std::thread([this] { watch(); });
}

// The handler stays: the process is about to end, and a late event must not
// end it in the middle of its clean exit.
StopSignals::~StopSignals() {
    done_ = true;
    if (watcher_.joinable()) watcher_.join();
}

void StopSignals::watch() {
    while (!done_) {
        if (!os::wait_readable(pipe_[0], WATCH_TICK_MS)) continue;
        char byte;
        if (os::read_some(pipe_[0], &byte, 1) != 1) continue;
        say("stopping: finishing the job in progress (Ctrl-C again quits at once)");
        on_stop_();
        return;
    }
}
