#include "platform/platform.h"

#include <errno.h>

#ifdef _WIN32
#include <windows.h>

namespace {

// Paths from this length on need the prefix: MAX_PATH less the room Windows
// keeps for a file name inside a directory path.
const size_t LONG_PATH = MAX_PATH - 12;

bool starts_with(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, wcslen(prefix), prefix) == 0;
}

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The absolute form of `path`: separators made '\', "." and ".." resolved,
// which the prefixed form no longer does for us.
bool absolute_path(const std::wstring& path, std::wstring* absolute) {
    DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return false;
    std::wstring full(needed, L'\0');
    DWORD written = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
    if (written == 0 || written >= needed) return false;
    full.resize(written);
    *absolute = full;
    return true;
}

std::wstring with_long_prefix(const std::wstring& absolute) {
    // \\server\share\... becomes \\?\UNC\server\share\...
    if (absolute.size() > 2 && is_separator(absolute[0]) && is_separator(absolute[1]))
        return L"\\\\?\\UNC\\" + absolute.substr(2);
    return L"\\\\?\\" + absolute;
}

// The whole string, its terminator included; invalid UTF-8 is refused
// rather than replaced, which would name some other file.
bool utf16_from_utf8(const char* text, std::wstring* wide) {
    if (!text) return false;
    int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (count <= 0) return false;
    std::wstring converted(static_cast<size_t>(count), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, &converted[0], count) != count)
        return false;
    converted.resize(static_cast<size_t>(count) - 1);
    *wide = converted;
    return true;
}

}  // namespace

bool bl_wide_path(const char* path, std::wstring* wide) {
    std::wstring converted;
    if (!utf16_from_utf8(path, &converted)) return false;
    if (converted.size() >= LONG_PATH && !starts_with(converted, L"\\\\?\\") &&
        !starts_with(converted, L"\\\\.\\")) {
        std::wstring absolute;
        if (!absolute_path(converted, &absolute)) return false;
        converted = with_long_prefix(absolute);
    }
    *wide = converted;
    return true;
}

bool bl_utf8_from_wide(const wchar_t* wide, std::string* utf8) {
    int count = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, nullptr, 0, nullptr,
                                    nullptr);
    if (count <= 0) return false;
    std::string converted(static_cast<size_t>(count), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, &converted[0], count,
                            nullptr, nullptr) != count)
        return false;
    converted.resize(static_cast<size_t>(count) - 1);
    *utf8 = converted;
    return true;
}

FILE* bl_fopen(const char* path, const char* mode) {
    std::wstring wide_path, wide_mode;
    if (!bl_wide_path(path, &wide_path) || !utf16_from_utf8(mode, &wide_mode)) {
        errno = EINVAL;
        return nullptr;
    }
    return _wfopen(wide_path.c_str(), wide_mode.c_str());
}

#else

FILE* bl_fopen(const char* path, const char* mode) {
    if (!path || !mode) {
        errno = EINVAL;
        return nullptr;
    }
    return fopen(path, mode);
}

#endif
