#!/usr/bin/env bash
# Builds the image codecs for the Windows cross build as static
# x86_64-w64-mingw32 libraries in PREFIX: libpng, libjpeg-turbo (the 8-bit
# API, as libjpeg62-turbo), giflib and libwebp; and puts beside them the
# header-only JSON and HTTP libraries of the tool's detect and serve commands.
# Debian ships them for Linux only (its HTTP library compiled, with a header
# of declarations), so they come from Debian bookworm's source packages
# (tools/fetch-debian-sources.sh).
# A PREFIX finished before (its stamp file) is reused.
#
#   tools/build-windows-deps.sh PREFIX
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mkdir -p "${1:?usage: $0 PREFIX}"
prefix="$(cd "$1" && pwd)"
sources=(libpng1.6 libjpeg-turbo giflib libwebp nlohmann-json3 cpp-httplib)
stamp="$prefix/.stamp"
[ "$(cat "$stamp" 2>/dev/null)" = "${sources[*]}" ] && exit 0

packages=(mingw-w64 libz-mingw-w64-dev cmake ninja-build)
"$root/tools/install-packages.sh" "${packages[@]}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
log="$work/build.log"
quiet() { "$@" >>"$log" 2>&1 || { tail -n 40 "$log"; echo "[windows-deps] failed: $*"; exit 1; }; }

"$root/tools/fetch-debian-sources.sh" "$work/src" "${sources[@]}"
src() { find "$work/src" -maxdepth 1 -type d -name "$1-*" | head -n 1; }

jobs="$(nproc)"; [ "$jobs" -gt 2 ] && jobs=2
cross=x86_64-w64-mingw32
cmake_install() {  # source folder, cmake options...
  local dir="$1"; shift
  quiet cmake -S "$dir" -B "$dir/out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
  quiet cmake --build "$dir/out" -j "$jobs"
  quiet cmake --install "$dir/out"
}

echo "[windows-deps] building into $prefix"
cmake_install "$(src libpng1.6)" -DPNG_SHARED=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
# Its SIMD code needs the nasm assembler; without it the same decoder runs
# in plain C.
cmake_install "$(src libjpeg-turbo)" -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF
cmake_install "$(src libwebp)" -DBUILD_SHARED_LIBS=OFF -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF \
  -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF \
  -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_LIBWEBPMUX=OFF -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF
# giflib has only a Makefile; its library is all we need.
gif="$(src giflib)"
quiet make -C "$gif" -j "$jobs" CC="$cross-gcc" AR="$cross-ar" OFLAGS=-O2 libgif.a
install -D -m 644 "$gif/libgif.a" "$prefix/lib/libgif.a"
install -D -m 644 "$gif/gif_lib.h" "$prefix/include/gif_lib.h"
# Header-only: the whole library is the header. The HTTP library is used
# without TLS and compression, which its header leaves out unless asked.
json="$(src nlohmann-json3)"
install -D -m 644 -t "$prefix/include/nlohmann" "$json/single_include/nlohmann/json.hpp" \
  "$json/single_include/nlohmann/json_fwd.hpp"
install -D -m 644 "$(src cpp-httplib)/httplib.h" "$prefix/include/httplib.h"

echo "${sources[*]}" >"$stamp"
echo "[windows-deps] done"
