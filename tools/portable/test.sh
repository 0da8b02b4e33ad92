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
root="$(cd "$here/../.." && pwd)"
build="$(realpath "${1:?usage: $0 NATIVE_BUILD}")"
dist="$root/build-portable/dist"
rm -rf "$dist"

timed() {  # label, command...
  local label="$1" start=$SECONDS; shift
  "$@"
  echo "[portable] $label: $((SECONDS - start)) s"
}
timed "build" bash "$here/build.sh" "$dist"
timed "policy check" /usr/bin/python3 "$here/check_policy.py" "$dist"/*.whl "$dist"/*.tar.gz
timed "tests in the roots" bash "$here/test-roots.sh" "$build" "$dist"
