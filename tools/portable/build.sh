#!/usr/bin/env bash
# Builds the portable Linux packages for ARCH (x86_64, default, or aarch64,
# cross-built) into OUT_DIR (default dist):
#
#   brightloom-<version>-py3-none-manylinux_2_31_<arch>.whl
#   brightloom-<version>-linux-<arch>.tar.gz   (bin/, lib/, include/, the
#                                              pkg-config and CMake files)
#
#   tools/portable/build.sh [OUT_DIR [ARCH]]
#
# They need nothing of a system but glibc 2.31 or later, so they are built in
# a Debian bullseye root (glibc 2.31, gcc 10; made once per machine, see
# common.sh): the image codecs as static libraries from Debian's source
# packages, libstdc++ and libgcc linked in statically. The inference runtime
# we ship needs libstdc++.so.6 and libgcc_s.so.1 itself; bullseye's copies
# travel beside it under names of their own (their unique symbols made
# ordinary, see ordinary_symbols.py), so a process that has loaded the
# system's libstdc++ keeps it and the runtime still gets its own.
# tools/portable/check_policy.py checks the result.
# Work files stay in build-portable/ (reused: codecs and the build tree).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
out="$(realpath -m "${1:-$repo_root/dist}")"
arch="${2:-x86_64}"
work="$repo_root/build-portable/$arch"
inside_work="/src/build-portable/$arch"
case "$arch" in
  x86_64) runtime="$repo_root/.deps/onnxruntime-1.30.0/libonnxruntime.so.1"
          root_lib="$roots_dir/build-bullseye/usr/lib/x86_64-linux-gnu" ;;
  aarch64) runtime="$repo_root/.deps/onnxruntime-1.30.0/linux-arm64/libonnxruntime.so.1"
           root_lib="$roots_dir/build-bullseye/usr/aarch64-linux-gnu/lib" ;;
  *) echo "build: unknown architecture $arch" >&2; exit 2 ;;
esac
[ -f "$runtime" ] || "$repo_root/tools/fetch-runtime.sh"
"$repo_root/tools/install-packages.sh" patchelf binutils python3-setuptools python3-wheel

make_root build-bullseye bullseye build-essential cmake ninja-build pkg-config nasm \
  crossbuild-essential-arm64

# The codecs' and the header-only libraries' sources, fetched once.
sources=(zlib libdeflate libpng1.6 libjpeg-turbo libwebp giflib cpp-httplib libstb cli11 nlohmann-json3)
source_dir="$repo_root/build-portable/sources"
if [ "$(cat "$source_dir/.stamp" 2>/dev/null)" != "${sources[*]}" ]; then
  rm -rf "$source_dir"
  "$repo_root/tools/fetch-debian-sources.sh" "$source_dir" "${sources[@]}"
  echo "${sources[*]}" >"$source_dir/.stamp"
fi

echo "[portable] building the library and the tool in the bullseye root"
mkdir -p "$work"
in_root build-bullseye --bind "$repo_root:/src" -- \
  bash /src/tools/portable/build-inside.sh /src/build-portable/sources "$inside_work" "$arch"

# lib/ as shipped: our library, the runtime and its C++ runtime libraries.
stage="$work/stage"
rm -rf "$stage"
mkdir -p "$stage"
cp -a "$work/install/." "$stage/"
carry_runtime() {  # folder
  local lib="$1"
  cp -L "$root_lib/libstdc++.so.6" "$lib/libbrightloom-stdc++.so.6"
  cp -L "$root_lib/libgcc_s.so.1" "$lib/libbrightloom-gcc_s.so.1"
  cp -L "$runtime" "$lib/libonnxruntime.so.1"
  chmod 644 "$lib"/libbrightloom-*.so.* "$lib/libonnxruntime.so.1"
  # One change per patchelf call: combined, this patchelf (0.14) mixes
  # them up, which the policy check catches.
  patchelf --set-soname libbrightloom-gcc_s.so.1 "$lib/libbrightloom-gcc_s.so.1"
  patchelf --set-soname libbrightloom-stdc++.so.6 "$lib/libbrightloom-stdc++.so.6"
  patchelf --replace-needed libgcc_s.so.1 libbrightloom-gcc_s.so.1 "$lib/libbrightloom-stdc++.so.6"
  patchelf --set-rpath '$ORIGIN' "$lib/libbrightloom-stdc++.so.6"
  /usr/bin/python3 "$portable_tools/ordinary_symbols.py" "$lib/libbrightloom-stdc++.so.6" >/dev/null
  patchelf --replace-needed libstdc++.so.6 libbrightloom-stdc++.so.6 "$lib/libonnxruntime.so.1"
  patchelf --replace-needed libgcc_s.so.1 libbrightloom-gcc_s.so.1 "$lib/libonnxruntime.so.1"
  patchelf --set-rpath '$ORIGIN' "$lib/libonnxruntime.so.1"
}
carry_runtime "$stage/lib"

version="$(sed -n 's/^project([a-z_]* VERSION \([0-9.]*\).*/\1/p' "$repo_root/CMakeLists.txt")"
mkdir -p "$out"
bundle="brightloom-$version-linux-$arch"
rm -rf "$work/$bundle"
cp -a "$stage" "$work/$bundle"
tar -C "$work" -czf "$out/$bundle.tar.gz" --owner=0 --group=0 "$bundle"
rm -rf "$work/$bundle"
echo "$out/$bundle.tar.gz"

wheel_libs="$work/wheel-lib"
rm -rf "$wheel_libs"
mkdir -p "$wheel_libs"
cp -L "$stage/lib/libkalderon-brightloom-inference.so.1" "$stage/lib/libonnxruntime.so.1" \
  "$stage"/lib/libbrightloom-*.so.* "$wheel_libs/"
bash "$repo_root/tools/build-wheel.sh" --libs "$wheel_libs" --platform "manylinux_2_31_$arch" "$out"
