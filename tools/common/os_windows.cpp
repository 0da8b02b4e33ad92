#include "os.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <climits>
#include <thread>

namespace os {

namespace {

// The pipe of a directory run holds the library's log lines until the
// monitor reads them.
const unsigned PIPE_BUFFER = 64 * 1024;
const int PIPE_POLL_MS = 10;

void (*g_interrupt_handler)() = nullptr;
void (*g_terminate_handler)() = nullptr;

// Runs on a thread of its own that the console starts for the event.
BOOL WINAPI on_console_event(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        if (g_interrupt_handler) g_interrupt_handler();
        return TRUE;
    }
    // Closing the console or logging off: the default handler ends the
    // process after this.
    if (g_terminate_handler) g_terminate_handler();
    return FALSE;
}

std::string utf8_from_wide(const wchar_t* wide) {
    int count = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (count <= 1) return std::string();
    std::string text(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], count, nullptr, nullptr);
    text.resize(static_cast<size_t>(count) - 1);
    return text;
}

unsigned clamp_count(size_t size) { return size > INT_MAX ? INT_MAX : static_cast<unsigned>(size); }

}  // namespace

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(utf8_from_wide(wide[i]));
    LocalFree(wide);
    return arguments;
}

std::filesystem::path path_from_utf8(const std::string& text) {
    return std::filesystem::u8path(text);
}

int duplicate(int fd) { return _dup(fd); }

void redirect(int fd, int target) { _dup2(fd, target); }

void close_fd(int fd) { _close(fd); }

int open_null_device() { return _open("NUL", _O_WRONLY | _O_BINARY); }

bool open_pipe(int fds[2]) { return _pipe(fds, PIPE_BUFFER, _O_BINARY | _O_NOINHERIT) == 0; }

bool is_terminal(int fd) { return _isatty(fd) != 0; }

long write_some(int fd, const void* data, size_t size) { return _write(fd, data, clamp_count(size)); }

long read_some(int fd, void* buffer, size_t size) { return _read(fd, buffer, clamp_count(size)); }

// Anonymous pipes cannot be waited on: their content is peeked at instead.
// A pipe whose writer has gone counts as readable (the read returns 0).
bool wait_readable(int fd, int timeout_ms) {
    HANDLE pipe = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available > 0)
            return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(PIPE_POLL_MS));
    }
}

void install_interrupt_handler(void (*handler)(), void (*on_terminate)()) {
    g_interrupt_handler = handler;
    g_terminate_handler = on_terminate;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void restore_interrupt_handler() { SetConsoleCtrlHandler(on_console_event, FALSE); }

void exit_now(int code) { _exit(code); }

}  // namespace os
