#!/usr/bin/env bash
# The part of tools/portable/build.sh that runs inside the bullseye root:
# static codecs (once), then the library and the tool against them.
#
#   build-inside.sh SOURCES WORK ARCH     (ARCH: x86_64 or aarch64, cross-built)
set -euo pipefail

sources="$1" work="$2" arch="$3"
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
prefix="$work/deps"
codecs="zlib libdeflate libpng1.6 libjpeg-turbo libwebp giflib"
CC="${CC:-gcc}"
cross=() runtime="$repo/.deps/onnxruntime-1.30.0/libonnxruntime.so.1"
if [ "$arch" = aarch64 ]; then
  export CC=aarch64-linux-gnu-gcc AR=aarch64-linux-gnu-ar
  cross=(-DCMAKE_TOOLCHAIN_FILE="$repo/cmake/aarch64-linux-gnu.cmake" -DBL_CROSS_DEPS="$prefix")
  runtime="$repo/.deps/onnxruntime-1.30.0/linux-arm64/libonnxruntime.so.1"
fi

if [ "$(cat "$prefix/.stamp" 2>/dev/null)" != "$codecs" ]; then
  rm -rf "$prefix" "$work/codec-src"
  mkdir -p "$work/codec-src" "$prefix/include/stb"
  for s in $codecs; do cp -a "$sources/$s"-[0-9]* "$work/codec-src/"; done
  # Position independent: they are linked into a shared library.
  CFLAGS="-O2 -fPIC" bash "$repo/tools/build-codecs.sh" "$work/codec-src" "$prefix" "$codecs" \
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON "${cross[@]}"
  rm -rf "$work/codec-src"
  # The header-only libraries, at the versions the native build uses.
  cp "$sources"/cpp-httplib-[0-9]*/httplib.h "$prefix/include/"
  cp "$sources"/libstb-[0-9]*/stb_image*.h "$prefix/include/stb/"
  cp -a "$sources"/cli11-[0-9]*/include/CLI "$prefix/include/"
  cp -a "$sources"/nlohmann-json3-[0-9]*/include/nlohmann "$prefix/include/"
  echo "$codecs" >"$prefix/.stamp"
fi

# The server takes the library header-only, found as the tools' build
# looks for it; no TLS and no brotli, and zlib (linked in anyway) for
# compressed answers as the native build gives them.
mkdir -p "$prefix/lib/pkgconfig"
cat >"$prefix/lib/pkgconfig/cpp-httplib.pc" <<PC
prefix=$prefix
Name: cpp-httplib
Description: header-only HTTP library
Version: $(basename "$sources"/cpp-httplib-[0-9]* | sed 's/cpp-httplib-\([0-9.]*\).*/\1/')
Cflags: -I\${prefix}/include -DCPPHTTPLIB_ZLIB_SUPPORT
Libs: -L\${prefix}/lib -lz
PC

export PKG_CONFIG_PATH="$prefix/lib/pkgconfig" PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig"
static_runtime="-static-libstdc++ -static-libgcc"
cmake -S "$repo" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_PREFIX_PATH="$prefix" "${cross[@]}" -DBL_ORT_LIBRARY="$runtime" \
  -DBL_WERROR=ON -DBL_BUILD_TESTS=OFF -DBL_BUILD_BENCHMARKS=OFF \
  -DCMAKE_SHARED_LINKER_FLAGS="$static_runtime" -DCMAKE_EXE_LINKER_FLAGS="$static_runtime" \
  -DCMAKE_INSTALL_LIBDIR=lib >"$work/configure.log" || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" -j 2 --target kalderon-brightloom-inference brightloom
rm -rf "$work/install"
cmake --install "$work/build" --prefix "$work/install" >/dev/null
# Debug information stays in the build tree; the packages ship without it.
"${CC%gcc}strip" --strip-unneeded "$work/install/bin/brightloom" \
  "$work"/install/lib/libkalderon-brightloom-inference.so.*.*
