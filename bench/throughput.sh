#!/usr/bin/env bash
# Whole runs of dropix on simulated rain, side by side with zstd -dc and gzip -dc of the same
# raw file (each compressed at its tool's default level) and with a plain read of it (dd
# bs=128K), each the best of RUNS runs, interleaved so that all four see the same load.
# Prints MB/s of raw data, the ratios, the peak RSS of each, and the flushes that wrote
# records: each syncs the .hyd once, so they are counted as its fsyncs, with the seconds
# spent in them (when strace is installed). What the syncs cost in all is measured as well:
# dropix once more, best of RUNS, with fsync turned into a no-op by the build's preload
# library (bench/libdropix-no-fsync.so), side by side with the others, and the CPU seconds
# of one run (dropix writes its records on a second thread, so they can exceed its
# wall-clock time).
#
#   bench/throughput.sh [BUILD_DIR] [--rates "1 10 50 200"] [--minutes 120] [--runs 5]
#   bench/throughput.sh [BUILD_DIR] --linearity [--rate 50] [--lengths "30 120 480"]
#
# The second form runs the same rain for recordings of different lengths, one run of each
# length per round, and prints the seconds per minute of recording of each relative to the
# longest one, as they are, with the time of a run on a raw file of one header block taken
# off and as the median of the ratios within each round, and the straight line through the
# times by least squares.
# Needs a build with the tools (cmake --workflow --preset test builds them), zstd, gzip, dd
# and /usr/bin/time. WORK=DIR keeps the recordings there (and reuses them) instead of a
# temporary directory.
set -euo pipefail
build=build
[[ $# -gt 0 && $1 != --* ]] && { build=$1; shift; }
build=$(cd "$build" && pwd)
rates="1 10 50 200" minutes=120 runs=5 linearity=0 rate=50 lengths="30 120 480"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --rates) rates=$2; shift 2 ;;
    --minutes) minutes=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --linearity) linearity=1; shift ;;
    --rate) rate=$2; shift 2 ;;
    --lengths) lengths=$2; shift 2 ;;
    *) echo "usage: $0 [BUILD_DIR] [--rates R...] [--minutes M] [--runs N] | --linearity [--rate R] [--lengths M...]" >&2
       exit 2 ;;
  esac
done
for tool in zstd gzip dd /usr/bin/time; do command -v "$tool" >/dev/null || { echo "$0: $tool is needed" >&2; exit 1; }; done

if [[ -n ${WORK:-} ]]; then
  work=$WORK
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

# shellcheck source=bench/recordings.sh
source "$(dirname "$0")/recordings.sh"

best() { printf '%s\n' "$@" | sort -g | head -1; }
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

# Seconds of one dropix run in the current directory, from fresh outputs (a run continues
# outputs that exist); a failing run ends the script. LD_PRELOAD set for the call reaches
# dropix.
dropix_seconds() {
  rm -rf out && mkdir out
  timed_s "$build/dropix" V26342_1.AB 2>/dev/null || { echo "$0: dropix failed in $PWD" >&2; exit 1; }
}

# Peak RSS of a dropix run from fresh outputs (a run continues outputs that exist).
dropix_kb() { rm -rf out && mkdir out && peak_kb "$build/dropix" V26342_1.AB; }

# CPU seconds (user and system, both threads) of a dropix run from fresh outputs.
dropix_cpu() {
  rm -rf out && mkdir out
  /usr/bin/time -f '%U %S' "$build/dropix" V26342_1.AB 2>&1 >/dev/null | tail -1 | awk '{ printf "%.3f", $1 + $2 }'
}

no_fsync=$build/bench/libdropix-no-fsync.so

# The raw file in the current directory compressed by gzip at its default level, made once
# (under a temporary name, so that an interrupted run leaves no half file to be reused).
gzipped() {
  [[ -f V26342_1.AB.gz ]] && return
  gzip -c V26342_1.AB >V26342_1.AB.gz.part
  mv V26342_1.AB.gz.part V26342_1.AB.gz
}

