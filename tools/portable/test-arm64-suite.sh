#!/usr/bin/env bash
# The C++ test programs on arm64: cross-built for aarch64 in the bullseye
# root (tests-inside.sh, against the codecs build.sh made there, GoogleTest
# from Debian's source package) and run under qemu-user-static with the
# trixie arm64 folder test-arm64.sh unpacked, on the native build's
# generated models. The tests emulation makes too slow are left out, each
# with its reason, by arm64-skips.txt; every program prints how long it
# took, and one that runs past BL_ARM64_TEST_SECONDS (default 600) is
# stopped and counted as failed, so a hang under emulation cannot stall CI.
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

programs=("$work"/build/out/test_*)
arm64=(env BL_TEST_LIB="$work/build/out/libkalderon-brightloom-inference.so"
  qemu-aarch64-static -L "$sysroot")

# The skip list checked against the programs' own listings: an entry that
# names no test any more stops the run rather than being carried along.
listings="$work/listings"
rm -rf "$listings"
mkdir -p "$listings"
for program in "${programs[@]}"; do
  "${arm64[@]}" "$program" --gtest_list_tests >"$listings/$(basename "$program").txt"
done
filter="$(/usr/bin/python3 "$portable_tools/gtest_skips.py" "$portable_tools/arm64-skips.txt" \
  "$listings"/*.txt)"

echo "[portable] arm64: C++ tests under emulation (left out: arm64-skips.txt)"
limit="${BL_ARM64_TEST_SECONDS:-600}"
failed=()
for program in "${programs[@]}"; do
  name="$(basename "$program")" start=$SECONDS status=0
  # A program past its time is stopped, and killed if it ignores that.
  # Its output (the library's log lines too) is shown only when it fails.
  timeout -k 10 "$limit" "${arm64[@]}" "$program" --gtest_filter="$filter" --gtest_brief=1 \
    >"$work/$name.log" 2>&1 || status=$?
  case "$status" in
    0) echo "[portable] arm64: $name: $((SECONDS - start)) s"; continue ;;
    124|137) echo "[portable] arm64: $name: FAILED: still running after $limit s, stopped" ;;
    *) echo "[portable] arm64: $name: FAILED (exit status $status) after $((SECONDS - start)) s" ;;
  esac
  tail -n 60 "$work/$name.log"
  failed+=("$name")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "[portable] arm64: FAILED: ${failed[*]}"
  exit 1
fi
