#include "platform/dir_list.h"

#include <errno.h>
#include <stdio.h>

#ifdef _WIN32
#include <windows.h>

#include <string>

#include "platform/platform.h"
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

#ifdef _WIN32

// The pattern that lists everything in `dir`. The separator is '\\': the
// long-path form takes no other, and no doubled one.
static bool listing_pattern(const char* dir, std::wstring* pattern) {
    // An empty path names no folder (the pattern would list the drive's root).
    if (!dir || !dir[0] || !bl_wide_path(dir, pattern)) return false;
    while (!pattern->empty() && (pattern->back() == L'\\' || pattern->back() == L'/'))
        pattern->pop_back();
    pattern->append(L"\\*");
    return true;
}

int bl_dir_list(const char* dir, bl_dir_visit visit, void* context) {
    std::wstring pattern;
    if (!listing_pattern(dir, &pattern)) return -1;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry,
                                   FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return -1;
    int stopped = 0;
    for (;;) {
        std::string name;
        // A name that is no valid UTF-16 has no UTF-8 form to hand out; it
        // is left out rather than listed under some other name.
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            bl_utf8_from_wide(entry.cFileName, &name))
            stopped = visit(name.c_str(), context);
        if (stopped) break;
        if (!FindNextFileW(find, &entry)) {
            // A listing broken off half-way is not a complete one.
            if (GetLastError() != ERROR_NO_MORE_FILES) stopped = -1;
            break;
        }
    }
    FindClose(find);
    return stopped;
}

// Identity of an open directory: its volume and its index on that volume.
static int dir_identity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
    std::wstring wide;
    if (!bl_wide_path(path, &wide)) return -1;
    HANDLE handle = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    BOOL ok = GetFileInformationByHandle(handle, info);
    CloseHandle(handle);
    return ok && (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : -1;
}

int bl_dir_exists(const char* path) {
    std::wstring wide;
    if (!bl_wide_path(path, &wide)) return 0;
    DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int bl_dir_same(const char* a, const char* b) {
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (dir_identity(a, &ia) != 0 || dir_identity(b, &ib) != 0) return 0;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
                   ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow
               ? 1
               : 0;
}

#else

// The entry type from the listing when it is conclusive, otherwise from the
// file it leads to (links are followed, as the other platform's listing does
// for its directory bit).
static bool is_directory(DIR* listing, const struct dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) return false;
    struct stat info;
    if (fstatat(dirfd(listing), entry->d_name, &info, 0) != 0) return false;
    return S_ISDIR(info.st_mode);
}

int bl_dir_list(const char* dir, bl_dir_visit visit, void* context) {
    DIR* listing = opendir(dir);
    if (!listing) return -1;
    int stopped = 0;
    while (!stopped) {
        errno = 0;
        const struct dirent* entry = readdir(listing);
        if (!entry) {
            // A listing broken off half-way is not a complete one.
            if (errno != 0) stopped = -1;
            break;
        }
        if (is_directory(listing, entry)) continue;
        stopped = visit(entry->d_name, context);
    }
    closedir(listing);
    return stopped;
}

int bl_dir_exists(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode) ? 1 : 0;
}

int bl_dir_same(const char* a, const char* b) {
    struct stat sa, sb;
    if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return 0;
    return S_ISDIR(sa.st_mode) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino ? 1 : 0;
}

#endif
