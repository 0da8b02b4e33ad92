#!/usr/bin/env bash
# Tries the portable packages as a user meets them: in minimal Debian roots
# (bullseye, the oldest glibc we promise, and trixie; amd64) holding only
# python3, python3-numpy and python3-pip, it installs the wheel with pip and
# runs user_check.py, and unpacks the bundle and runs bundle_check.py. The
# results must equal the native build's pixel for pixel.
#
#   tools/portable/test-roots.sh NATIVE_BUILD DIST
#
# NATIVE_BUILD is the plain build (its generated models, library and tool
# give the reference); DIST holds what tools/portable/build.sh made.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
build="$(realpath "${1:?usage: $0 NATIVE_BUILD DIST}")"
dist="$(realpath "${2:?usage: $0 NATIVE_BUILD DIST}")"
arch=x86_64
wheel="$(ls "$dist"/brightloom-*-py3-none-manylinux_2_31_$arch.whl | tail -n 1)"
bundle="$(ls "$dist"/brightloom-*-linux-$arch.tar.gz | tail -n 1)"
python=/usr/bin/python3

# The folder the roots see as /check: models copied (links would point
# outside the root), the demo's pictures, the packages and the scripts.
check="$repo_root/build-portable/check"
rm -rf "$check"
mkdir -p "$check/pictures" "$check/models"
PYTHONPATH="$repo_root/tests/support:$repo_root/tools" "$python" - "$build/models" "$check" <<'PY'
import os, shutil, sys, tempfile
import demo_pictures
from video_samples import demo_model_dir
models, check = sys.argv[1:]
with tempfile.TemporaryDirectory() as links:
    folder = demo_model_dir(models, os.path.join(links, "demo"))
    for name in os.listdir(folder):
        shutil.copy(os.path.join(folder, name), os.path.join(check, "models", name))
demo_pictures.scene((("sam", 320),)).save(os.path.join(check, "pictures", "source.png"))
demo_pictures.scene(demo_pictures.GROUP).save(os.path.join(check, "pictures", "group.png"))
PY
: >"$check/pictures/clip.mp4"
cp "$wheel" "$bundle" "$portable_tools/user_check.py" "$portable_tools/bundle_check.py" "$check/"

echo "[portable] the native build's results"
BRIGHTLOOM_LIBRARY="$build/out/libkalderon-brightloom-inference.so.1" PYTHONPATH="$repo_root/python" \
  "$python" "$portable_tools/user_check.py" run "$check/models" "$check/pictures" "$check/native" >/dev/null
"$build/out/brightloom" -q -m "$check/models" swap "$check/pictures/source.png" \
  "$check/pictures/group.png" "$check/native/swap.png"
"$build/out/brightloom" -q -m "$check/models" detect --json "$check/pictures/group.png" \
  >"$check/native/detect.json"

make_user_roots
outs=()
for suite in "${user_suites[@]}"; do
  echo "[portable] $suite: pip install $(basename "$wheel"), then the bundle"
  in_root "user-$suite" --bind "$check:/check" -- /bin/sh -euc '
    suite="$1" wheel="$2" bundle="$3"
    export PIP_BREAK_SYSTEM_PACKAGES=1 PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INDEX=1 PIP_ROOT_USER_ACTION=ignore
    python3 -m pip install -q "/check/$wheel"
    trap "python3 -m pip uninstall -y -q brightloom; rm -rf /tmp/bundle" EXIT
    cd /tmp
    python3 /check/user_check.py run /check/models /check/pictures "/check/$suite/wheel"
    rm -rf /tmp/bundle && mkdir /tmp/bundle && tar -xzf "/check/$bundle" -C /tmp/bundle
    python3 /check/bundle_check.py /tmp/bundle/brightloom-* /check/models /check/pictures "/check/$suite/bundle"
  ' sh "$suite" "$(basename "$wheel")" "$(basename "$bundle")"
  case "$(cat "$check/$suite/wheel/library.txt")" in
    /usr/*-packages/brightloom/_lib/*|/usr/local/*-packages/brightloom/_lib/*) ;;
    *) echo "[portable] $suite loaded $(cat "$check/$suite/wheel/library.txt"), not the wheel's" >&2; exit 1 ;;
  esac
  outs+=("$check/$suite/wheel")
done

# The bundle as a C library, on this machine: its pkg-config and CMake files
# must lead a consumer to the unpacked folder, wherever it is.
echo "[portable] a C program against the unpacked bundle (pkg-config, find_package)"
consumer="$repo_root/tests/tools/install_consumer"
mkdir -p "$check/host-bundle"
tar -xzf "$bundle" -C "$check/host-bundle"
prefix="$(ls -d "$check"/host-bundle/brightloom-*)"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Werror -o "$check/consumer_pc" "$consumer/main.c" \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs kalderon-brightloom-inference) \
  -Wl,-rpath,"$prefix/lib"
"$check/consumer_pc" "$build/models/slots" >/dev/null
cmake -S "$consumer" -B "$check/consumer_build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="-Wall -Werror" >/dev/null
cmake --build "$check/consumer_build" >/dev/null
"$check/consumer_build/consumer" "$build/models/slots" >/dev/null

echo "[portable] comparing with the native build"
"$python" "$portable_tools/user_check.py" compare "$check/native" "${outs[@]}"
"$python" - "$check" <<'PY'
import json, os, sys
import numpy as np
from PIL import Image
check = sys.argv[1]
pixels = lambda path: np.asarray(Image.open(path).convert("RGB"))
want = pixels(os.path.join(check, "native", "swap.png"))
# The same faces of the same picture; only the path it was read from differs.
faces_of = lambda path: {k: v for k, v in json.load(open(path)).items() if k != "image"}
want_faces = faces_of(os.path.join(check, "native", "detect.json"))
failed = False
for suite in ("bullseye", "trixie"):
    for name in ("swap.png", "serve-swap.png"):
        equal = np.array_equal(pixels(os.path.join(check, suite, "bundle", name)), want)
        print(f"{suite}/bundle/{name}: {'equal to' if equal else 'DIFFERENT from'} the native tool's")
        failed |= not equal
    faces = faces_of(os.path.join(check, suite, "bundle", "detect.json"))
    print(f"{suite}/bundle/detect.json: {'equal to' if faces == want_faces else 'DIFFERENT from'} the native tool's")
    failed |= faces != want_faces
sys.exit(1 if failed else 0)
PY
