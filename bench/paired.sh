#!/usr/bin/env bash
# Two dropix builds run alternately on the same simulated recording, pair after pair: the
# median of the ratios B / A and how often B was the faster. On a machine whose load moves
# whole-run times by a fifth from one minute to the next, a ratio taken within each pair
# sees a change of a few per cent that the best of nine runs of each cannot.
#
#   bench/paired.sh BUILD_DIR DROPIX_A DROPIX_B [--rate 50] [--minutes 120] [--pairs 21]
#
# BUILD_DIR provides dropix-sim; the recording is made as bench/throughput.sh makes it
# (WORK=DIR keeps and reuses it).
set -euo pipefail
[[ $# -ge 3 ]] || { echo "usage: $0 BUILD_DIR DROPIX_A DROPIX_B [--rate R] [--minutes M] [--pairs N]" >&2; exit 2; }
build=$(cd "$1" && pwd)
a=$(realpath "$2")
b=$(realpath "$3")
shift 3
rate=50 minutes=120 pairs=21
while [[ $# -gt 0 ]]; do
  case "$1" in
    --rate) rate=$2; shift 2 ;;
    --minutes) minutes=$2; shift 2 ;;
    --pairs) pairs=$2; shift 2 ;;
    *) echo "$0: unknown option $1" >&2; exit 2 ;;
  esac
done

if [[ -n ${WORK:-} ]]; then work=$WORK; mkdir -p "$work"; else work=$(mktemp -d); trap 'rm -rf "$work"' EXIT; fi

# shellcheck source=bench/recordings.sh
source "$(dirname "$0")/recordings.sh"

dir=$(recording "$rate" "$minutes")
cd "$dir"
cat V26342_1.AB >/dev/null

# One run of a program on a fresh set of outputs, in microseconds; a failing run ends the script.
run_us() {
  rm -rf out && mkdir out
  timed_us "$1" V26342_1.AB 2>/dev/null || { echo "$0: $1 failed on $dir" >&2; exit 1; }
}

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg); $rate mm/h over $minutes minutes, $pairs pairs"
echo "A: $a"
echo "B: $b"
for ((i = 0; i < pairs; i++)); do
  # Each time by an assignment of its own, so that a failing run ends the loop and the script.
  ta=$(run_us "$a")
  tb=$(run_us "$b")
  echo "$ta $tb"
done | awk "$awk_median"'
  { ta[NR] = $1; tb[NR] = $2; r[NR] = $2 / $1; if ($2 < $1) faster++ }
  END {
    n = NR
    if (n == 0) exit 1  # no pair was timed
    printf "A median %.1f ms, B median %.1f ms\n", median(ta, n) / 1000, median(tb, n) / 1000
    printf "median of B / A %.3f; B faster in %d of %d pairs\n", median(r, n), faster, n
  }'
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
