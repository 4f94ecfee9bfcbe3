#!/usr/bin/env bash
# Each whole-run benchmark script once, briefly, on a minute or two of light rain, so that
# the scripts keep working as the program changes: the ctest bench_scripts. Each must end
# well and print its table with figures in it; what the figures are is not checked (one
# run of a few milliseconds measures nothing).
#
#   bench/smoke.sh BUILD_DIR
#
# Needs what the scripts need: zstd, dd, bc and /usr/bin/time (strace is optional).
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WORK=$work/recordings

# expect SCRIPT PATTERN FILE: the script's output holds a line matching PATTERN.
expect() {
  grep -Eq "$2" "$3" && return
  echo "$0: $1 printed no line matching '$2'; its output:" >&2
  cat "$3" >&2
  exit 1
}

"$here/throughput.sh" "$build" --rates 1 --minutes 1 --runs 1 >"$work/throughput.txt"
expect throughput.sh '^ +1 +[0-9.]+ +[0-9.]+ +[0-9.]+ +([0-9.]+|-) ' "$work/throughput.txt"

"$here/throughput.sh" "$build" --linearity --rate 1 --lengths "1 2" --runs 1 >"$work/linearity.txt"
expect "throughput.sh --linearity" '^a run on the first 200 bytes \(one header block\): [0-9.]+ s$' "$work/linearity.txt"
expect "throughput.sh --linearity" '^ +2 +[0-9.]+ +[0-9.]+ +[0-9.]+ +1\.000 +1\.000 ' "$work/linearity.txt"
expect "throughput.sh --linearity" '^least squares: -?[0-9.]+ s per minute and -?[0-9.]+ s per run$' "$work/linearity.txt"

"$here/side_by_side.sh" "$build" "$build/dropix" --rates 1 --minutes 1 --runs 1 >"$work/side_by_side.txt"
expect side_by_side.sh '^ +1 +[0-9]+ +[0-9]+ +([0-9.]+|-)$' "$work/side_by_side.txt"

"$here/paired.sh" "$build" "$build/dropix" "$build/dropix" --rate 1 --minutes 1 --pairs 1 >"$work/paired.txt"
expect paired.sh '^median of B / A [0-9.]+; B faster in [01] of 1 pairs$' "$work/paired.txt"
echo "bench scripts: throughput.sh (both forms), side_by_side.sh and paired.sh ran"
