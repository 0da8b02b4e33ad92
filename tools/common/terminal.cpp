#include "terminal.h"

#include "os.h"
#include "brightloom.h"

namespace {

// Where the tool's own messages go: the original standard error, kept apart
// from fd 2 so that --quiet can silence the library without silencing us.
int g_terminal_fd = os::STDERR_FD;

// Sends the library's log to /dev/null while our own messages keep the
// original standard error.
void silence_library_log() {
    int null_fd = os::open_null_device();
    if (null_fd < 0) return;
    os::redirect(null_fd, os::STDERR_FD);
    os::close_fd(null_fd);
}

void append_hex(std::string& out, const char* prefix, unsigned value, int digits) {
    static const char DIGITS[] = "0123456789abcdef";
    out += prefix;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += DIGITS[(value >> shift) & 0xf];
}

bool continuation(unsigned char byte) { return (byte & 0xc0) == 0x80; }

// The length of the well-formed UTF-8 sequence of two or more bytes at `at`
// (no overlong forms, surrogates or code points past U+10FFFF), or 0.
size_t utf8_length(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
    };
    const unsigned lead = byte(0);
    size_t length = lead >= 0xc2 && lead <= 0xdf ? 2 : lead >= 0xe0 && lead <= 0xef ? 3
                  : lead >= 0xf0 && lead <= 0xf4 ? 4 : 0;
    if (length == 0) return 0;
    const unsigned second = byte(1);
    if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second > 0x9f) ||
        (lead == 0xf0 && second < 0x90) || (lead == 0xf4 && second > 0x8f))
        return 0;
    for (size_t i = 1; i < length; ++i)
        if (!continuation(static_cast<unsigned char>(byte(i)))) return 0;
    return length;
}

void append_control(std::string& out, unsigned char c) {
    switch (c) {
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        default: append_hex(out, "\\x", c, 2);
    }
}

std::string escaped(const std::string& text, bool keep_line_breaks) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
            ++at;
        } else if (c < 0x80) {
            if (c == '\n' && keep_line_breaks)
                out += '\n';
            else
                append_control(out, c);
            ++at;
        } else if (const size_t length = utf8_length(text, at)) {
            const auto second = static_cast<unsigned char>(text[at + 1]);
            if (c == 0xc2 && second < 0xa0)
                append_hex(out, "\\u", second, 4);  // U+0080 ... U+009F
            else
                out.append(text, at, length);
            at += length;
        } else {
            append_hex(out, "\\x", c, 2);
            ++at;
        }
    }
    return out;
}

}  // namespace

std::string printable(const std::string& text) { return escaped(text, false); }

std::string printable_lines(const std::string& text) { return escaped(text, true); }

void say(const std::string& text) {
    std::string line = "brightloom: " + printable(text) + "\n";
    os::write_some(g_terminal_fd, line.data(), line.size());
}

int terminal_fd() { return g_terminal_fd; }

void route_terminal(bool quiet) {
    g_terminal_fd = os::duplicate(os::STDERR_FD);
    if (g_terminal_fd < 0) g_terminal_fd = os::STDERR_FD;
    if (quiet) silence_library_log();
}

int fail_with_library_error() {
    const char* message = brightloom_get_error();
    say(std::string("error: ") + (message[0] ? message : "operation failed"));
    return EXIT_FAILED;
}
