#!/bin/sh
# Runs a program under valgrind and fails when any error or definitely lost
# block has our code on its stack. The runtime's own worker threads keep a few
# process-wide allocations that never pass through our code; those are not
# ours to release and do not fail the check.
#   valgrind_check.sh SUPPRESSIONS PROGRAM ARGS...
set -eu
supp="$1"
shift
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
status=0
valgrind --leak-check=full --show-leak-kinds=definite --num-callers=60 \
  --suppressions="$supp" --log-file="$log" "$@" || status=$?
if [ "$status" -ne 0 ]; then
  echo "program failed with status $status"
  cat "$log"
  exit 1
fi
# A record is the block of lines between two empty "==pid== " lines.
ours=$(awk '
  /^==[0-9]+== *$/ { if (record ~ /(libkalderon-brightloom|brightloom\.cpp|bl_[a-z_0-9]+|init_cycle\.c)/ && record ~ /(Invalid|uninitialised|definitely lost|overlap|free)/) print record; record = ""; next }
  { record = record "\n" $0 }
' "$log")
if [ -n "$ours" ]; then
  echo "valgrind found errors or leaks in our code:"
  echo "$ours"
  exit 1
fi
grep -E "ERROR SUMMARY|definitely lost:" "$log" || true
echo "1 passed, 0 failed"
