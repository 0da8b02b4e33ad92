#!/usr/bin/env bash
# Fetches the inference runtime from the npm registry into .deps/ (files
# already there are kept): the Linux library for the native build, the
# Windows DLL for the cross build (tools/build-windows.sh) and the Linux arm64
# library for the portable arm64 build (in linux-arm64/), all from the same
# package. Needs npm.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runtime_dir="$root/.deps/onnxruntime-1.30.0"
# Each file of the package, and where it goes under $runtime_dir.
runtime_files=(linux/x64/libonnxruntime.so.1:libonnxruntime.so.1 win32/x64/onnxruntime.dll:onnxruntime.dll
               linux/arm64/libonnxruntime.so.1:linux-arm64/libonnxruntime.so.1)

wanted=() places=()
for f in "${runtime_files[@]}"; do
  [ -f "$runtime_dir/${f#*:}" ] && continue
  wanted+=("package/bin/napi-v6/${f%%:*}")
  places+=("${f#*:}")
done
[ ${#wanted[@]} -gt 0 ] || exit 0

echo "[setup] fetching the inference runtime (npm package onnxruntime-node@1.30.0)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && npm pack --silent onnxruntime-node@1.30.0 >/dev/null)
tar -xzf "$tmp"/onnxruntime-node-1.30.0.tgz -C "$tmp" "${wanted[@]}"
for i in "${!wanted[@]}"; do
  mkdir -p "$(dirname "$runtime_dir/${places[i]}")"
  mv "$tmp/${wanted[i]}" "$runtime_dir/${places[i]}"
done
