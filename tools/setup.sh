#!/usr/bin/env bash
# Prepares a Debian bookworm machine (as root) to build the library: installs
# the Debian packages, fetches the inference runtime from the npm registry
# into .deps/ (reused when already there), and configures and builds.
#
#   tools/setup.sh [build-dir] [extra cmake arguments...]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
shift || true

packages=(build-essential cmake ninja-build pkg-config libstb-dev zlib1g-dev libdeflate-dev
          libpng-dev libjpeg62-turbo-dev libgif-dev libwebp-dev
          clang libclang-rt-14-dev libfuzzer-14-dev
          libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
          python3 python3-onnx python3-numpy python3-pytest python3-pil valgrind
          python3-venv python3-setuptools python3-wheel ffmpeg
          libcpp-httplib-dev nlohmann-json3-dev python3-distributed python3-dask strace)
# npm counts as present when the command is there, whoever installed it.
command -v npm >/dev/null 2>&1 || packages+=(npm)
"$root/tools/install-packages.sh" "${packages[@]}"

runtime_dir="$root/.deps/onnxruntime-1.30.0"
"$root/tools/fetch-runtime.sh"

cmake -S "$root" -B "$build" -G Ninja -DBL_ORT_LIBRARY="$runtime_dir/libonnxruntime.so.1" "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
