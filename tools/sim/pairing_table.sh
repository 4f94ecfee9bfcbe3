#!/usr/bin/env bash
# How often the program pairs the right camera B silhouette with each camera A silhouette, by
# rain rate and weather, over several seeds: the table of docs/simulation.md.
#   tools/sim/pairing_table.sh [BUILD_DIR] [MINUTES] [SEEDS]
# e.g. tools/sim/pairing_table.sh build 10 "2 3 4". Needs dropix, dropix-sim and dropix-truth
# in BUILD_DIR. Prints one Markdown row per rate and weather: the drops of 0.7 mm and more
# seen whole by both cameras (summed over the seeds), recovered and right among them, and
# wrong pairs among all records, each as the mean over the seeds with its range.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
minutes=${2:-10}
seeds=${3:-"2 3 4"}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/dropix-sim" --calibrate --out corrfact.dat --quiet
"$build/dropix-sim" --settings out/ --quiet
mkdir -p out

weathers=("calm|" "turbulence 0.2|--turbulence 0.2" "turbulence 0.2, wind 5 m/s|--turbulence 0.2 --wind 5")
echo "| R (mm/h) | weather | drops >= 0.7 mm | recovered | right | wrong pairs |"
echo "|---:|---|---:|---:|---:|---:|"
for rain in 10 50 100 200; do
  for w in "${weathers[@]}"; do
    label=${w%%|*}
    opts=${w#*|}
    rows=""
    for seed in $seeds; do
      rm -f out/*
      # shellcheck disable=SC2086
      "$build/dropix-sim" --rain "$rain" --minutes "$minutes" --seed "$seed" $opts --out V26342_1.AB --quiet
      "$build/dropix" V26342_1.AB >/dev/null
      line=$("$build/dropix-truth" out/V26342_1.hyd V26342_1_truth.csv |
        awk '/^pairing,/ { gsub(/[(%),;:]/, " "); for (i = 1; i <= NF; i++) { if ($i == "alone") n = $(i+1);
                                                                 if ($i == "recovered") rec = $(i+2);
                                                                 if ($i == "right") ri = $(i+2) } }
             /^wrong pairs/ { gsub(/[(%):]/, " "); wr = $7 }
             END { print n, rec, ri, wr }')
      rows+="$line"$'\n'
    done
    printf '%s' "$rows" | awk -v rain="$rain" -v label="$label" '
      NF == 4 { n += $1; k++; for (c = 2; c <= 4; c++) { s[c] += $c; if (k == 1 || $c < lo[c]) lo[c] = $c; if (k == 1 || $c > hi[c]) hi[c] = $c } }
      END { printf "| %d | %s | %d |", rain, label, n
            for (c = 2; c <= 4; c++) printf " %.1f %% (%.1f-%.1f) |", s[c] / k, lo[c], hi[c]
            printf "\n" }'
  done
done
