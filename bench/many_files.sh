#!/usr/bin/env bash
# An archive's throughput: FILES copies of one simulated recording, each in a station
# directory of its own, decoded JOBS at a time (as the archive workflow runs them, one job
# per core), by two dropix builds round by round in turn. Prints each round's wall-clock
# time of both, the best of each, files per minute and the median of the ratios B / A within
# each round. Two runs sharing the cores do not cost what one run alone costs (a run's two
# threads then often share a core), so a change meant for archives is measured here as well
# as with bench/paired.sh. A run that fails ends the script.
#
#   bench/many_files.sh BUILD_DIR DROPIX_A DROPIX_B [--rate 50] [--minutes 120] [--files 8] [--jobs NPROC]
#                       [--rounds 5]
#
# BUILD_DIR provides dropix-sim; the recording is made as bench/throughput.sh makes it
# (WORK=DIR keeps and reuses it).
set -euo pipefail
[[ $# -ge 3 ]] || {
  echo "usage: $0 BUILD_DIR DROPIX_A DROPIX_B [--rate R] [--minutes M] [--files F] [--jobs J] [--rounds N]" >&2
  exit 2
}
build=$(cd "$1" && pwd)
a=$(realpath "$2")
b=$(realpath "$3")
shift 3
rate=50 minutes=120 files=8 jobs=$(nproc) rounds=5
while [[ $# -gt 0 ]]; do
  case "$1" in
    --rate) rate=$2; shift 2 ;;
    --minutes) minutes=$2; shift 2 ;;
    --files) files=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    *) echo "$0: unknown option $1" >&2; exit 2 ;;
  esac
done
((files >= 1 && jobs >= 1 && rounds >= 1)) || { echo "$0: files, jobs and rounds must be 1 or more" >&2; exit 2; }

if [[ -n ${WORK:-} ]]; then work=$WORK; mkdir -p "$work"; else work=$(mktemp -d); trap 'rm -rf "$work"' EXIT; fi

# shellcheck source=bench/recordings.sh
source "$(dirname "$0")/recordings.sh"

src=$(recording "$rate" "$minutes")
# The stations: each with the recording's settings and calibration and the raw file linked
# in, so that the copies cost no disk space.
stations=$work/many-r$rate-m$minutes
mkdir -p "$stations"
for ((k = 0; k < files; k++)); do
  d=$stations/$k
  [[ -e $d/V26342_1.AB ]] && continue
  mkdir -p "$d/out"
  cp "$src/DROPIX.SET" "$src/corrfact.dat" "$d/"
  ln -s "$src/V26342_1.AB" "$d/V26342_1.AB"
done
for ((k = 0; k < files; k++)); do echo "$stations/$k"; done >"$stations/list"
cat "$src/V26342_1.AB" >/dev/null

# decode_all DROPIX: every station from fresh outputs, JOBS at a time; prints the
# microseconds it took. xargs ends with a status other than 0 when any run failed.
decode_all() {
  local k
  for ((k = 0; k < files; k++)); do rm -rf "$stations/$k/out" && mkdir "$stations/$k/out"; done
  timed_us xargs -a "$stations/list" -P "$jobs" -I{} sh -c 'cd "$1" && shift && exec "$@" V26342_1.AB >/dev/null 2>&1' \
    sh {} "$1" || { echo "$0: a run of $1 failed in $stations" >&2; exit 1; }
}

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg); $files files of $rate mm/h over $minutes minutes," \
  "$jobs at a time, $rounds rounds"
echo "A: $a"
echo "B: $b"
echo "round         A ms         B ms        B / A"
for ((i = 1; i <= rounds; i++)); do
  # Each time by an assignment of its own, so that a failing run ends the loop and the script.
  ta=$(decode_all "$a")
  tb=$(decode_all "$b")
  echo "$i $ta $tb"
done | awk -v files="$files" "$awk_median"'
  { printf "%5d %12.1f %12.1f %12.3f\n", $1, $2 / 1000, $3 / 1000, $3 / $2
    r[NR] = $3 / $2
    if (NR == 1 || $2 < ba) ba = $2
    if (NR == 1 || $3 < bb) bb = $3 }
  END {
    if (NR == 0) exit 1  # no round was timed
    printf "best: A %.1f ms (%.1f files a minute), B %.1f ms (%.1f files a minute)\n",
      ba / 1000, files * 60e6 / ba, bb / 1000, files * 60e6 / bb
    printf "median of B / A %.3f\n", median(r, NR)
  }'
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
