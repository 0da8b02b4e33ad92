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
# A record is the block of lines between two empty "==pid== " lines. Only its
# first stack counts: where the bad access happened, or where the lost block
# was allocated. (The runtime's helper thread outlives the environment and may
# touch memory that our release freed; that stack is the runtime's, and the
# record's second stack, where the block was freed, is not a fault of ours.)
ours=$(awk '
  /^==[0-9]+== *$/ {
    if (first ~ /(libkalderon-brightloom|brightloom\.cpp|bl_[a-z_0-9]+|init_cycle\.c)/) print first
    first = ""; second = 0; next
  }
  /(Address 0x|Block was alloc|is [0-9]+ bytes (inside|after|before))/ { second = 1 }
  { if (!second) first = first "\n" $0 }
' "$log")
if [ -n "$ours" ]; then
  echo "valgrind found errors or leaks in our code:"
  echo "$ours"
  exit 1
fi
grep -E "ERROR SUMMARY|definitely lost:" "$log" || true
echo "1 passed, 0 failed"
