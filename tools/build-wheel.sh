#!/usr/bin/env bash
# Builds the Python package as one wheel that carries the native library and
# the runtime it loads (inside the package, in brightloom/_lib), so that
# `pip install` of that file gives a working binding with no checkout and no
# BRIGHTLOOM_LIBRARY:
#
#     bash tools/build-wheel.sh [BUILD_DIR [OUT_DIR]]
#
# BUILD_DIR is a configured and built tree (default: build); the wheel goes to
# OUT_DIR (default: dist) as brightloom-<version>-py3-none-<platform>.whl.
# Such a wheel still needs the image codecs of the system it was built on
# (Debian's libpng16-16, libjpeg62-turbo, libgif7, libwebp7, libdeflate0).
#
#     bash tools/build-wheel.sh --libs LIB_DIR --platform TAG [OUT_DIR]
#
# packs the files of LIB_DIR (a library and runtime made to run anywhere, as
# tools/portable/build.sh makes them) under the platform tag TAG instead.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
python=/usr/bin/python3
libs="" platform=""
while [ $# -gt 0 ]; do
  case "$1" in
    --libs) libs="$(realpath "$2")"; shift 2 ;;
    --platform) platform="$2"; shift 2 ;;
    *) break ;;
  esac
done
if [ -n "$libs" ]; then
  [ -n "$platform" ] || { echo "build-wheel: --libs needs --platform" >&2; exit 2; }
  out="$(realpath -m "${1:-$root/dist}")"
  shipped=("$libs"/*)
else
  build="$(realpath "${1:-$root/build}")"
  out="$(realpath -m "${2:-$root/dist}")"
  library="$build/out/libkalderon-brightloom-inference.so.1"
  runtime="$(ls "$root"/.deps/onnxruntime-*/libonnxruntime.so.1 2>/dev/null | head -n 1 || true)"
  if [ ! -f "$library" ]; then
    echo "build-wheel: no library at $library; build it first (tools/setup.sh $build)" >&2
    exit 1
  fi
  if [ -z "$runtime" ]; then
    echo "build-wheel: no runtime in $root/.deps; run tools/setup.sh first" >&2
    exit 1
  fi
  # The runtime sits beside the library, where the library looks for it first.
  shipped=("$library" "$runtime")
  platform="$("$python" -c 'import sysconfig; print(sysconfig.get_platform().replace("-", "_").replace(".", "_"))')"
fi
"$root/tools/install-packages.sh" python3-setuptools python3-wheel

# setuptools builds inside the folder it is given: a copy keeps the
# checkout clean and lets the libraries join the package.
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cp -r "$root/python/." "$stage/"
find "$stage" \( -name __pycache__ -o -name '*.egg-info' -o -name build \) -prune \
  -exec rm -rf {} +
mkdir -p "$stage/brightloom/_lib"
cp -L "${shipped[@]}" "$stage/brightloom/_lib/"

# A platform wheel that any Python 3 can use: the package itself is plain
# Python over ctypes, only the bundled libraries are tied to the platform.
printf 'from setuptools import setup\nsetup()\n' > "$stage/setup.py"
mkdir -p "$out"
# setuptools warns that _lib is data rather than a package, which it is.
if ! (cd "$stage" && "$python" setup.py -q bdist_wheel --python-tag py3 --plat-name "$platform" \
        --dist-dir "$out" >"$stage/build.log" 2>&1); then
  cat "$stage/build.log" >&2
  exit 1
fi
ls "$out"/brightloom-*-py3-none-"$platform".whl
