#!/usr/bin/env bash
# The portable packages' stage of tools/test.sh: builds the x86_64 and
# arm64 wheels and command-line bundles (build.sh), checks that what they
# ship needs nothing of a system but glibc 2.31 (check_policy.py), and tries
# them as a user would: x86_64 in minimal bullseye and trixie roots
# (test-roots.sh), arm64 under emulation (test-arm64.sh), where the C++
# test programs, cross-built, run too (test-arm64-suite.sh; arm64-skips.txt
# names the tests left out). Each part prints how long it took; the roots
# and the codecs are made once per machine and reused.
#
#   tools/portable/test.sh NATIVE_BUILD
#
# BL_PORTABLE_ARCHS="x86_64" leaves arm64 out (about half the stage's time).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/common.sh"
build="$(realpath "${1:?usage: $0 NATIVE_BUILD}")"
dist="$repo_root/build-portable/dist"
rm -rf "$dist"

timed() {  # label, command...
  local label="$1" start=$SECONDS; shift
  "$@"
  echo "[portable] $label: $((SECONDS - start)) s"
}
# The user roots download while the packages build (first run on a machine).
"$repo_root/tools/install-packages.sh" debootstrap
mkdir -p "$roots_dir"
(start=$SECONDS; make_user_roots; echo "[portable] user roots: $((SECONDS - start)) s") \
  >"$roots_dir/user-roots.log" 2>&1 &
roots=$!
# A failed build still lets a root being made finish (and unmount).
trap 'wait "$roots" 2>/dev/null || true' EXIT
archs="${BL_PORTABLE_ARCHS:-x86_64 aarch64}"
for arch in $archs; do
  timed "$arch build" bash "$here/build.sh" "$dist" "$arch"
done
timed "policy check" /usr/bin/python3 "$here/check_policy.py" "$dist"/*.whl "$dist"/*.tar.gz
wait "$roots" || { cat "$roots_dir/user-roots.log"; exit 1; }
tail -n 1 "$roots_dir/user-roots.log"
timed "x86_64 tests in the roots" bash "$here/test-roots.sh" "$build" "$dist"
case " $archs " in
  *" aarch64 "*)
    timed "arm64 tests under emulation" bash "$here/test-arm64.sh" "$dist"
    timed "arm64 C++ suite under emulation" bash "$here/test-arm64-suite.sh" "$build" ;;
esac
