#!/usr/bin/env bash
# Throughput of dropix on simulated heavy rain, against a plain read of the same raw file.
#   bench/throughput.sh [BUILD_DIR] [RAIN_MM_PER_H] [MINUTES]
# Needs a build with the tools (cmake --workflow --preset test builds them).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
rain=${2:-50}
minutes=${3:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$build/dropix-sim" --rain "$rain" --minutes "$minutes" --out V26342_1.AB --quiet
"$build/dropix-sim" --calibrate --out corrfact.dat --quiet
"$build/dropix-sim" --settings out/ --quiet
mkdir -p out
bytes=$(stat -c %s V26342_1.AB)

seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null; t1=$(date +%s.%N); echo "$t1 - $t0" | bc -l; }
cat V26342_1.AB >/dev/null  # into the page cache
plain=$(seconds cat V26342_1.AB)
run=$(seconds "$build/dropix" V26342_1.AB)
drops=$(( $(stat -c %s out/V26342_1.hyd) ))

printf 'raw file: %d bytes (%s mm/h, %s min); .hyd: %d bytes\n' "$bytes" "$rain" "$minutes" "$drops"
printf 'plain read: %8.1f MB/s\n' "$(echo "$bytes / $plain / 1000000" | bc -l)"
printf 'dropix:     %8.1f MB/s (%.3f s)\n' "$(echo "$bytes / $run / 1000000" | bc -l)" "$run"
