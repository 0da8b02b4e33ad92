#!/usr/bin/env bash
# Fetches the inference runtime from the npm registry into .deps/ (files
# already there are kept): the Linux library for the native build and the
# Windows DLL for the cross build (tools/build-windows.sh), both from the same
# package. Needs npm.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runtime_dir="$root/.deps/onnxruntime-1.30.0"
runtime_files=(linux/x64/libonnxruntime.so.1 win32/x64/onnxruntime.dll)

wanted=()
for f in "${runtime_files[@]}"; do
  [ -f "$runtime_dir/$(basename "$f")" ] || wanted+=("package/bin/napi-v6/$f")
done
[ ${#wanted[@]} -gt 0 ] || exit 0

echo "[setup] fetching the inference runtime (npm package onnxruntime-node@1.30.0)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && npm pack --silent onnxruntime-node@1.30.0 >/dev/null)
tar -xzf "$tmp"/onnxruntime-node-1.30.0.tgz -C "$tmp" "${wanted[@]}"
mkdir -p "$runtime_dir"
for f in "${wanted[@]}"; do mv "$tmp/$f" "$runtime_dir/"; done
