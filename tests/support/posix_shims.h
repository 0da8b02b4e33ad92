// The few POSIX file calls the tests make, on Windows. Links and named pipes
// have no counterpart there: those calls fail, and the tests that need them
// are skipped by name in tools/test-windows.sh.
#ifndef BL_TEST_POSIX_SHIMS_H
#define BL_TEST_POSIX_SHIMS_H

#ifdef _WIN32
#include <errno.h>
#include <fcntl.h>

// Takes UTF-8 and long paths, as the library does (support/testutil.cpp).
int mkdir(const char* path, int mode);
inline int symlink(const char*, const char*) {
    errno = ENOSYS;
    return -1;
}
inline int link(const char*, const char*) {
    errno = ENOSYS;
    return -1;
}
inline int mkfifo(const char*, int) {
    errno = ENOSYS;
    return -1;
}
// No POSIX permissions there: tests take the user for the superuser, whom
// permissions do not bind, and leave those checks out.
inline int geteuid() { return 0; }
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#endif

#endif
