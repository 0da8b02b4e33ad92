#!/usr/bin/env bash
# Cross-builds the Windows form on Linux with MinGW-w64: the DLL
# kalderon-brightloom-inference.dll with its import library
# kalderon-brightloom-inference.lib, brightloom.exe and the C++ test programs,
# all in BUILD_DIR/out beside a copy of onnxruntime.dll. Installs the Debian
# packages it needs when missing (as root) and fetches the runtime DLL.
#
#   tools/build-windows.sh [build-dir] [extra cmake arguments...]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-windows}"
shift || true

packages=(mingw-w64 libz-mingw-w64-dev googletest cmake ninja-build pkg-config libstb-dev libcli11-dev)
# npm counts as present when the command is there, whoever installed it.
command -v npm >/dev/null 2>&1 || packages+=(npm)
"$root/tools/install-packages.sh" "${packages[@]}"
"$root/tools/fetch-runtime.sh"
# The image codecs, built for Windows once (see cmake/mingw-w64.cmake).
"$root/tools/build-windows-deps.sh" "$root/.deps/mingw-w64"

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBL_ORT_LIBRARY="$root/.deps/onnxruntime-1.30.0/onnxruntime.dll" \
  -DBL_BUILD_BENCHMARKS=OFF "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
