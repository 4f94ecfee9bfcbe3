#!/usr/bin/env bash
# Two (or more) dropix builds and zstd -dc on the same simulated recordings, interleaved
# run by run so that all see the same load: the best wall-clock time of each. For a change
# that should make the program faster, this is the fair comparison on a shared machine,
# where whole-run times move by a third from one minute to the next.
#
#   bench/side_by_side.sh BUILD_DIR DROPIX_A DROPIX_B... [--rates "1 10 50 200"] [--minutes 120] [--runs 9]
#
# BUILD_DIR provides dropix-sim; the recordings are made as bench/throughput.sh makes them
# (WORK=DIR keeps and reuses them).
set -euo pipefail
[[ $# -ge 2 ]] || { echo "usage: $0 BUILD_DIR DROPIX... [--rates R...] [--minutes M] [--runs N]" >&2; exit 2; }
build=$(cd "$1" && pwd); shift
programs=() rates="1 10 50 200" minutes=120 runs=9
while [[ $# -gt 0 ]]; do
  case "$1" in
    --rates) rates=$2; shift 2 ;;
    --minutes) minutes=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    -*) echo "$0: unknown option $1" >&2; exit 2 ;;
    *) programs+=("$(realpath "$1")"); shift ;;
  esac
done
[[ ${#programs[@]} -ge 1 ]] || { echo "$0: no dropix to run" >&2; exit 2; }
command -v zstd >/dev/null || { echo "$0: zstd is needed" >&2; exit 1; }

if [[ -n ${WORK:-} ]]; then work=$WORK; mkdir -p "$work"; else work=$(mktemp -d); trap 'rm -rf "$work"' EXIT; fi

# shellcheck source=bench/recordings.sh
source "$(dirname "$0")/recordings.sh"

ms() { local us; us=$(timed_us "$@" 2>/dev/null) || true; echo $((us / 1000)); }

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg); best of $runs, milliseconds"
letters=(A B C D E F G H)
for i in "${!programs[@]}"; do echo "${letters[$i]}: ${programs[$i]}"; done
printf '%6s %9s' mm/h zstd
for i in "${!programs[@]}"; do printf ' %9s %7s' "${letters[$i]}" "x zstd"; done
echo
for r in $rates; do
  dir=$(recording "$r" "$minutes")
  cd "$dir"
  cat V26342_1.AB V26342_1.AB.zst >/dev/null
  best_z=
  declare -A best=()
  for ((i = 0; i < runs; i++)); do
    for p in "${programs[@]}"; do
      rm -rf out && mkdir out
      t=$(ms "$p" V26342_1.AB)
      [[ -z ${best[$p]:-} || $t -lt ${best[$p]} ]] && best[$p]=$t
    done
    t=$(ms zstd -dc V26342_1.AB.zst)
    [[ -z $best_z || $t -lt $best_z ]] && best_z=$t
  done
  printf '%6s %9s' "$r" "$best_z"
  for p in "${programs[@]}"; do printf ' %9s %7s' "${best[$p]}" "$(ratio "${best[$p]}" "$best_z" 2)"; done
  echo
  unset best
done
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
