#!/usr/bin/env bash
# Builds image codecs as static libraries into PREFIX from Debian's source
# packages already unpacked in SOURCES (tools/fetch-debian-sources.sh), for
# the builds that carry their codecs inside: the Windows cross build
# (tools/build-windows-deps.sh) and the portable Linux builds
# (tools/portable/build.sh).
#
#   tools/build-codecs.sh SOURCES PREFIX "CODEC..." [CMAKE-OPTION...]
#
# CODEC is a source package name: zlib, libdeflate, libpng1.6, libjpeg-turbo,
# libwebp or giflib (in an order where each comes after what it uses). The
# CMake options go to every CMake-built codec (a toolchain file, position
# independent code); CC, AR and CFLAGS to the Makefile-built ones.
set -euo pipefail

sources="$(cd "${1:?usage: $0 SOURCES PREFIX \"CODEC...\" [CMAKE-OPTION...]}" && pwd)"
mkdir -p "${2:?PREFIX missing}"
prefix="$(cd "$2" && pwd)"
read -r -a codecs <<<"${3:?CODEC list missing}"
shift 3
cmake_options=("$@")
cc="${CC:-cc}" ar="${AR:-ar}" cflags="${CFLAGS:--O2}"

log="$(mktemp)"
trap 'rm -f "$log"' EXIT
quiet() { "$@" >>"$log" 2>&1 || { tail -n 40 "$log"; echo "[codecs] failed: $*"; exit 1; }; }
src() { find "$sources" -maxdepth 1 -type d -name "$1-[0-9]*" | head -n 1; }
jobs="$(nproc)"; [ "$jobs" -gt 2 ] && jobs=2

cmake_install() {  # source folder, cmake options...
  local dir="$1"; shift
  rm -rf "$dir/out"
  quiet cmake -S "$dir" -B "$dir/out" -G Ninja "${cmake_options[@]}" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
  quiet cmake --build "$dir/out" -j "$jobs"
  quiet cmake --install "$dir/out"
}

build_zlib() {
  local dir; dir="$(src zlib)"
  (cd "$dir" && quiet env CC="$cc" AR="$ar" CFLAGS="$cflags" ./configure --static --prefix="$prefix")
  quiet make -C "$dir" -j "$jobs" libz.a
  quiet make -C "$dir" install
  quiet make -C "$dir" distclean
}

build_libdeflate() {
  local dir; dir="$(src libdeflate)"
  quiet make -C "$dir" -j "$jobs" CC="$cc" AR="$ar" CFLAGS="$cflags" libdeflate.a
  install -D -m 644 "$dir/libdeflate.a" "$prefix/lib/libdeflate.a"
  install -D -m 644 "$dir/libdeflate.h" "$prefix/include/libdeflate.h"
  quiet make -C "$dir" clean
}

build_libpng1.6() {
  cmake_install "$(src libpng1.6)" -DPNG_SHARED=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
}

build_libjpeg-turbo() {
  cmake_install "$(src libjpeg-turbo)" -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF
}

build_libwebp() {
  cmake_install "$(src libwebp)" -DBUILD_SHARED_LIBS=OFF -DWEBP_BUILD_ANIM_UTILS=OFF \
    -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF \
    -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF -DWEBP_BUILD_WEBPINFO=OFF \
    -DWEBP_BUILD_LIBWEBPMUX=OFF -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF
}

# giflib has only a Makefile; its library is all we need.
build_giflib() {
  local dir; dir="$(src giflib)"
  quiet make -C "$dir" -j "$jobs" CC="$cc" AR="$ar" OFLAGS=-O2 libgif.a
  install -D -m 644 "$dir/libgif.a" "$prefix/lib/libgif.a"
  install -D -m 644 "$dir/gif_lib.h" "$prefix/include/gif_lib.h"
  quiet make -C "$dir" clean
}

for codec in "${codecs[@]}"; do
  echo "[codecs] $codec"
  "build_$codec"
done