# Best-of-N seconds of dropix, zstd -dc, gzip -dc, dd and (with the preload library) dropix
# without its syncs in DIR, interleaved; sets t_dropix t_zstd t_gzip t_read t_unsynced.
measure() {
  local dir=$1 i t d=() z=() g=() r=() u=()
  cd "$dir"
  gzipped
  cat V26342_1.AB V26342_1.AB.zst V26342_1.AB.gz >/dev/null  # into the page cache
  for ((i = 0; i < runs; i++)); do
    # Each time is taken by an assignment of its own, so that a failing command ends the script.
    t=$(dropix_seconds); d+=("$t")
    t=$(timed_s zstd -dc V26342_1.AB.zst); z+=("$t")
    t=$(timed_s gzip -dc V26342_1.AB.gz); g+=("$t")
    t=$(timed_s dd if=V26342_1.AB of=/dev/null bs=128K status=none); r+=("$t")
    if [[ -f $no_fsync ]]; then
      t=$(LD_PRELOAD=$no_fsync dropix_seconds); u+=("$t")
    fi
  done
  t_dropix=$(best "${d[@]}") t_zstd=$(best "${z[@]}") t_gzip=$(best "${g[@]}") t_read=$(best "${r[@]}")
  t_unsynced=-
  [[ ${#u[@]} -gt 0 ]] && t_unsynced=$(best "${u[@]}")
  runs_dropix="${d[*]}"
}

# The .hyd's fsyncs (one per flush that wrote records) and the seconds spent in them, from
# strace.
flushes() {
  if ! command -v strace >/dev/null; then echo "- -"; return; fi
  rm -rf out && mkdir out
  strace -f -qq -T -e trace=fsync -o fsyncs.txt "$build/dropix" V26342_1.AB >/dev/null
  awk -F'<' '/fsync/ { n++; s += $NF } END { printf "%d %.4f\n", n, s }' fsyncs.txt
  rm -f fsyncs.txt
}

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; best of $runs"
if [[ $linearity -eq 0 ]]; then
  printf '%6s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %9s %9s %8s %8s %9s %8s\n' mm/h "raw MB" "hyd MB" "dropix s" \
    "MB/s" "zstd s" "x zstd" "gzip s" "x gzip" "read s" "x read" "dropix KB" "zstd KB" fsyncs "fsync s" "unsynced" \
    "CPU s"
  for r in $rates; do
    dir=$(recording "$r" "$minutes")
    measure "$dir"
    bytes=$(stat -c %s V26342_1.AB)
    rss_d=$(dropix_kb)
    hyd=$(stat -c %s out/V26342_1.hyd)
    rss_z=$(peak_kb zstd -dc V26342_1.AB.zst)
    read -r nflush tflush < <(flushes)
    cpu=$(dropix_cpu)
    printf '%6s %8.1f %8.1f %8.3f %8s %8.3f %8s %8.3f %8s %8.4f %8s %9s %9s %8s %8s %9s %8s\n' "$r" \
      "$(echo "$bytes / 1000000" | bc -l)" "$(echo "$hyd / 1000000" | bc -l)" "$t_dropix" \
      "$(ratio "$bytes / 1000000" "$t_dropix" 1)" "$t_zstd" "$(ratio "$t_dropix" "$t_zstd" 2)" \
      "$t_gzip" "$(ratio "$t_dropix" "$t_gzip" 2)" \
      "$t_read" "$(ratio "$t_dropix" "$t_read" 1)" "$rss_d" "$rss_z" "$nflush" "$tflush" "$t_unsynced" "$cpu"
    echo "       dropix runs: $runs_dropix"
  done
else
  # The lengths are timed round by round, one run of each per round (the load of this
  # machine moves from one minute to the next, so blocks of runs of one length would meet
  # different loads), beside a run on a raw file of the first 200 bytes of a recording (its
  # first header block): what any run pays whatever its length, measured, not estimated.
  dirs=() ms=() times=() t_empty=() best_s=()
  for m in $lengths; do dirs+=("$(recording "$rate" "$m")"); ms+=("$m"); times+=(""); done
  empty=$(header_only "${dirs[0]}")
  for ((i = 0; i < runs; i++)); do
    for k in "${!dirs[@]}"; do
      cd "${dirs[$k]}"
      cat V26342_1.AB >/dev/null
      t=$(dropix_seconds); times[k]+=" $t"
    done
    cd "$empty"
    t=$(dropix_seconds); t_empty+=("$t")
  done
  last=0  # the longest recording
  for k in "${!dirs[@]}"; do
    read -ra each <<<"${times[k]}"
    best_s[k]=$(best "${each[@]}")
    if ((ms[k] > ms[last])); then last=$k; fi
  done
  t0_s=$(best "${t_empty[@]}") tl=${best_s[$last]} ml=${ms[$last]}
  # Length K's cost per minute relative to the longest's within each round, and the median
  # of those: a load that changes from one round to the next moves it less than the best
  # times, which may come from different rounds.
  round_median() {
    paste <(tr ' ' '\n' <<<"${times[$1]# }") <(tr ' ' '\n' <<<"${times[$last]# }") |
      awk -v m="${ms[$1]}" -v ml="$ml" '$2 > 0 { print ($1 / m) / ($2 / ml) }' | sort -g |
      awk '{ v[NR] = $1 }
        END { if (NR == 0) print "-"; else printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
  }
  printf 'a run on the first 200 bytes (one header block): %.4f s\n' "$t0_s"
  printf '%8s %8s %8s %10s %9s %12s %9s %8s %13s\n' minutes "raw MB" "dropix s" "s per min" relative "less 200 B" \
    "dropix KB" fsyncs "round median"
  for k in "${!dirs[@]}"; do
    cd "${dirs[$k]}"
    m=${ms[$k]} t=${best_s[$k]}
    bytes=$(stat -c %s V26342_1.AB)
    rss_d=$(dropix_kb)
    read -r nflush _ < <(flushes)
    printf '%8s %8.1f %8.3f %10.5f %9s %12s %9s %8s %13s\n' "$m" "$(echo "$bytes / 1000000" | bc -l)" "$t" \
      "$(echo "$t / $m" | bc -l)" "$(ratio "$t / $m" "$tl / $ml")" \
      "$(ratio "($t - $t0_s) / $m" "($tl - $t0_s) / $ml")" "$rss_d" "$nflush" "$(round_median "$k")"
  done
  # The straight line through the lengths' times by least squares: its slope is the cost of
  # a minute of rain, its intercept what a run costs whatever its length, and the largest
  # distance of a length's time from the line says how straight the cost is.
  for k in "${!dirs[@]}"; do echo "${ms[$k]} ${best_s[$k]}"; done | awk '
    { x[NR] = $1; y[NR] = $2; sx += $1; sy += $2; sxx += $1 * $1; sxy += $1 * $2 }
    END {
      n = NR
      if (n < 2 || n * sxx - sx * sx == 0) { print "least squares: needs two lengths or more"; exit }
      slope = (n * sxy - sx * sy) / (n * sxx - sx * sx); icpt = (sy - slope * sx) / n
      printf "least squares: %.5f s per minute and %.4f s per run\n", slope, icpt
      for (i = 1; i <= n; i++) {
        f = icpt + slope * x[i]
        if (f <= 0) continue
        d = (y[i] - f) / f; if (d < 0) d = -d
        if (d > worst) worst = d
      }
      printf "largest distance of a length from the line: %.1f %%\n", 100 * worst
    }'
fi
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
