#!/usr/bin/env bash
# The part of tools/portable/test-arm64-suite.sh that runs inside the
# bullseye root: the C++ test programs cross-built for aarch64 against the
# static codecs build-inside.sh made, with GoogleTest built from its sources.
#
#   tests-inside.sh DEPS BUILD MODELS GTEST_SOURCES
#
# The checkout is bound at the same path inside the root as outside, so the
# paths compiled into the tests (sources, models, output) hold when they run
# under emulation on the host.
set -euo pipefail

deps="$1" build="$2" models="$3" gtest="$4"
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
[ -f "$deps/.stamp" ] || { echo "tests-inside: no codecs in $deps (build.sh aarch64 first)" >&2; exit 1; }
export PKG_CONFIG_PATH="$deps/lib/pkgconfig" PKG_CONFIG_LIBDIR="$deps/lib/pkgconfig"
# The C++ runtime linked in, as the shipped tool has it: the emulated
# system's libstdc++ is then only the inference runtime's concern.
static_runtime="-static-libstdc++ -static-libgcc"
# The shipped build's code (-O2), without its debug information: the
# packages ship stripped, and leaving it out here saves a good part of the
# build of the test programs, which a run on a fresh machine pays in full.
no_debug_info="-O2 -DNDEBUG"
# The image corpus is written on the host (the root has no Python):
# BL_PYTHON only has to succeed here.
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="$no_debug_info" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$no_debug_info" \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/aarch64-linux-gnu.cmake" -DBL_CROSS_DEPS="$deps" \
  -DCMAKE_PREFIX_PATH="$deps" -DBL_ORT_LIBRARY="$repo/.deps/onnxruntime-1.30.0/linux-arm64/libonnxruntime.so.1" \
  -DBL_WERROR=ON -DBL_BUILD_TESTS=ON -DBL_BUILD_TOOLS=OFF -DBL_BUILD_BENCHMARKS=OFF \
  -DBL_GTEST_SOURCE_DIR="$gtest" -DBL_MODELS_DIR="$models" -DBL_PYTHON=/bin/true \
  -DCMAKE_SHARED_LINKER_FLAGS="$static_runtime" -DCMAKE_EXE_LINKER_FLAGS="$static_runtime" \
  >"$build.configure.log" || { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j 2
