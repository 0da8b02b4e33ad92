// Windows only: the SOCKET an int names (see socket_calls.h). The system
// documents that only a handle's low 32 bits count, so an int holds a SOCKET
// and gives it back widened with its sign.
#ifndef BL_TOOLS_SERVE_SOCKET_HANDLE_WINDOWS_H
#define BL_TOOLS_SERVE_SOCKET_HANDLE_WINDOWS_H

#include <winsock2.h>

#include <cstdint>

inline SOCKET socket_handle(int socket) { return static_cast<SOCKET>(static_cast<intptr_t>(socket)); }
inline int socket_number(SOCKET socket) { return static_cast<int>(static_cast<intptr_t>(socket)); }

#endif
