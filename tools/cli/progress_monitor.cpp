#include "progress_monitor.h"

#include <stdio.h>

#include <atomic>
#include <cmath>
#include <utility>

#include "os.h"
#include "terminal.h"

namespace {

std::atomic<int> g_interrupts{0};
int g_signal_terminal_fd = os::STDERR_FD;
std::atomic<HardStopCleanup> g_hard_stop{nullptr};

const int BAR_WIDTH = 30;
const int POLL_INTERVAL_MS = 100;
const double PLAIN_DRAW_INTERVAL_S = 2.0;
const int EXIT_INTERRUPTED = 130;

void on_interrupt() {
    if (g_interrupts.fetch_add(1) + 1 >= 2) {
        static const char MESSAGE[] = "\nbrightloom: interrupted\n";
        os::write_some(g_signal_terminal_fd, MESSAGE, sizeof MESSAGE - 1);
        if (HardStopCleanup hard_stop = g_hard_stop.load()) hard_stop();
        os::exit_now(EXIT_INTERRUPTED);
    }
}

// Before the process ends on a request to terminate: the run's cleanup.
void on_terminate() {
    if (HardStopCleanup hard_stop = g_hard_stop.load()) hard_stop();
}

void install_signal_handlers(int terminal_fd, HardStopCleanup hard_stop) {
    g_interrupts = 0;
    g_signal_terminal_fd = terminal_fd;
    g_hard_stop = hard_stop;
    os::install_interrupt_handler(on_interrupt, on_terminate);
}

void restore_signal_handlers() {
    os::restore_interrupt_handler();
    g_hard_stop = nullptr;
}

std::string format_duration(double seconds) {
    long total = static_cast<long>(seconds + 0.5);
    char text[32];
    if (total >= 3600)
        snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

}  // namespace

std::string format_progress(int32_t done, int32_t total, double elapsed_seconds, int width) {
    if (done < 0) done = 0;
    if (total < 0) {
        char text[96];
        snprintf(text, sizeof text, "%d/unknown  %.2f fps", done,
                 elapsed_seconds > 0.0 ? done / elapsed_seconds : 0.0);
        return text;
    }
    if (done > total) done = total;
    int filled = total > 0 ? static_cast<int>(static_cast<int64_t>(done) * width / total) : 0;
    std::string bar = "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
    int percent = total > 0 ? static_cast<int>(static_cast<int64_t>(done) * 100 / total) : 0;
    double fps = elapsed_seconds > 0.0 ? done / elapsed_seconds : 0.0;
    std::string eta = "--:--";
    if (done > 0 && fps > 0.0) eta = format_duration((total - done) / fps);
    char text[160];
    // Slow runs (a large upscale) still show a rate that moves.
    snprintf(text, sizeof text, fps < 10.0 ? "%s %d/%d %3d%%  %.2f fps  ETA %s"
                                           : "%s %d/%d %3d%%  %.1f fps  ETA %s",
             bar.c_str(), done, total, percent, fps, eta.c_str());
    return text;
}

ProgressMonitor::ProgressMonitor(RunnerCounters counters, int terminal_fd, bool quiet,
                                 HardStopCleanup hard_stop)
    : counters_(std::move(counters)), terminal_fd_(terminal_fd), quiet_(quiet),
      is_tty_(os::is_terminal(terminal_fd)), start_(std::chrono::steady_clock::now()),
      last_plain_draw_(start_) {
    install_signal_handlers(terminal_fd, hard_stop);
    // In quiet mode standard error already goes nowhere; otherwise the
    // library's lines are read back here and printed above the bar.
    int fds[2];
    if (!quiet_ && os::open_pipe(fds)) {
        fflush(stderr);
        saved_stderr_ = os::duplicate(os::STDERR_FD);
        os::redirect(fds[1], os::STDERR_FD);
        os::close_fd(fds[1]);
        log_read_fd_ = fds[0];
    }
    thread_ = std::thread([this] { run(); });
}

ProgressMonitor::~ProgressMonitor() { finish(); }

void ProgressMonitor::finish() {
    if (!thread_.joinable()) return;
    fflush(stderr);
    if (saved_stderr_ >= 0) {
        // Closing our end of the pipe lets the thread read the rest to its end.
        os::redirect(saved_stderr_, os::STDERR_FD);
        os::close_fd(saved_stderr_);
        saved_stderr_ = -1;
    }
    stop_ = true;
    thread_.join();
    if (log_read_fd_ >= 0) os::close_fd(log_read_fd_);
    log_read_fd_ = -1;
    restore_signal_handlers();
}

bool ProgressMonitor::interrupted() const { return g_interrupts > 0; }

double ProgressMonitor::elapsed_seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void ProgressMonitor::run() {
    while (!stop_) {
        if (g_interrupts > 0 && !cancel_sent_) {
            counters_.cancel();
            cancel_sent_ = true;
            write_out(std::string(bar_visible_ ? "\r\033[K" : "") +
                      "brightloom: cancelling after the current frame (Ctrl-C again to stop at once)\n");
            bar_visible_ = false;
        }
        pump_log(POLL_INTERVAL_MS);
        draw(false);
    }
    pump_log(0);
    draw(true);
}

// Moves complete lines from the library's standard error to the terminal,
// above the bar; waits at most timeout_ms for the first one.
void ProgressMonitor::pump_log(int timeout_ms) {
    if (log_read_fd_ < 0) {
        if (timeout_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
        return;
    }
    while (os::wait_readable(log_read_fd_, timeout_ms)) {
        char buffer[4096];
        long n = os::read_some(log_read_fd_, buffer, sizeof buffer);
        if (n <= 0) break;
        pending_log_.append(buffer, static_cast<size_t>(n));
        timeout_ms = 0;
    }
    size_t end = pending_log_.rfind('\n');
    bool at_eof = stop_.load();
    if (end == std::string::npos && !(at_eof && !pending_log_.empty())) return;
    std::string lines = end == std::string::npos ? pending_log_ + "\n"
                                                 : pending_log_.substr(0, end + 1);
    pending_log_ = end == std::string::npos ? "" : pending_log_.substr(end + 1);
    write_out(std::string(bar_visible_ && is_tty_ ? "\r\033[K" : "") + printable_lines(lines));
    bar_visible_ = false;
}

void ProgressMonitor::draw(bool final_draw) {
    int32_t total = counters_.total();
    int32_t done = counters_.progress();
    if (total == 0) return;
    auto now = std::chrono::steady_clock::now();
    std::string line = format_progress(done, total, elapsed_seconds(), BAR_WIDTH);
    if (is_tty_) {
        write_out("\r\033[K" + line + (final_draw ? "\n" : ""));
        bar_visible_ = !final_draw;
    } else if (final_draw ||
               std::chrono::duration<double>(now - last_plain_draw_).count() >= PLAIN_DRAW_INTERVAL_S) {
        // Logs and pipes get a line now and then instead of a redrawn bar.
        write_out(line + "\n");
        last_plain_draw_ = now;
    }
}

void ProgressMonitor::write_out(const std::string& text) {
    size_t off = 0;
    while (off < text.size()) {
        long n = os::write_some(terminal_fd_, text.data() + off, text.size() - off);
        if (n <= 0) return;
        off += static_cast<size_t>(n);
    }
}
