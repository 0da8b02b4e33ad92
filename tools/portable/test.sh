#!/usr/bin/env bash
# The portable packages' stage of tools/test.sh: builds the x86_64 wheel and
# command-line bundle (build.sh), checks that what they ship needs nothing
# of a system but glibc 2.31 (check_policy.py), and tries them as a user
# would in minimal bullseye and trixie roots (test-roots.sh). Each part
# prints how long it took; the roots and the codecs are made once per
# machine and reused.
#
#   tools/portable/test.sh NATIVE_BUILD
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
timed "build" bash "$here/build.sh" "$dist"
timed "policy check" /usr/bin/python3 "$here/check_policy.py" "$dist"/*.whl "$dist"/*.tar.gz
wait "$roots" || { cat "$roots_dir/user-roots.log"; exit 1; }
tail -n 1 "$roots_dir/user-roots.log"
timed "tests in the roots" bash "$here/test-roots.sh" "$build" "$dist"
