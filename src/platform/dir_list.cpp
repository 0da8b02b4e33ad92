#include "platform/dir_list.h"

#include <errno.h>
#include <stdio.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

#ifdef _WIN32

int bl_dir_list(const char* dir, bl_dir_visit visit, void* context) {
    // A pattern cut short would list some other directory.
    char pattern[1024];
    int n = snprintf(pattern, sizeof pattern, "%s\\*", dir);
    if (n < 0 || n >= static_cast<int>(sizeof pattern)) return -1;

    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE) return -1;
    int stopped = 0;
    for (;;) {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            stopped = visit(entry.cFileName, context);
        if (stopped) break;
        if (!FindNextFileA(find, &entry)) {
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
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    BOOL ok = GetFileInformationByHandle(handle, info);
    CloseHandle(handle);
    return ok && (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : -1;
}

int bl_dir_exists(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
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
