#!/usr/bin/env bash
# Runs page_test.mjs: the serve command's web page in the system's chromium,
# with the demo's model directory and pictures made in a temporary folder.
# Exits 77 (skipped) when chromium or the npm packages are missing;
# tools/test.sh installs both.
#
#   tests/browser/run.sh [SCREENSHOT.png]
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
cli="${BRIGHTLOOM_CLI:-$root/build/out/brightloom}"
models="$(cd "${BRIGHTLOOM_TEST_MODELS:-$root/build/models}" && pwd)"
export CHROMIUM="${CHROMIUM:-/usr/bin/chromium}"

if [ ! -x "$CHROMIUM" ]; then echo "skipped: no chromium at $CHROMIUM"; exit 77; fi
if [ ! -d "$here/node_modules/puppeteer-core" ]; then
  echo "skipped: npm packages not installed in $here (tools/test.sh installs them)"
  exit 77
fi

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/models"
for model in scrfd_2.5g.onnx 2dfan4.onnx arcface_w600k_r50.onnx; do
  ln -s "$models/detect/$model" "$tmp/models/$model"
done
ln -s "$models/demo/"*.onnx "$tmp/models/"
/usr/bin/python3 "$root/tools/demo_pictures.py" inputs "$tmp" >/dev/null
/usr/bin/python3 -c 'import sys; from PIL import Image; Image.new("RGB", (320, 240), (30, 60, 40)).save(sys.argv[1])' \
  "$tmp/inputs/faceless.png"

# A two-second clip of the demo's group with a tone, for the video job
# (left out when ffmpeg is missing: the page's video part is then skipped).
if command -v ffmpeg >/dev/null; then
  /usr/bin/python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import video_samples as v; v.make_video(sys.argv[2], sys.argv[3], frames=24, rate="12", sound="aac")' \
    "$root/tests/support" "$tmp/inputs/clip.mp4" "$tmp"
fi

# Chromium keeps its profile and crash files under HOME.
HOME="$tmp" node "$here/page_test.mjs" "$cli" "$tmp/models" "$tmp/inputs" "${1:-}"
