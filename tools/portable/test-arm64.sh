#!/usr/bin/env bash
# Tries the arm64 wheel and bundle under qemu-user-static, without an arm64
# root: Debian trixie's arm64 packages of python3 and python3-numpy (with
# everything they depend on) are unpacked with dpkg -x into a folder, once
# per machine, and the programs run as `qemu-aarch64-static -L FOLDER`.
#
#   tools/portable/test-arm64.sh DIST
#
# Needs the check folder test-roots.sh prepared (models, pictures, the
# native build's results).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
dist="$(realpath "${1:?usage: $0 DIST}")"
wheel="$(ls "$dist"/brightloom-*-py3-none-manylinux_2_31_aarch64.whl | tail -n 1)"
bundle="$(ls "$dist"/brightloom-*-linux-aarch64.tar.gz | tail -n 1)"
check="$repo_root/build-portable/check"
[ -d "$check/native" ] || { echo "test-arm64: run test-roots.sh first" >&2; exit 1; }
"$repo_root/tools/install-packages.sh" qemu-user-static

sysroot="$roots_dir/trixie-arm64-files"
packages=(python3 python3-numpy)
if [ "$(cat "$sysroot/.bl-stamp" 2>/dev/null)" != "trixie arm64 ${packages[*]}" ]; then
  echo "[portable] unpacking trixie's arm64 python3 and numpy (once per machine)"
  rm -rf "$sysroot" "$sysroot.apt"
  apt_dir="$sysroot.apt"
  mkdir -p "$apt_dir/sources" "$apt_dir/lists/partial" "$apt_dir/archives/partial" "$apt_dir/cache" \
    "$sysroot"
  : >"$apt_dir/status"
  cat >"$apt_dir/sources/trixie-arm64.sources" <<SOURCES
Types: deb
URIs: $debian_mirror
Suites: trixie
Components: main
Architectures: arm64
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  # An empty package status: apt fetches every package the two need.
  apt_private=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt_dir/sources"
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::State::status="$apt_dir/status"
    -o Dir::State="$apt_dir" -o Dir::Cache="$apt_dir/cache" -o Dir::Cache::archives="$apt_dir/archives"
    -o APT::Architecture=arm64 -o APT::Architectures::=arm64 -o Debug::NoLocking=1
    -o APT::Install-Recommends=false)
  apt-get "${apt_private[@]}" update -qq
  apt-get "${apt_private[@]}" install --download-only -y -qq "${packages[@]}" >/dev/null
  for deb in "$apt_dir"/archives/*.deb; do dpkg -x "$deb" "$sysroot"; done
  rm -rf "$apt_dir"
  # What the maintainer scripts would have made: the merged /usr links and
  # the BLAS and LAPACK alternatives.
  for d in lib bin sbin; do [ -e "$sysroot/$d" ] || ln -s "usr/$d" "$sysroot/$d"; done
  for so in libblas.so.3 liblapack.so.3; do
    target="$sysroot/usr/lib/aarch64-linux-gnu/$so"
    [ -e "$target" ] && continue
    found="$(find "$sysroot/usr/lib/aarch64-linux-gnu" -path "*/$so" | head -n 1)"
    # Relative: the host resolves the link, not the emulated program.
    [ -n "$found" ] && ln -s "${found#"$sysroot/usr/lib/aarch64-linux-gnu/"}" "$target"
  done
  echo "trixie arm64 ${packages[*]}" >"$sysroot/.bl-stamp"
fi
run() { qemu-aarch64-static -L "$sysroot" "$@"; }

echo "[portable] arm64: the wheel's package under emulation"
rm -rf "$check/arm64"
mkdir -p "$check/arm64/site" "$check/arm64/bundle"
/usr/bin/python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
  "$wheel" "$check/arm64/site"
PYTHONPATH="$check/arm64/site" run "$sysroot/usr/bin/python3" "$check/user_check.py" run \
  "$check/models" "$check/pictures" "$check/arm64/wheel"

echo "[portable] arm64: the bundle's tool under emulation"
tar -xzf "$bundle" -C "$check/arm64/bundle"
tool="$(ls -d "$check"/arm64/bundle/brightloom-*)/bin/brightloom"
run "$tool" -q -m "$check/models" swap "$check/pictures/source.png" "$check/pictures/group.png" \
  "$check/arm64/swap.png"
run "$tool" -q -m "$check/models" detect --json "$check/pictures/group.png" >"$check/arm64/detect.json"

# The generated models give the same pixels on both machines.
echo "[portable] arm64: comparing with the native x86_64 build"
/usr/bin/python3 "$portable_tools/user_check.py" compare "$check/native" "$check/arm64/wheel"
/usr/bin/python3 - "$check" <<'PY'
import json, os, sys
import numpy as np
from PIL import Image
check = sys.argv[1]
pixels = lambda path: np.asarray(Image.open(path).convert("RGB"))
faces_of = lambda path: {k: v for k, v in json.load(open(path)).items() if k != "image"}
same_picture = np.array_equal(pixels(f"{check}/arm64/swap.png"), pixels(f"{check}/native/swap.png"))
same_faces = faces_of(f"{check}/arm64/detect.json") == faces_of(f"{check}/native/detect.json")
print(f"arm64/swap.png: {'equal to' if same_picture else 'DIFFERENT from'} the native tool's")
print(f"arm64/detect.json: {'equal to' if same_faces else 'DIFFERENT from'} the native tool's")
sys.exit(0 if same_picture and same_faces else 1)
PY
