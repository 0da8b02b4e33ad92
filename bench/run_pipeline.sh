#!/usr/bin/env bash
# Runs bench_pipeline side by side in several configurations and prints one
# table (medians over the rounds). Columns run interleaved, round after round,
# so a machine that gets busier or quieter affects them alike: compare the
# ratios between columns, not the absolute times.
#
#   bench/run_pipeline.sh MODELS_DIR [SOURCE [ONE_FACE [GROUP [SMALL]]]]
#
# MODELS_DIR: a full model directory. For realistic costs make the stand-ins
# (/usr/bin/python3 ../shared/perf/make_cost_models.py DIR) and copy the real
# detector over DIR/scrfd_2.5g.onnx; the images default to the shared photos.
#
# Environment:
#   BENCH     this checkout's bench_pipeline (default: build/out/bench_pipeline)
#   BASELINE  another bench_pipeline, e.g. built from an older commit; shown
#             as the first column, "baseline"
#   VARIANTS  columns of BENCH as LABEL or LABEL=THREADS,SPIN (sessions with
#             THREADS intra-op threads, 0 = the runtime picks, and spinning
#             SPIN 0/1, instead of the library's choice); default "library"
#   ROUNDS    runs of every column (default 1)
#   ARGS      more bench_pipeline arguments, e.g. "--only swap,enhance --repeat 5"
#
# PNG saving of a 1080p frame, libdeflate (BM_SavePng) against zlib level 4:
#   build/out/bench_image --benchmark_filter='Png'
set -euo pipefail

if [ $# -lt 1 ]; then
  sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
models="$1"
shift
images_dir="${BL_ASSETS:-$root/../shared/assets}/images"
defaults=(single_obama_official_pd.jpg single_biden_pd.jpg dlib_voc_2007_007763.jpg
          single_obama_240p_smallface.jpg)
images=()
for i in 0 1 2 3; do
  if [ $# -gt $i ]; then images+=("${@:$((i + 1)):1}"); else images+=("$images_dir/${defaults[$i]}"); fi
done

bench="${BENCH:-$root/build/out/bench_pipeline}"
rounds="${ROUNDS:-1}"
read -r -a variants <<< "${VARIANTS:-library}"
read -r -a extra <<< "${ARGS:-}"

columns=()
commands=()
if [ -n "${BASELINE:-}" ]; then
  columns+=(baseline)
  commands+=("$BASELINE")
fi
for v in "${variants[@]}"; do
  columns+=("${v%%=*}")
  if [[ "$v" == *=* ]]; then commands+=("$bench --tuning ${v#*=}"); else commands+=("$bench"); fi
done

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
for ((r = 1; r <= rounds; r++)); do
  for c in "${!columns[@]}"; do
    echo "[run_pipeline] round $r/$rounds: ${columns[$c]}" >&2
    # shellcheck disable=SC2086
    ${commands[$c]} "$models" "${images[@]}" "${extra[@]}" > "$out/$c.$r.tsv" 2> "$out/$c.$r.log" || {
      echo "[run_pipeline] ${columns[$c]} failed:" >&2
      tail -5 "$out/$c.$r.log" >&2
      exit 1
    }
  done
done

# One row per figure (in the order first printed), one column per
# configuration: the median over the rounds.
for c in "${!columns[@]}"; do
  cat "$out/$c".*.tsv | awk -F'\t' -v col="$c" '{ print col "\t" $0 }'
done | awk -F'\t' -v names="${columns[*]}" '
  {
    key = $2
    if (!(key in seen)) { seen[key] = 1; order[++n] = key; unit[key] = $4 }
    k = $1 SUBSEP key
    count[k]++
    values[k, count[k]] = $3
  }
  function median(k,   m, i, j, t, a) {
    m = count[k]
    if (!m) return "-"
    for (i = 1; i <= m; i++) a[i] = values[k, i] + 0
    for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    return (m % 2) ? a[(m + 1) / 2] : (a[m / 2] + a[m / 2 + 1]) / 2
  }
  END {
    ncol = split(names, label, " ")
    header = "| figure | unit |"; rule = "|---|---|"
    for (c = 1; c <= ncol; c++) { header = header " " label[c] " |"; rule = rule "---:|" }
    print header; print rule
    for (i = 1; i <= n; i++) {
      line = "| " order[i] " | " unit[order[i]] " |"
      for (c = 1; c <= ncol; c++) line = line " " median((c - 1) SUBSEP order[i]) " |"
      print line
    }
  }'
