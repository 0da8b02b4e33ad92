// Any thread may receive the signal (the inference runtime starts threads of
// its own), so the handler only writes a byte to a pipe that the watcher
// thread reads. The second signal cannot wait for that thread: its handler
// removes the private folder itself, with calls that are safe in a handler.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include "../cli/common.h"
#include "stop_signals.h"

namespace {

volatile sig_atomic_t g_signals = 0;
int g_notify_fd = -1;
int g_message_fd = STDERR_FILENO;
char g_folder[4096] = "";

// Unlinks every entry of g_folder, then the folder. A job may still be
// writing its result there, so the folder is read again when a file appeared
// meanwhile.
void remove_folder_in_handler() {
    if (!g_folder[0]) return;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int dir = open(g_folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0) return;
        alignas(dirent64) char entries[4096];
        for (ssize_t n; (n = getdents64(dir, entries, sizeof entries)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
                if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                    unlinkat(dir, entry->d_name, 0);
                at += entry->d_reclen;
            }
        }
        close(dir);
        if (rmdir(g_folder) == 0 || errno != ENOTEMPTY) return;
    }
}

void on_stop_signal(int) {
    if (++g_signals > 1) {
        const int saved = errno;
        remove_folder_in_handler();
        static const char MESSAGE[] = "brightloom: interrupted\n";
        ssize_t ignored = write(g_message_fd, MESSAGE, sizeof MESSAGE - 1);
        (void)ignored;
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

StopSignals::StopSignals(std::function<void()> on_stop, const std::string& folder)
    : on_stop_(std::move(on_stop)) {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        say("warning: cannot watch for Ctrl-C; the server will not stop cleanly");
        return;
    }
    if (folder.size() < sizeof g_folder) memcpy(g_folder, folder.c_str(), folder.size() + 1);
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
