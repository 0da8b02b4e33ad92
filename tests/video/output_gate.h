// Lets a test act at a precise moment of a directory run from another
// thread, without hooks in the library: one output file is a named pipe, so
// the run's thread blocks when it starts writing that frame until the test's
// thread opens the pipe. That thread then acts (cancels, say) while the frame
// is still being written, and drains what the run writes.
#ifndef BL_TEST_OUTPUT_GATE_H
#define BL_TEST_OUTPUT_GATE_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

class OutputGate {
public:
    OutputGate(const std::string& path, std::function<void()> while_writing)
        : path_(path) {
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
        });
    }

    // Waits for the reader; when the run never wrote the gated frame, opens
    // the pipe's other end so that the waiting reader is let go.
    void close_gate() {
        if (!reader_.joinable()) return;
        int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) close(fd);
        reader_.join();
    }

    ~OutputGate() { close_gate(); }

    // Everything the run wrote into the gated file (valid after close_gate).
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::string path_;
    std::thread reader_;
    std::vector<uint8_t> bytes_;
};

#endif
