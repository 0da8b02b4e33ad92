// Library entry point. All state is initialized statically when the library
// loads and nothing needs releasing when it unloads, so the entry point only
// exists where the platform expects one.
#ifdef _WIN32
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
#endif
