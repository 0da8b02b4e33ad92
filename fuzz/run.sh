#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer + UndefinedBehavior-
# Sanitizer + libFuzzer) and runs each for SECONDS, two at a time, starting
# from the generated seeds plus whatever earlier runs kept. Prints each
# target's executions, coverage and findings; fails when one found a crash.
#
#   fuzz/run.sh SECONDS [TARGET...]   (targets: png jpeg gif webp bmp tga pnm load memory api; default all)
#
# BL_FUZZ_BUILD (default build-fuzz/) is the build folder; kept corpora live
# in its fuzz-corpus/, crash files in fuzz-findings/, logs in fuzz-logs/.
# A target stops at its first finding, unless BL_FUZZ_KEEP_GOING=1 (long
# campaigns): then each runs in a forked worker that is restarted after
# crashes, timeouts and out-of-memory findings.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:?usage: fuzz/run.sh SECONDS [TARGET...]}"
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(png jpeg gif webp bmp tga pnm load memory api)
build="${BL_FUZZ_BUILD:-$root/build-fuzz}"

"$root/tools/setup.sh" "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DBL_FUZZ=ON -DBL_SANITIZE=address,undefined -DBL_BUILD_TESTS=OFF -DBL_BUILD_BENCHMARKS=OFF \
  -DBL_BUILD_TOOLS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

mkdir -p "$build/fuzz-corpus" "$build/fuzz-findings" "$build/fuzz-logs"

run_one() {
  local target="$1" max_len=16384 timeout=20
  # Decoding from memory starts from the loader's seeds and words.
  local seeds="$target"
  [ "$target" = memory ] && seeds=load
  # The operations' own messages (one per refused file) go unprinted;
  # the fuzzer's output and sanitizer reports still reach the log.
  local quiet=0 keep_going=()
  [ "${BL_FUZZ_KEEP_GOING:-0}" = 1 ] && keep_going=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
  [ "$target" = api ] && max_len=8192 && timeout=180 && quiet=2
  mkdir -p "$build/fuzz-corpus/$target"
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp" \
    "$build/out/fuzz_$target" "$build/fuzz-corpus/$target" "$build/fuzz-seeds/$seeds" \
    -dict="$root/fuzz/dict/$seeds.dict" -max_total_time="$seconds" -max_len="$max_len" \
    -timeout="$timeout" -rss_limit_mb=3072 -malloc_limit_mb=3072 -print_final_stats=1 -close_fd_mask="$quiet" \
    -artifact_prefix="$build/fuzz-findings/$target-" "${keep_going[@]}" >"$build/fuzz-logs/$target.log" 2>&1
}

# Two targets at a time: the machine has two cores to share.
pids=()
status=0
for target in "${targets[@]}"; do
  run_one "$target" &
  pids+=($!)
  if [ ${#pids[@]} -ge 2 ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done

printf '%-6s %12s %8s %8s %s\n' target executions edges features findings
for target in "${targets[@]}"; do
  log="$build/fuzz-logs/$target.log"
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | awk '{print $2}' | tail -1 || true)
  # Forked runs report their running total as "#N: cov: ..." instead.
  [ -n "$execs" ] || execs=$(grep -o '^#[0-9]*: cov' "$log" | tr -dc '0-9\n' | tail -1 || true)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || true)
  findings=$(ls "$build/fuzz-findings" | grep -c "^$target-" || true)
  printf '%-6s %12s %8s %8s %s\n' "$target" "${execs:-?}" "$(echo "$cov" | awk '{print $2}')" \
    "$(echo "$cov" | awk '{print $4}')" "$findings"
done
if [ "$status" -ne 0 ]; then
  echo "[fuzz] a target failed; see $build/fuzz-logs and $build/fuzz-findings" >&2
fi
exit "$status"
