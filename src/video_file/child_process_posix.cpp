// POSIX process spawning for ChildProcess: posix_spawn with file actions,
// close-on-exec pipes, and the child's signals reset to their defaults.
#include "child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

extern char** environ;

namespace {

void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
};

void reset_signals(posix_spawnattr_t& attributes) {
    sigset_t defaults, empty;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigemptyset(&empty);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &empty);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
}

}  // namespace

std::string find_program(const std::string& name) {
    const char* path = getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        std::string folder = folders.substr(start, end - start);
        std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

ChildProcess::~ChildProcess() {
    close_fd(input_fd_);
    close_fd(output_fd_);
    if (pid_ > 0) {
        kill_now();
        wait();
    }
}

bool ChildProcess::start(const std::vector<std::string>& argv, const Streams& streams,
                         std::string& error) {
    int input_pipe[2] = {-1, -1}, output_pipe[2] = {-1, -1};
    if ((streams.pipe_input && pipe2(input_pipe, O_CLOEXEC) != 0) ||
        (streams.pipe_output && pipe2(output_pipe, O_CLOEXEC) != 0)) {
        error = strerror(errno);
        close_fd(input_pipe[0]), close_fd(input_pipe[1]);
        return false;
    }
    SpawnSetup setup;
    if (streams.pipe_input) posix_spawn_file_actions_adddup2(&setup.actions, input_pipe[0], 0);
    else posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    if (streams.pipe_output) posix_spawn_file_actions_adddup2(&setup.actions, output_pipe[1], 1);
    else posix_spawn_file_actions_addopen(&setup.actions, 1, "/dev/null", O_WRONLY, 0);
    const char* error_file = streams.error_file.empty() ? "/dev/null" : streams.error_file.c_str();
    posix_spawn_file_actions_addopen(&setup.actions, 2, error_file,
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    reset_signals(setup.attributes);

    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int rc = posix_spawn(&pid_, args[0], &setup.actions, &setup.attributes, args.data(), environ);
    close_fd(input_pipe[0]);
    close_fd(output_pipe[1]);
    if (rc != 0) {
        pid_ = -1;
        error = strerror(rc);
        close_fd(input_pipe[1]);
        close_fd(output_pipe[0]);
        return false;
    }
    input_fd_ = input_pipe[1];
    output_fd_ = output_pipe[0];
    return true;
}

void ChildProcess::close_input() { close_fd(input_fd_); }

int ChildProcess::wait() {
    if (pid_ <= 0) return exit_code_;
    int status = 0;
    pid_t done;
    do {
        done = waitpid(pid_, &status, 0);
    } while (done < 0 && errno == EINTR);
    pid_ = -1;
    exit_code_ = done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exit_code_;
}

void ChildProcess::kill_now() {
    if (pid_ > 0) kill(pid_, SIGKILL);
}

bool write_all(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool read_exact(int fd, void* data, size_t size) {
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = read(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string read_to_end(int fd) {
    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return text;
        text.append(buffer, static_cast<size_t>(n));
    }
}
