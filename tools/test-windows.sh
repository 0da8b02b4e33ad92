#!/usr/bin/env bash
# Cross-builds the Windows form (tools/build-windows.sh) and tests it under
# Wine with the real onnxruntime.dll: the DLL's export table, the C++ test
# programs, the command-line tool on the demo models (a swap and a
# frame-directory run), and the same runs with "é" and "東京" in the model
# directory's and the images' paths; then detect and serve beside the Linux
# tool (tests/tools/windows/under_wine.py). The models and the tool the Linux
# build made are used as they are. Wine's prefix lives in the build directory.
#
#   tools/test-windows.sh [linux-build-dir] [windows-build-dir]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
linux_build="${1:-$root/build}"
build="${2:-$root/build-windows}"
models="$linux_build/models"
[ -f "$models/.stamp" ] || { echo "[windows] no generated models in $models: build on Linux first"; exit 1; }
linux_cli="$linux_build/out/brightloom"
[ -x "$linux_cli" ] || { echo "[windows] no Linux tool at $linux_cli: build on Linux first"; exit 1; }

"$root/tools/install-packages.sh" wine wine64

echo "[windows] cross-building"
"$root/tools/build-windows.sh" "$build" -DBL_WERROR=ON -DBL_MODELS_DIR="$models"
out="$build/out"

# A prefix of our own; no prompts for the browser and .NET add-ons nobody
# here needs; arguments and names decoded as UTF-8.
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
run() { wine "$@" 2> >(grep -v "Failed to create DXGI factory" >&2); }
# Whatever a test left running in our prefix (a server above all) ends with
# the script.
trap 'wineserver -k 2>/dev/null || true' EXIT

echo "[windows] export table of the DLL"
sh "$root/tests/engine/programs/check_exports.sh" "$out/kalderon-brightloom-inference.dll"

# Tests that need what Windows does not have, each with the reason.
skips=(
  # Links to files and folders (symlink): ordinary users cannot make them.
  DirList.ListsEveryFileOnceWhateverItsNameButNoDirectories
  DirList.DirectoryIdentityFollowsTheDirectoryNotItsSpelling
  FrameDirTest.ListingKeepsFrameImagesByExtensionInByteOrder
  FrameDirTest.EarlyFailuresWriteNothingAndKeepTheCounters
  FramesDirList.GivesTheRunsFramesInItsOrder
  # A named pipe in a folder (mkfifo) holds a run at a chosen frame; Windows
  # has no such files.
  FrameDirTest.FrameRunnerStopsOnACancelFromAnotherThread
  VideoSwap.CancelDuringTheFifthSwapSkipsItsRestoration
  # The test's own check lists an 800-character folder with std::filesystem,
  # which MinGW's library cannot do past 260 characters (the library's long
  # paths are checked by Paths.LongPathsWork).
  FrameDirTest.APathTooLongForItsBufferFailsInsteadOfBeingCut
)
filter="-$(IFS=:; echo "${skips[*]}")"

echo "[windows] C++ tests under Wine"
failed=()
for program in "$out"/test_*.exe; do
  echo "[windows] $(basename "$program")"
  run "$program" --gtest_filter="$filter" --gtest_brief=1 || failed+=("$(basename "$program")")
done

# A swap and a frame-directory run: MODELS SOURCE TARGET FRAMES RESULTS.
cli_run() {
  local models="$1" source="$2" target="$3" frames="$4" results="$5"
  mkdir -p "$results"
  run "$out/brightloom.exe" --quiet --models "$models" swap "$source" "$target" "$results/swapped é.png"
  run "$out/brightloom.exe" --quiet --models "$models" swap-dir "$source" "$frames" "$results/frames"
  [ -s "$results/swapped é.png" ] || { echo "no swap result in $results"; return 1; }
  local want got
  want=$(ls "$frames" | wc -l)
  got=$(ls "$results/frames" | wc -l)
  [ "$want" -gt 0 ] && [ "$want" = "$got" ] || { echo "$got of $want frames written"; return 1; }
}

# The demo's model directory and pictures, three frames of its frame folder.
work="$build/cli-run"
rm -rf "$work"
mkdir -p "$work/models" "$work/frames"
for model in scrfd_2.5g.onnx 2dfan4.onnx arcface_w600k_r50.onnx; do
  cp "$models/detect/$model" "$work/models/"
done
cp "$models/demo/"*.onnx "$work/models/"
/usr/bin/python3 "$root/tools/demo_pictures.py" inputs "$work" >/dev/null
in="$work/inputs"
for f in $(ls "$in/frames" | head -n 3); do cp "$in/frames/$f" "$work/frames/"; done
echo "[windows] command-line tool on the demo models"
cli_run "$work/models" "$in/source.png" "$in/group.png" "$work/frames" "$work/results" ||
  failed+=("brightloom.exe")

# The same with "é" and "東京" in every path the tool is given.
named="$work/café 東京"
mkdir -p "$named/modèles 東京" "$named/東京 frames é"
cp "$work/models/"* "$named/modèles 東京/"
cp "$in/source.png" "$named/source é.png"
cp "$in/group.png" "$named/東京.png"
for f in "$work/frames/"*; do cp "$f" "$named/東京 frames é/é_東京_$(basename "$f")"; done
echo "[windows] command-line tool with é and 東京 in its paths"
cli_run "$named/modèles 東京" "$named/source é.png" "$named/東京.png" "$named/東京 frames é" \
  "$named/résultats 東京" || failed+=("brightloom.exe (é 東京)")

# detect's JSON and the server against the Linux tool's, from a client on
# this side of Wine; the server stops on Ctrl-C (SIGINT, which Wine hands the
# program as a console Ctrl-C). Bounded: a hung server fails the run.
echo "[windows] detect and serve beside the Linux tool"
BRIGHTLOOM_CLI="$linux_cli" BRIGHTLOOM_WINDOWS_CLI="$out/brightloom.exe" BRIGHTLOOM_TEST_MODELS="$models" \
  PYTHONDONTWRITEBYTECODE=1 timeout -s INT -k 60 900 /usr/bin/python3 -m pytest -q -p no:cacheprovider \
  --rootdir="$root/tests/tools" "$root/tests/tools/windows/under_wine.py" || failed+=("detect and serve")

if [ ${#failed[@]} -gt 0 ]; then
  echo "[windows] FAILED: ${failed[*]}"
  exit 1
fi
echo "[windows] all passed"
