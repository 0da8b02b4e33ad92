// Child programs (ffmpeg, ffprobe) started from an argument vector, never
// through a shell, with their standard streams on pipes or files.
#ifndef BL_VIDEO_FILE_CHILD_PROCESS_H
#define BL_VIDEO_FILE_CHILD_PROCESS_H

#include <sys/types.h>

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// The full path of `name` found on PATH, or "" when it is not there.
std::string find_program(const std::string& name);

class ChildProcess {
public:
    struct Streams {
        bool pipe_input = false;   // its standard input from input_fd()
        bool pipe_output = false;  // its standard output to output_fd()
        std::string error_file;    // its standard error, or /dev/null when empty
    };

    ChildProcess() = default;
    // A child still running is killed and waited for; the pipes are closed.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The child runs in a process group of its own, so a Ctrl-C at the
    // terminal reaches the tool only, which stops its children itself.
    bool start(const std::vector<std::string>& argv, const Streams& streams, std::string& error);
    pid_t pid() const { return pid_; }
    int input_fd() const { return input_fd_; }
    int output_fd() const { return output_fd_; }
    void close_input();
    // Its exit code; -1 when it ended by a signal.
    int wait();
    void kill_now();

private:
    pid_t pid_ = -1;
    int input_fd_ = -1;
    int output_fd_ = -1;
    int exit_code_ = -1;
};

// write() and read() of whole buffers over pipes; false at an error or,
// for read_exact, at the end of the stream before `size` bytes.
bool write_all(int fd, const void* data, size_t size);
bool read_exact(int fd, void* data, size_t size);
// Everything the child writes to its output until it ends.
std::string read_to_end(int fd);

#endif
