#!/usr/bin/env bash
# Instructions and branch mispredictions of each stage of dropix runs, counted by
# valgrind's cachegrind (its branch simulator: a model, not this machine's predictor). The
# counts do not move with the load of a shared machine, where whole-run times move by a
# third, so they show what a change to a stage does where timings cannot: compare two
# builds on the same recording.
#
#   bench/instructions.sh DROPIX_A [DROPIX_B...] [--build BUILD_DIR] [--rate 50] [--minutes 5] [--top 12]
#
# BUILD_DIR (default build) provides dropix-sim; the recording is made as bench/throughput.sh
# makes it (WORK=DIR keeps and reuses it). For each program: the whole run's instructions,
# branches and mispredicted branches, then its busiest functions.
set -euo pipefail
programs=() build=build rate=50 minutes=5 top=12
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --rate) rate=$2; shift 2 ;;
    --minutes) minutes=$2; shift 2 ;;
    --top) top=$2; shift 2 ;;
    -*) echo "$0: unknown option $1" >&2; exit 2 ;;
    *) programs+=("$(realpath "$1")"); shift ;;
  esac
done
[[ ${#programs[@]} -ge 1 ]] || { echo "usage: $0 DROPIX... [--build DIR] [--rate R] [--minutes M] [--top N]" >&2; exit 2; }
for tool in valgrind cg_annotate zstd; do command -v "$tool" >/dev/null || { echo "$0: $tool is needed" >&2; exit 1; }; done
build=$(cd "$build" && pwd)

if [[ -n ${WORK:-} ]]; then work=$WORK; mkdir -p "$work"; else work=$(mktemp -d); trap 'rm -rf "$work"' EXIT; fi

# shellcheck source=bench/recordings.sh
source "$(dirname "$0")/recordings.sh"

dir=$(recording "$rate" "$minutes")
cd "$dir"
for p in "${programs[@]}"; do
  rm -rf out && mkdir out
  counts=$(mktemp)
  valgrind --tool=cachegrind --cache-sim=no --branch-sim=yes --cachegrind-out-file="$counts" "$p" V26342_1.AB \
    >/dev/null 2>&1
  echo "== $p, $rate mm/h over $minutes minutes"
  # Columns: Ir Bc Bcm Bi Bim file:function, each count followed by its share in parentheses;
  # a function's lines inlined from other files come as rows of their own and are added up.
  cg_annotate "$counts" 2>/dev/null | awk -v top="$top" '
    { gsub(/\([^)]*\)/, "") }
    /PROGRAM TOTALS/ { gsub(",", ""); printf "instructions %d  branches %d  mispredicted %d\n", $1, $2, $3; next }
    /file:function/ { listing = 1; next }
    listing && /^-+$/ { next }
    listing && NF == 0 { listing = 0 }
    listing { name = $6; sub(/^[^:]*:/, "", name); sub(/\(.*/, "", name); gsub(",", "", $1); gsub(",", "", $3)
              if (!(name in ir)) order[++n] = name
              ir[name] += $1; bcm[name] += $3 }
    END { printf "%14s %12s  %s\n", "instructions", "mispredicted", "function"
          for (k = 1; k <= n; k++) idx[k] = k
          for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++)
            if (ir[order[idx[j]]] > ir[order[idx[i]]]) { t = idx[i]; idx[i] = idx[j]; idx[j] = t }
          for (k = 1; k <= n && k <= top; k++) printf "%14d %12d  %s\n", ir[order[idx[k]]], bcm[order[idx[k]]], order[idx[k]] }'
  rm -f "$counts"
done
