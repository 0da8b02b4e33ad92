// Ctrl-C, SIGTERM and SIGHUP stop the server (on Windows Ctrl-C, Ctrl-Break
// and closing the console): the first one asks it to stop after the jobs in
// progress; a second one ends the process at once (exit 130).
#ifndef BL_TOOLS_SERVE_STOP_SIGNALS_H
#define BL_TOOLS_SERVE_STOP_SIGNALS_H

#include <atomic>
#include <functional>
#include <thread>

class StopSignals {
public:
    // Calls `on_stop` on a thread of its own, not in the signal handler, so
    // it may lock and wait.
    explicit StopSignals(std::function<void()> on_stop);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    void watch();

    std::function<void()> on_stop_;
    std::atomic<bool> done_{false};
    int pipe_[2] = {-1, -1};
    std::thread watcher_;
};

#endif
