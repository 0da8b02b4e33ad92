#!/usr/bin/env bash
# The one-minute tour: sets the machine up and builds (tools/setup.sh), makes
# a demo model directory and demo images, runs a face swap, a restoration, a
# colorization, an upscale, a frame-directory swap and a video swap with the
# command-line tool, and draws one overview picture of what each operation did.
#
#   bash tools/demo.sh [output-dir]      (default: demo-output/)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$(mkdir -p "${1:-$root/demo-output}" && cd "${1:-$root/demo-output}" && pwd)"
build="$root/build"

echo "[demo] setting up and building (tools/setup.sh)"
"$root/tools/setup.sh" "$build"

echo "[demo] model directory with stand-in models: $out/models"
rm -rf "$out/models" "$out/inputs" "$out/results"
mkdir -p "$out/models" "$out/results"
for model in scrfd_2.5g.onnx 2dfan4.onnx arcface_w600k_r50.onnx; do
  cp "$build/models/detect/$model" "$out/models/"
done
cp "$build/models/demo/"*.onnx "$out/models/"

echo "[demo] demo images: $out/inputs"
/usr/bin/python3 "$root/tools/demo_pictures.py" inputs "$out"

in="$out/inputs"
res="$out/results"
failed=()
# Runs one operation; a failure is reported and the tour goes on.
step() {
  local title="$1"
  shift
  echo "[demo] $title"
  "$build/out/brightloom" --quiet --models "$out/models" "$@" || failed+=("$title")
}

step "face swap" swap "$in/source.png" "$in/group.png" "$res/swap.png"
step "face restoration" --enhancer-blend 1 enhance "$in/group_noisy.png" "$res/restored.png"
step "colorization" colorize "$in/group_grey.png" "$res/colorized.png"
step "upscale x4" upscale --scale 4 "$in/group_small.png" "$res/upscaled.png"
step "frame-directory swap, only faces like the reference (Ctrl-C cancels)" \
  swap-dir "$in/source.png" "$in/frames" "$res/frames_swapped" --reference "$in/reference.png"

echo "[demo] demo video: $in/clip.mp4 (the frames at 12 per second, with a tone for sound)"
ffmpeg -nostdin -v error -y -framerate 12 -i "$in/frames/frame_%04d.png" \
  -f lavfi -i "sine=frequency=330:sample_rate=48000" -shortest \
  -c:v libx264 -pix_fmt yuv420p -c:a aac "$in/clip.mp4"
step "video swap, only faces like the reference, sound kept (Ctrl-C cancels)" \
  swap-video "$in/source.png" "$in/clip.mp4" "$res/clip_swapped.mp4" --reference "$in/reference.png"
# Every third frame of both videos, for the overview's strip.
for video in clip:"$in/clip.mp4" clip_swapped:"$res/clip_swapped.mp4"; do
  mkdir -p "$res/strip_${video%%:*}"
  ffmpeg -nostdin -v error -y -i "${video#*:}" -vf "select=not(mod(n\,3))" -fps_mode passthrough \
    "$res/strip_${video%%:*}/%02d.png" || true
done

/usr/bin/python3 "$root/tools/demo_pictures.py" overview "$out"

cat <<DONE

[demo] done.
  overview picture:  $out/overview.png   (source, target and result of each operation)
  swapped video:     $res/clip_swapped.mp4
  results:           $res/
  inputs:            $in/
  models:            $out/models/

The models in $out/models are small generated stand-ins that only make the
demo's cartoon faces work. For real pictures, put real models in a model
directory under the file names listed in README.md ("The model directory") and
run, for example:

  $build/out/brightloom --models /path/to/models swap source.jpg target.jpg result.png
DONE

if [ ${#failed[@]} -gt 0 ]; then
  printf '\n[demo] these steps failed (see the messages above):\n'
  printf '  %s\n' "${failed[@]}"
  exit 1
fi
