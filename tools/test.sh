#!/usr/bin/env bash
# Sets the machine up, builds with warnings as errors, and runs the whole test
# suite twice: as built, and under AddressSanitizer + UndefinedBehaviorSanitizer.
# The ctest suite includes the command-line tool and the install test; the
# Python binding's tests run against the plain build. Last, the Windows form
# is cross-built and tested under Wine with the plain build's models.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc)"

"$root/tools/setup.sh" "$root/build" -DBL_WERROR=ON
echo "[test] unit and integration tests"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

echo "[test] Python binding"
BRIGHTLOOM_LIBRARY="$root/build/out/libkalderon-brightloom-inference.so.1" \
BRIGHTLOOM_TEST_MODELS="$root/build/models" PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 -m pytest -q -p no:cacheprovider "$root/tests/python"

echo "[test] the same tests under AddressSanitizer + UndefinedBehaviorSanitizer"
"$root/tools/setup.sh" "$root/build-asan" -DBL_WERROR=ON -DBL_SANITIZE=address,undefined \
  -DBL_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"

echo "[test] the Windows build under Wine"
"$root/tools/test-windows.sh" "$root/build" "$root/build-windows"
