#!/usr/bin/env bash
# Installs the build into a scratch prefix, checks the installed layout, and
# builds and runs a small C host against it twice: through pkg-config and
# through find_package.
#
#   install_test.sh BUILD_DIR MODEL_DIR
set -euo pipefail

build="$1"
models="$2"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir="$(dirname "$(find "$prefix" -name 'libkalderon-brightloom-inference.so.1' | head -n1)")"

expect_file() {
  if [ ! -e "$1" ]; then echo "FAIL: not installed: $1"; exit 1; fi
}
expect_file "$prefix/include/brightloom.h"
expect_file "$libdir/libonnxruntime.so.1"
expect_file "$prefix/bin/brightloom"
for link in libkalderon-brightloom-inference.so libkalderon-brightloom-inference.so.1; do
  if [ ! -L "$libdir/$link" ]; then echo "FAIL: $link is not a symbolic link"; exit 1; fi
done
soname="$(objdump -p "$libdir/libkalderon-brightloom-inference.so" | awk '/SONAME/ {print $2}')"
if [ "$soname" != "libkalderon-brightloom-inference.so.1" ]; then
  echo "FAIL: SONAME is '$soname'"; exit 1
fi

# Nothing but the install prefix may provide the library or the runtime.
unset LD_LIBRARY_PATH

echo "[install] pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Werror -o "$work/consumer_pc" "$here/install_consumer/main.c" \
  $(pkg-config --cflags --libs kalderon-brightloom-inference) -Wl,-rpath,"$libdir"
"$work/consumer_pc" "$models"

echo "[install] find_package"
cmake -S "$here/install_consumer" -B "$work/consumer_build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="-Wall -Werror" >/dev/null
cmake --build "$work/consumer_build" >/dev/null
"$work/consumer_build/consumer" "$models"

echo "[install] the installed tool"
"$prefix/bin/brightloom" --version
echo "install test passed"
