// Lets a test act at a precise moment of a directory run from another
// thread, without hooks in the library: one output file is a named pipe, so
// the run's thread blocks when it starts writing that frame until the test's
// thread opens the pipe. That thread then acts (cancels, say) while the frame
// is still being written, and only then drains what the run writes. The
// gated frame's file must be larger than the pipe's buffer (64 KB, see
// GATED_MIN_BYTES), or the run could finish writing before the test acts. Anything that
// opens the gated file afterwards (which nothing should) is let go at once,
// so a faulty run fails the test instead of hanging it, and is noted.
#ifndef BL_TEST_OUTPUT_GATE_H
#define BL_TEST_OUTPUT_GATE_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/testutil.h"

// Output size a gated frame should exceed (four times the pipe buffer).
const size_t GATED_MIN_BYTES = 256 * 1024;

// Writes a frame of width x height with pixel noise of 0 ... 100 per sample
// (dark for the face detector, and incompressible enough to fill the pipe)
// and the square [x0, x0 + side) x [y0, y0 + side) filled with `rgb`.
inline void write_noisy_frame(const std::string& path, int width, int height, int x0, int y0,
                              int side, const uint8_t rgb[3]) {
    uint32_t state = 12345;
    bl_test::write_image(path, width, height, [&](int x, int y, uint8_t out[3]) {
        bool inside = x >= x0 && x < x0 + side && y >= y0 && y < y0 + side;
        for (int c = 0; c < 3; ++c) {
            state = state * 1664525u + 1013904223u;
            out[c] = inside ? rgb[c] : static_cast<uint8_t>((state >> 24) % 101);
        }
    });
}

class OutputGate {
public:
    OutputGate(const std::string& path, std::function<void()> while_writing) : path_(path) {
        if (mkfifo(path.c_str(), 0600) != 0) {
            ADD_FAILURE() << "mkfifo failed: " << path;
            return;
        }
        reader_ = std::thread([this, while_writing] {
            int fd = open(path_.c_str(), O_RDONLY);  // waits for the run's writer
            if (fd < 0) return;
            while_writing();
            char buffer[4096];
            for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
                bytes_.insert(bytes_.end(), buffer, buffer + n);
            close(fd);
            while (!finished_.load()) {
                // Succeeds only while someone waits to read.
                int late = open(path_.c_str(), O_WRONLY | O_NONBLOCK);
                if (late >= 0) {
                    reopened_ = true;
                    close(late);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }

    // Waits for the reader; when the run never wrote the gated frame, opens
    // the pipe's other end so that the waiting reader is let go.
    void close_gate() {
        if (!reader_.joinable()) return;
        finished_ = true;
        int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) close(fd);
        reader_.join();
    }

    ~OutputGate() { close_gate(); }

    // Everything the run wrote into the gated file (valid after close_gate).
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    // Whether the gated file was opened again after its frame was written.
    bool reopened() const { return reopened_; }

private:
    std::string path_;
    std::thread reader_;
    std::vector<uint8_t> bytes_;
    std::atomic<bool> finished_{false};
    bool reopened_ = false;
};

#endif
