// The few calls of the tool that differ between POSIX systems and Windows:
// the UTF-8 command line, paths, the descriptors of standard error and the
// pipe that carries the library's log during a directory run, and Ctrl-C.
// os_posix.cpp or os_windows.cpp implements them; nothing else in the tool
// calls the system directly.
#ifndef BL_TOOLS_COMMON_OS_H
#define BL_TOOLS_COMMON_OS_H

#include <stddef.h>

#include <filesystem>
#include <string>
#include <vector>

namespace os {

const int STDERR_FD = 2;

// The arguments as UTF-8, the encoding the library takes (Windows hands a
// program its arguments in the local code page), and the console set to
// show UTF-8.
std::vector<std::string> utf8_arguments(int argc, char** argv);
// A filesystem path for a UTF-8 string.
std::filesystem::path path_from_utf8(const std::string& text);

int duplicate(int fd);
// Makes `target` refer to what `fd` refers to (dup2).
void redirect(int fd, int target);
void close_fd(int fd);
// A descriptor writing to the null device, or -1.
int open_null_device();
// A pipe: fds[0] reads, fds[1] writes. False when none could be made.
bool open_pipe(int fds[2]);
bool is_terminal(int fd);
// As write() and read(): the count moved, 0 at the end, negative on failure.
long write_some(int fd, const void* data, size_t size);
long read_some(int fd, void* buffer, size_t size);
// Waits at most timeout_ms until reading `fd` (a pipe) would not block.
bool wait_readable(int fd, int timeout_ms);

// Calls `handler` on every Ctrl-C until restore_interrupt_handler(), and
// `on_terminate` when the process is asked to end (SIGTERM, SIGHUP or
// SIGQUIT; closing the console on Windows), after which it ends as it would
// have, without a core file. Both may only touch lock-free atomics,
// write_some() and exit_now().
void install_interrupt_handler(void (*handler)(), void (*on_terminate)());
void restore_interrupt_handler();
// Ends the process at once, without running any clean-up.
[[noreturn]] void exit_now(int code);

}  // namespace os

#endif
