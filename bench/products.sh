#!/usr/bin/env bash
# The products against the decoding: simulated heavy rain, dropix on the raw file, then
# dropix-products on its .hyd, each the best of three runs (wall-clock seconds).
#   bench/products.sh [BUILD_DIR] [RAIN_MM_PER_H] [MINUTES]
# Needs a build with the tools (cmake --workflow --preset test builds them).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
rain=${2:-50}
minutes=${3:-120}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck source=bench/recordings.sh
source "$(dirname "$0")/recordings.sh"
simulate "$work" --rain "$rain" --minutes "$minutes"
cd "$work"
cat V26342_1.AB >/dev/null  # into the page cache

best() { printf '%s\n' "$@" | sort -g | head -1; }
decode=() products=()
for _ in 1 2 3; do
  rm -rf out && mkdir out  # dropix continues existing output: start afresh each time
  decode+=("$(timed_s "$build/dropix" V26342_1.AB)")
  products+=("$(timed_s "$build/dropix-products" -q out/V26342_1.hyd)")
done
drops=$(( $(wc -l < out/V26342_1_drops.csv) - 1 ))
printf 'raw file %d bytes (%s mm/h, %s min), .hyd %d bytes, %d drops\n' "$(stat -c %s V26342_1.AB)" "$rain" \
  "$minutes" "$(stat -c %s out/V26342_1.hyd)" "$drops"
printf 'dropix          %6.3f s  (runs: %s)\n' "$(best "${decode[@]}")" "${decode[*]}"
printf 'dropix-products %6.3f s  (runs: %s)\n' "$(best "${products[@]}")" "${products[*]}"
printf 'products: csv %d, drops.nc %d, dsd.nc %d bytes\n' "$(stat -c %s out/V26342_1_drops.csv)" \
  "$(stat -c %s out/V26342_1_drops.nc)" "$(stat -c %s out/V26342_1_dsd.nc)"
