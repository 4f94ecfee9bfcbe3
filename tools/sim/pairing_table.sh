#!/usr/bin/env bash
# How often the program pairs the right camera B silhouette with each camera A silhouette, by
# rain rate, weather and matching mode, over several seeds: the tables of docs/simulation.md.
#   tools/sim/pairing_table.sh [BUILD_DIR] [MINUTES] [SEEDS] [RATES] [MODES]
# e.g. tools/sim/pairing_table.sh build 10 "2 3 4" "10 50 100 200" "default physical". Needs
# dropix, dropix-sim and dropix-truth in BUILD_DIR. Prints two Markdown tables:
#  - one row per rate, weather and mode: the drops of 0.7 mm and more seen whole by both
#    cameras (summed over the seeds), recovered and right among them, wrong pairs among all
#    records and, of those, the records with another drop's camera B silhouette or none of a
#    drop's, each as the mean over the seeds with its range;
#  - for each weather, by rain rate and size class, summed over the seeds: the drops seen whole
#    by both cameras, alone, recovered and right in each mode, and the records with a wrong
#    camera B silhouette among the records of the class's drops.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
minutes=${2:-10}
seeds=${3:-"2 3 4"}
rates=${4:-"10 50 100 200"}
modes=${5:-"default physical"}
# PAIRING_TABLE_KEEP=DIR keeps every run's dropix-truth output in DIR/results.
if [ -n "${PAIRING_TABLE_KEEP:-}" ]; then
  work=$PAIRING_TABLE_KEEP
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
cd "$work"
"$build/dropix-sim" --calibrate --out corrfact.dat --quiet
"$build/dropix-sim" --settings out/ --quiet
mkdir -p out results

weathers=("calm|" "turbulence 0.2|--turbulence 0.2" "turbulence 0.2, wind 5 m/s|--turbulence 0.2 --wind 5")
for rain in $rates; do
  for w in "${!weathers[@]}"; do
    opts=${weathers[$w]#*|}
    for seed in $seeds; do
      # PAIRING_TABLE_REUSE=1 with PAIRING_TABLE_KEEP: tables from the kept results alone.
      [ -n "${PAIRING_TABLE_REUSE:-}" ] && continue
      # shellcheck disable=SC2086
      "$build/dropix-sim" --rain "$rain" --minutes "$minutes" --seed "$seed" $opts --out V26342_1.AB --quiet
      for mode in $modes; do
        rm -f out/*
        switch=()
        [ "$mode" = physical ] && switch=(/m)
        "$build/dropix" V26342_1.AB "${switch[@]}" >/dev/null
        "$build/dropix-truth" out/V26342_1.hyd V26342_1_truth.csv >"results/$rain.$w.$mode.$seed.txt"
      done
    done
  done
done

# One line per run: drops recovered right wrong(all) wrong(camera B), percentages.
summary() {
  awk '/^pairing,/ { gsub(/[(%),;:]/, " "); for (i = 1; i <= NF; i++) { if ($i == "alone") n = $(i+1);
                                                               if ($i == "recovered") rec = $(i+2);
                                                               if ($i == "right") ri = $(i+2) } }
       /^wrong pairs/ { gsub(/[(%):,]/, " "); wr = $7; for (i = 1; i <= NF; i++) { if ($i == "records") recs = $(i-1);
                                                               if ($i == "another") ob = $(i+2);
                                                               if ($i == "no" && $(i+1) == "drop" && $(i-1) == "of") nb = $(i+2) } }
       END { printf "%d %s %s %s %.2f\n", n, rec, ri, wr, 100.0 * (ob + nb) / recs }' "$1"
}

echo "| R (mm/h) | weather | mode | drops >= 0.7 mm | recovered | right | wrong pairs | of them camera B |"
echo "|---:|---|---|---:|---:|---:|---:|---:|"
for rain in $rates; do
  for w in "${!weathers[@]}"; do
    label=${weathers[$w]%%|*}
    for mode in $modes; do
      for seed in $seeds; do summary "results/$rain.$w.$mode.$seed.txt"; done |
        awk -v rain="$rain" -v label="$label" -v mode="$mode" '
          NF == 5 { n += $1; k++; for (c = 2; c <= 5; c++) { s[c] += $c; if (k == 1 || $c < lo[c]) lo[c] = $c; if (k == 1 || $c > hi[c]) hi[c] = $c } }
          END { printf "| %d | %s | %s | %d |", rain, label, mode, n
                for (c = 2; c <= 5; c++) printf " %.2f %% (%.2f-%.2f) |", s[c] / k, lo[c], hi[c]
                printf "\n" }'
    done
  done
done

for w in "${!weathers[@]}"; do
echo
echo "${weathers[$w]%%|*}:"
echo
printf "| R (mm/h) | D (mm) | drops |"
for mode in $modes; do printf " %s: recovered | right | camera B wrong |" "$mode"; done
printf "\n|---:|---|---:|"
for mode in $modes; do printf -- "---:|---:|---:|"; done
printf "\n"
for rain in $rates; do
  for mode in $modes; do
    awk -v mode="$mode" 'FNR == 1 { on = 0 } /^\| pairing by size/ { on = 1 } on && /^\| [0-9.]+-[0-9.]+ \|/ { gsub(/[|%]/, " "); d[$1] += $2; rec[$1] += $3 * $2 / 100; ri[$1] += $4 * $2 / 100;
                                                     r[$1] += $5; wb[$1] += $6 + $7; if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 } }
                           END { for (i = 1; i <= n; i++) { c = order[i]; printf "%s %s %d %.2f %.2f %d %d\n", mode, c, d[c],
                                   d[c] ? 100 * rec[c] / d[c] : 0, d[c] ? 100 * ri[c] / d[c] : 0, wb[c], r[c] } }' \
      results/"$rain.$w.$mode".*.txt
  done | awk -v rain="$rain" -v modes="$modes" '
    { key = $2; if (!(key in seen)) { seen[key] = 1; order[++n] = key; drops[key] = $3 }
      cell[key, $1] = sprintf(" %.2f %% | %.2f %% | %d of %d |", $4, $5, $6, $7) }
    END { m = split(modes, ms, " ")
          for (i = 1; i <= n; i++) { k = order[i]; printf "| %d | %s | %d |", rain, k, drops[k]
                                     for (j = 1; j <= m; j++) printf "%s", cell[k, ms[j]]
                                     printf "\n" } }'
done
done
