// Where the tool speaks: its exit codes and its own messages, kept apart
// from the library's log so that --quiet can silence one without the other.
#ifndef BL_TOOLS_COMMON_TERMINAL_H
#define BL_TOOLS_COMMON_TERMINAL_H

#include <string>

enum ExitCode { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_CANCELLED = 130 };

// `text` as a terminal shows it without acting on it: control characters
// as \n, \r, \t or \xNN (an escape as \x1b), C1 controls as \u0080 ...
// \u009f and bytes that are not UTF-8 as \xNN; everything else, other
// scripts included, unchanged. File names may hold any byte, and printed as
// they are they could move the cursor, retitle the window or hide a line.
std::string printable(const std::string& text);
// The same, with the line breaks kept: for text of several lines.
std::string printable_lines(const std::string& text);

// The tool's own messages ("brightloom: ..."), written to the original
// standard error even when --quiet silences the library's log; printable()
// shows the paths and library messages they quote.
void say(const std::string& text);
// The descriptor say() writes to; the progress bar draws there too.
int terminal_fd();
// Keeps the original standard error for say() and, with `quiet`, sends the
// library's log lines to /dev/null.
void route_terminal(bool quiet);
// Prints the library's last error message and returns EXIT_FAILED.
int fail_with_library_error();

#endif
