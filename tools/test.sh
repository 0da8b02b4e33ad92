#!/usr/bin/env bash
# Sets the machine up, builds with warnings as errors, and runs the whole test
# suite twice: as built, and under AddressSanitizer + UndefinedBehaviorSanitizer;
# the threaded tests also run under ThreadSanitizer.
# The ctest suite includes the command-line tool, its server and the server's
# web page in a headless browser (chromium, driven through the npm package
# puppeteer-core, both installed here), and the install test; the Python
# binding's tests run against the plain build; then every fuzz target runs for
# a short while (fuzz/run.sh). Then the portable Linux wheel and bundle are
# built in a bullseye root and tried in minimal bullseye and trixie roots,
# and for arm64 under emulation with the C++ suite (tools/portable/test.sh). Last, the Windows form is cross-built and tested
# under Wine with the plain build's models.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc)"

"$root/tools/setup.sh" "$root/build" -DBL_WERROR=ON

# The browser test's tools: Debian's chromium, and puppeteer-core at the
# version the lock file names (it downloads no browser of its own).
"$root/tools/install-packages.sh" chromium
if [ ! -d "$root/tests/browser/node_modules/puppeteer-core" ]; then
  echo "[test] installing the browser test's npm packages"
  (cd "$root/tests/browser" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund --silent)
fi
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

echo "[test] the threaded tests under ThreadSanitizer"
# Many threads on one engine, directory runs cancelled from another thread,
# video jobs reading and writing their frames on threads of their own,
# sessions created several at once while an engine opens,
# the server's job queue. The runtime is not built with the sanitizer, so
# the hand-over from its worker threads is invisible to it: tests/tsan.supp
# suppresses exactly the reports with a frame inside libonnxruntime (the
# sessions keep their usual thread count, so the threads run as in use).
"$root/tools/setup.sh" "$root/build-tsan" -DBL_WERROR=ON -DBL_SANITIZE=thread \
  -DBL_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug
TSAN_OPTIONS="suppressions=$root/tests/tsan.supp halt_on_error=1" \
  ctest --test-dir "$root/build-tsan" --output-on-failure -j "$jobs" \
        -R "EngineThreads|AnotherThread|CancelDuring|JobQueue|VideoJobThreads|SessionPreload"

echo "[test] every fuzz target for ${BL_FUZZ_SECONDS:-30} s (clang, libFuzzer)"
"$root/fuzz/run.sh" "${BL_FUZZ_SECONDS:-30}"

echo "[test] the portable Linux wheel and bundle, in minimal Debian roots"
"$root/tools/portable/test.sh" "$root/build"

echo "[test] the Windows build under Wine"
"$root/tools/test-windows.sh" "$root/build" "$root/build-windows"
