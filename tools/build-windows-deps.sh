#!/usr/bin/env bash
# Builds the image codecs for the Windows cross build as static
# x86_64-w64-mingw32 libraries in PREFIX: libpng, libjpeg-turbo (the 8-bit
# API, as libjpeg62-turbo), giflib and libwebp. Debian ships them for Linux
# only, so they are built from Debian bookworm's source packages
# (tools/fetch-debian-sources.sh, tools/build-codecs.sh).
# A PREFIX finished before (its stamp file) is reused.
#
#   tools/build-windows-deps.sh PREFIX
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mkdir -p "${1:?usage: $0 PREFIX}"
prefix="$(cd "$1" && pwd)"
sources=(libpng1.6 libjpeg-turbo giflib libwebp)
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
CC="$cross-gcc" AR="$cross-ar" "$root/tools/build-codecs.sh" "$work/src" "$prefix" "${sources[*]}" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DWITH_SIMD=OFF
echo "${sources[*]}" >"$stamp"
echo "[windows-deps] done"
