#!/usr/bin/env bash
# The C++ test programs on arm64: cross-built for aarch64 in the bullseye
# root (tests-inside.sh, against the codecs build.sh made there, GoogleTest
# from Debian's source package) and run under qemu-user-static with the
# trixie arm64 folder test-arm64.sh unpacked, on the native build's
# generated models. The tests emulation makes too slow are left out, each
# with its reason below; every program prints how long it took.
#
#   tools/portable/test-arm64-suite.sh NATIVE_BUILD
#
# Needs build.sh's aarch64 build and test-arm64.sh's folder (test.sh runs
# them first).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
native="$(realpath "${1:?usage: $0 NATIVE_BUILD}")"
models="$native/models"
[ -f "$models/.stamp" ] || { echo "arm64 suite: no generated models in $models" >&2; exit 1; }
sysroot="$roots_dir/trixie-arm64-files"
[ -f "$sysroot/.bl-stamp" ] || { echo "arm64 suite: run test-arm64.sh first" >&2; exit 1; }
work="$repo_root/build-portable/aarch64-tests"

# GoogleTest's sources, fetched once.
gtest_sources="$repo_root/build-portable/sources-googletest"
if [ ! -f "$gtest_sources/.stamp" ]; then
  rm -rf "$gtest_sources"
  "$repo_root/tools/fetch-debian-sources.sh" "$gtest_sources" googletest
  touch "$gtest_sources/.stamp"
fi
gtest="$(ls -d "$gtest_sources"/googletest-[0-9]* | tail -n 1)"

# The image corpus is made here, where Python is.
mkdir -p "$work/build"
/usr/bin/python3 "$repo_root/tests/image/make_image_corpus.py" "$work/build/image_corpus" >/dev/null

echo "[portable] arm64: building the C++ tests in the bullseye root"
binds=(--bind "$repo_root:/src" --bind "$repo_root:$repo_root")
case "$native/" in "$repo_root"/*) ;; *) binds+=(--bind "$native:$native") ;; esac
in_root build-bullseye "${binds[@]}" -- bash "$repo_root/tools/portable/tests-inside.sh" \
  /src/build-portable/aarch64/deps "$work/build" "$models" "$gtest"

# Left out under emulation, with why (all of them run natively, under the
# sanitizers and under Wine):
skips=(
)
filter="*-$(IFS=:; echo "${skips[*]}")"

echo "[portable] arm64: C++ tests under emulation"
failed=()
for program in "$work"/build/out/test_*; do
  start=$SECONDS
  BL_TEST_LIB="$work/build/out/libkalderon-brightloom-inference.so" \
    qemu-aarch64-static -L "$sysroot" "$program" --gtest_filter="$filter" --gtest_brief=1 ||
    failed+=("$(basename "$program")")
  echo "[portable] arm64: $(basename "$program"): $((SECONDS - start)) s"
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "[portable] arm64: FAILED: ${failed[*]}"
  exit 1
fi
