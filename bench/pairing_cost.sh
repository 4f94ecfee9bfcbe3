#!/usr/bin/env bash
# Run time of the physical pairing (/m) against the default matching on the same simulated
# recording: both modes run in turn, N times each, and the best time of each is compared; with
# valgrind on the path, the instructions of one run of each mode as well.
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
cd "$work"

"$build/dropix-sim" --rain "$rain" --minutes "$minutes" --seed "$seed" --turbulence 0.2 --wind 5 --out V26342_1.AB --quiet
"$build/dropix-sim" --calibrate --out corrfact.dat --quiet
"$build/dropix-sim" --settings out/ --quiet
mkdir -p out
cat V26342_1.AB >/dev/null  # into the page cache

seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null; t1=$(date +%s.%N); echo "$t1 - $t0" | bc -l; }
best_default=999
best_physical=999
for ((i = 0; i < runs; i++)); do
  rm -f out/*
  t=$(seconds "$build/dropix" V26342_1.AB)
  best_default=$(echo "if ($t < $best_default) $t else $best_default" | bc -l)
  rm -f out/*
  t=$(seconds "$build/dropix" V26342_1.AB /m)
  best_physical=$(echo "if ($t < $best_physical) $t else $best_physical" | bc -l)
done
printf 'recording: %d bytes (%s mm/h, %s min, seed %s, turbulence 0.2, wind 5 m/s)\n' "$(stat -c %s V26342_1.AB)" \
  "$rain" "$minutes" "$seed"
printf 'best of %d: default %.4f s, physical %.4f s, ratio %.3f\n' "$runs" "$best_default" "$best_physical" \
  "$(echo "$best_physical / $best_default" | bc -l)"

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
