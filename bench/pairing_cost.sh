#!/usr/bin/env bash
# Run time of the physical pairing (/m) against the default matching on the same simulated
# recording: both modes run in turn, N times each, and the best wall-clock time and the best
# processor time (user + system) of each are compared; with valgrind on the path, the
# instructions of one run of each mode as well. On a shared machine the processor times and
# the instruction counts vary less than the wall-clock times (which include the writer's
# file syncs).
#   bench/pairing_cost.sh [BUILD_DIR] [RAIN_MM_PER_H] [MINUTES] [RUNS] [SEED]
# Defaults: build, 50 mm/h, 10 minutes, 15 runs, seed 5, with turbulence 0.2 and wind 5 m/s.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
rain=${2:-50}
minutes=${3:-10}
runs=${4:-15}
seed=${5:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck source=bench/recordings.sh
source "$(dirname "$0")/recordings.sh"
simulate "$work" --rain "$rain" --minutes "$minutes" --seed "$seed" --turbulence 0.2 --wind 5
cd "$work"
cat V26342_1.AB >/dev/null  # into the page cache

# One run: "wall user+system" in seconds.
timed() {
  local t0 t1 cpu
  TIMEFORMAT='%U %S'
  t0=$EPOCHREALTIME
  cpu=$({ time "$@" >/dev/null 2>&1; } 2>&1)
  t1=$EPOCHREALTIME
  echo "$(us_to_s "$(us_between "$t0" "$t1")") $(echo "$cpu" | awk '{ print $1 + $2 }')"
}
min() { echo "if ($1 < $2) $1 else $2" | bc -l; }
wall_default=999 cpu_default=999 wall_physical=999 cpu_physical=999
for ((i = 0; i < runs; i++)); do
  rm -f out/*
  read -r w c < <(timed "$build/dropix" V26342_1.AB)
  wall_default=$(min "$w" "$wall_default")
  cpu_default=$(min "$c" "$cpu_default")
  rm -f out/*
  read -r w c < <(timed "$build/dropix" V26342_1.AB /m)
  wall_physical=$(min "$w" "$wall_physical")
  cpu_physical=$(min "$c" "$cpu_physical")
done
printf 'recording: %d bytes (%s mm/h, %s min, seed %s, turbulence 0.2, wind 5 m/s)\n' "$(stat -c %s V26342_1.AB)" \
  "$rain" "$minutes" "$seed"
printf 'best of %d, wall clock: default %.4f s, physical %.4f s, ratio %.3f\n' "$runs" "$wall_default" \
  "$wall_physical" "$(echo "$wall_physical / $wall_default" | bc -l)"
printf 'best of %d, processor:  default %.3f s, physical %.3f s, ratio %.3f\n' "$runs" "$cpu_default" \
  "$cpu_physical" "$(echo "$cpu_physical / $cpu_default" | bc -l)"

if command -v valgrind >/dev/null; then
  count() {
    rm -f out/*
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null | sed -n 's/.*Collected : //p'
  }
  i_default=$(count "$build/dropix" V26342_1.AB)
  i_physical=$(count "$build/dropix" V26342_1.AB /m)
  printf 'instructions: default %d, physical %d, ratio %.3f\n' "$i_default" "$i_physical" \
    "$(echo "$i_physical / $i_default" | bc -l)"
fi
