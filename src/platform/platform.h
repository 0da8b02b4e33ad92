// The few things about naming and opening files that differ between
// platforms. Every path the host passes is UTF-8; on Windows it is handed to
// the system's wide-character functions, never to the narrow ones (which read
// it in the local code page and break on names such as "東京").
#ifndef BL_PLATFORM_H
#define BL_PLATFORM_H

#include <stdio.h>

#ifdef _WIN32
#include <string>
#endif

// Separator used when joining directory and file names; Windows accepts it
// too, and both '/' and '\' are accepted there in what the host passes.
#define BL_PATH_SEPARATOR '/'

// fopen() for a UTF-8 path. None (with errno set) when the path cannot be
// opened or, on Windows, is not valid UTF-8.
FILE* bl_fopen(const char* path, const char* mode);

#ifdef _WIN32
// The UTF-16 form of a UTF-8 path for the wide-character functions. Long
// paths (from MAX_PATH on) are made absolute and given the "\\?\" prefix that
// lifts the limit; shorter ones are converted as they stand. False, with
// `wide` unchanged, for a none or invalid UTF-8 path.
bool bl_wide_path(const char* path, std::wstring* wide);

// The UTF-8 form of a UTF-16 string (a name from a directory listing); false
// when it holds an unpaired surrogate.
bool bl_utf8_from_wide(const wchar_t* wide, std::string* utf8);
#endif

#endif
