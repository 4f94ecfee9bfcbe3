#!/usr/bin/env bash
# Where a whole run's CPU time goes, thread by thread, against zstd -dc of the same raw file.
# dropix reads, decodes, assembles and pairs on its main thread (the session's) and
# evaluates and writes records on a second one (the writer's); a run cannot end before its
# busier thread has done its work. Each run is measured twice: `perf stat` counts the
# process's CPU time (task-clock), and `perf record` samples it on the cpu-clock event at a
# fixed period of CPU time, so that each thread's share of the samples is its share of that
# time (each sample takes time of the thread it interrupts, in a virtual machine enough to
# count a fifth too much at one sample per 100 us, so they give shares, not times). zstd -dc
# and dropix without perf are timed best of RUNS, interleaved with them.
#
#   bench/thread_split.sh BUILD_DIR DROPIX [--rate 50] [--minutes 120] [--runs 5] [--top 6]
#
# Prints for each run the CPU milliseconds of each thread, then their medians as multiples
# of zstd -dc's time, and the busiest functions of each thread in the run of median
# session-thread time. Two figures bound the ratio to zstd -dc that the program's present
# work allows on two cores: the session thread's time alone, and half of both threads' time
# (the two perfectly balanced); the first is the floor while the threads stay as they are.
# Needs perf (Debian's linux-perf) allowed to sample the user's own processes, zstd and the
# recording tools of BUILD_DIR (WORK=DIR keeps the recording and reuses it).
set -euo pipefail
[[ $# -ge 2 ]] || { echo "usage: $0 BUILD_DIR DROPIX [--rate R] [--minutes M] [--runs N] [--top K]" >&2; exit 2; }
build=$(cd "$1" && pwd)
dropix=$(realpath "$2")
shift 2
rate=50 minutes=120 runs=5 top=6
while [[ $# -gt 0 ]]; do
  case "$1" in
    --rate) rate=$2; shift 2 ;;
    --minutes) minutes=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --top) top=$2; shift 2 ;;
    *) echo "$0: unknown option $1" >&2; exit 2 ;;
  esac
done
for tool in perf zstd; do command -v "$tool" >/dev/null || { echo "$0: $tool is needed" >&2; exit 1; }; done

samples=$(mktemp -d)  # perf's recordings and the table of runs
if [[ -n ${WORK:-} ]]; then work=$WORK; mkdir -p "$work"; else work=$samples/recordings; fi
trap 'rm -rf "$samples"' EXIT
# shellcheck source=bench/recordings.sh
source "$(dirname "$0")/recordings.sh"

dir=$(recording "$rate" "$minutes")
cd "$dir"
cat V26342_1.AB V26342_1.AB.zst >/dev/null

period_ns=250000  # one sample per 250 us of a thread's CPU time

fresh_outputs() { rm -rf out && mkdir out; }

# The CPU milliseconds of the session's thread and of all others in a run, given the
# recorded samples and the run's CPU milliseconds: the session's thread is the process's
# first, whose thread id is the process id.
thread_ms() {
  perf script -i "$1" -F pid,tid 2>/dev/null |
    awk -v cpu="$2" '{ split($1, t, "/"); if (t[1] == t[2]) s++; else w++ }
      END { if (s + w == 0) exit 1; printf "%.1f %.1f\n", cpu * s / (s + w), cpu * w / (s + w) }'
}

# The CPU milliseconds of one run of dropix on fresh outputs, by perf stat.
cpu_ms() {
  fresh_outputs
  perf stat -x, -e task-clock -o "$samples/stat" "$dropix" V26342_1.AB >/dev/null 2>&1 ||
    { echo "$0: perf stat of $dropix failed on $dir" >&2; exit 1; }
  awk -F, '$3 ~ /^task-clock/ { printf "%.1f\n", $1 }' "$samples/stat"
}

best_zstd=0 best_dropix=0
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg); $rate mm/h over $minutes minutes, $runs runs"
echo "dropix: $dropix"
printf '%4s %14s %14s %10s %10s\n' run "session ms" "writer ms" "zstd ms" "dropix ms"
for ((i = 1; i <= runs; i++)); do
  fresh_outputs
  perf record -q -e cpu-clock -c "$period_ns" -o "$samples/run$i.data" "$dropix" V26342_1.AB >/dev/null 2>"$samples/run$i.err" ||
    { echo "$0: perf record of $dropix failed on $dir:" >&2; cat "$samples/run$i.err" >&2; exit 1; }
  cpu=$(cpu_ms)
  read -r s w < <(thread_ms "$samples/run$i.data" "$cpu") || { echo "$0: no samples in run $i" >&2; exit 1; }
  echo "$i $s $w" >>"$samples/threads"
  tz=$(timed_us zstd -dc V26342_1.AB.zst) || { echo "$0: zstd -dc failed on $dir" >&2; exit 1; }
  fresh_outputs
  td=$(timed_us "$dropix" V26342_1.AB 2>/dev/null) || { echo "$0: $dropix failed on $dir" >&2; exit 1; }
  ((best_zstd == 0 || tz < best_zstd)) && best_zstd=$tz
  ((best_dropix == 0 || td < best_dropix)) && best_dropix=$td
  printf '%4d %14s %14s %10.1f %10.1f\n' "$i" "$s" "$w" "$(echo "$tz / 1000" | bc -l)" "$(echo "$td / 1000" | bc -l)"
done

# The medians, and the run whose session time is the median one.
median_of() { sort -n | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
s_ms=$(cut -d' ' -f2 "$samples/threads" | median_of)
w_ms=$(cut -d' ' -f3 "$samples/threads" | median_of)
median_run=$(sort -k2,2n "$samples/threads" | awk '{ run[NR] = $1 } END { print run[int((NR + 1) / 2)] }')
z_ms=$(echo "scale=1; $best_zstd / 1000" | bc -l)
echo
echo "zstd -dc best ${z_ms} ms; dropix best $(echo "scale=1; $best_dropix / 1000" | bc -l) ms, $(ratio "$best_dropix" "$best_zstd" 2) x zstd"
echo "session thread, median: $s_ms ms of CPU, $(ratio "$s_ms" "$z_ms" 2) x zstd"
echo "writer thread, median: $w_ms ms of CPU, $(ratio "$w_ms" "$z_ms" 2) x zstd"
echo "both threads perfectly balanced: $(echo "scale=1; ($s_ms + $w_ms) / 2" | bc -l) ms, $(ratio "($s_ms + $w_ms) / 2" "$z_ms" 2) x zstd"
echo
echo "busiest functions of run $median_run, share of its CPU time in ms (x zstd):"
cpu_of_median=$(awk -v r="$median_run" '$1 == r { print $2 + $3 }' "$samples/threads")
total_samples=$(perf script -i "$samples/run$median_run.data" -F pid 2>/dev/null | wc -l)
perf report -i "$samples/run$median_run.data" --sort pid,sym -n --stdio 2>/dev/null |
  awk -v cpu="$cpu_of_median" -v all="$total_samples" -v z="$z_ms" -v top="$top" -v pid="$(perf script -i "$samples/run$median_run.data" -F pid 2>/dev/null | head -1 | tr -d ' ')" '
    /^#/ || NF < 5 { next }
    { split($3, t, ":"); who = (t[1] == pid) ? "session" : "writer"
      if (++n[who] > top) next
      sym = $5; for (k = 6; k <= NF; k++) sym = sym " " $k
      ms = cpu * $2 / all
      printf "  %-8s %8.1f (%.2f)  %s\n", who, ms, ms / z, sym }'
