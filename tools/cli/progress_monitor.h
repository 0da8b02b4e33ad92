// Live progress of a frame run (a frame directory or a video file), drawn
// from a second thread that polls the run's counters, and the Ctrl-C and
// SIGTERM (SIGHUP, SIGQUIT) handling around such a run.
#ifndef BL_TOOLS_PROGRESS_MONITOR_H
#define BL_TOOLS_PROGRESS_MONITOR_H

#include <stdint.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

// What the monitor's thread may call while the run is in progress on
// another thread: a directory runner's three functions, or a video job's own
// counters. A negative total means the run cannot know it in advance.
struct RunnerCounters {
    std::function<int32_t()> progress;
    std::function<int32_t()> total;
    std::function<void()> cancel;
};

// Called from the signal handler when the run must stop at once (a second
// Ctrl-C, or SIGTERM, SIGHUP, SIGQUIT) before the process ends; only
// async-signal-safe calls (kill, unlink, rmdir) belong in it.
using HardStopCleanup = void (*)();

// "[#####-----]  12/40  30%  4.8 fps  ETA 0:06" for a bar of `width` cells;
// "12/unknown  4.8 fps" when the total is negative.
std::string format_progress(int32_t done, int32_t total, double elapsed_seconds, int width);

// Watches one directory run from construction until finish(). Meanwhile the
// library's own log lines (standard error) are routed through the monitor so
// they scroll above the bar instead of tearing it; with `quiet` they are
// dropped. The first Ctrl-C asks the runner to cancel after the current
// frame, a second one ends the process at once with exit code 130; SIGTERM,
// SIGHUP and SIGQUIT end it at once as well, by that signal. Either way
// `hard_stop` runs first.
class ProgressMonitor {
public:
    ProgressMonitor(RunnerCounters counters, int terminal_fd, bool quiet,
                    HardStopCleanup hard_stop = nullptr);
    ~ProgressMonitor();
    ProgressMonitor(const ProgressMonitor&) = delete;
    ProgressMonitor& operator=(const ProgressMonitor&) = delete;

    // Stops polling, draws the final state and restores standard error.
    void finish();
    bool interrupted() const;
    double elapsed_seconds() const;

private:
    void run();
    void pump_log(int timeout_ms);
    void draw(bool final_draw);
    void write_out(const std::string& text);

    RunnerCounters counters_;
    int terminal_fd_;
    bool quiet_;
    bool is_tty_;
    int saved_stderr_ = -1;
    int log_read_fd_ = -1;
    std::string pending_log_;
    bool bar_visible_ = false;
    bool cancel_sent_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_plain_draw_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

#endif
