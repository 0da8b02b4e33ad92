#!/usr/bin/env bash
# Builds the image codecs for the Windows cross build as static
# x86_64-w64-mingw32 libraries in PREFIX: libpng, libjpeg-turbo (the 8-bit
# API, as libjpeg62-turbo), giflib and libwebp; and puts beside them the
# header-only JSON and HTTP libraries of the tool's detect and serve commands.
# Debian ships them for Linux only (its HTTP library compiled, with a header
# of declarations), so they come from Debian bookworm's source packages
# (tools/fetch-debian-sources.sh, tools/build-codecs.sh).
# A PREFIX finished before (its stamp file) is reused.
#
#   tools/build-windows-deps.sh PREFIX
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mkdir -p "${1:?usage: $0 PREFIX}"
prefix="$(cd "$1" && pwd)"
codecs=(libpng1.6 libjpeg-turbo giflib libwebp)
sources=("${codecs[@]}" nlohmann-json3 cpp-httplib)
stamp="$prefix/.stamp"
[ "$(cat "$stamp" 2>/dev/null)" = "${sources[*]}" ] && exit 0

packages=(mingw-w64 libz-mingw-w64-dev cmake ninja-build)
"$root/tools/install-packages.sh" "${packages[@]}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$root/tools/fetch-debian-sources.sh" "$work/src" "${sources[@]}"

echo "[windows-deps] building into $prefix"
# libjpeg-turbo's SIMD code needs the nasm assembler; without it the same
# decoder runs in plain C.
cross=x86_64-w64-mingw32
CC="$cross-gcc" AR="$cross-ar" "$root/tools/build-codecs.sh" "$work/src" "$prefix" "${codecs[*]}" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DWITH_SIMD=OFF
# Header-only: the whole library is the header. The HTTP library is used
# without TLS and compression, which its header leaves out unless asked.
src() { find "$work/src" -maxdepth 1 -type d -name "$1-[0-9]*" | head -n 1; }
json="$(src nlohmann-json3)"
install -D -m 644 -t "$prefix/include/nlohmann" "$json/single_include/nlohmann/json.hpp" \
  "$json/single_include/nlohmann/json_fwd.hpp"
install -D -m 644 "$(src cpp-httplib)/httplib.h" "$prefix/include/httplib.h"
echo "${sources[*]}" >"$stamp"
echo "[windows-deps] done"
