# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 from Linux:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake ...
# The "-posix" compilers use the winpthreads thread model, which std::thread
# needs with this compiler version.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BL_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${BL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${BL_MINGW_TRIPLE}-windres)

# The image codecs Debian builds for Linux only come from
# tools/build-windows-deps.sh, which puts them in BL_MINGW_DEPS (static
# libraries, headers and libwebp's pkg-config file).
if(NOT BL_MINGW_DEPS)
  set(BL_MINGW_DEPS "${CMAKE_CURRENT_LIST_DIR}/../.deps/mingw-w64")
endif()
get_filename_component(BL_MINGW_DEPS "${BL_MINGW_DEPS}" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/${BL_MINGW_TRIPLE} "${BL_MINGW_DEPS}")
set(ENV{PKG_CONFIG_LIBDIR} "${BL_MINGW_DEPS}/lib/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Header-only libraries (the image codecs, the command-line parser) come from
# the host's include folder; everything compiled comes from the target's.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)

# What we build needs nothing beside it but the inference runtime and
# Windows itself: the C and C++ runtimes, winpthreads and zlib are linked in.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Programs built here run under Wine on this machine.
find_program(BL_WINE wine)
if(BL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${BL_WINE})
endif()
