#!/usr/bin/env bash
# Each whole-run benchmark script once, briefly, on a minute or two of light rain, so that
# the scripts keep working as the program changes: the ctest bench_scripts. Each must end
# well and print its table with figures in it. The times are not checked (one run of a few
# milliseconds measures nothing); what follows from the printed figures is.
#
#   bench/smoke.sh BUILD_DIR
#
# Needs what the scripts need: zstd, gzip, dd, bc and /usr/bin/time (strace is optional).
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WORK=$work/recordings

# expect SCRIPT PATTERN FILE: the script's output holds a line matching PATTERN.
expect() {
  grep -Eq "$2" "$3" && return
  echo "$0: $1 printed no line matching '$2'; its output:" >&2
  cat "$3" >&2
  exit 1
}

"$here/throughput.sh" "$build" --rates 1 --minutes 1 --runs 1 >"$work/throughput.txt"
expect throughput.sh '^ +1 +[0-9.]+ +[0-9.]+ +[0-9.]+ +([0-9.]+|-) ' "$work/throughput.txt"
# A run takes a millisecond at least: a time of 0 is a broken clock.
awk '$1 == 1 && NF >= 15 { found = 1; if (!($4 > 0)) exit 1 } END { if (!found) exit 1 }' "$work/throughput.txt" ||
  { echo "$0: throughput.sh timed dropix at 0 s" >&2; cat "$work/throughput.txt" >&2; exit 1; }
# Each ratio is dropix's time over the other command's: it must lie between the ratios the
# printed times allow (each rounded to a thousandth of a second, the ratio to a hundredth). A
# column shifted or a ratio taken the wrong way round shows here.
awk 'function off(r, a, b) { h = 0.0005; if (b - h <= 0) return 0
    return r < (a - h) / (b + h) - 0.005 || r > (a + h) / (b - h) + 0.005 }
  $1 == 1 && NF == 17 { found = 1; if (off($7, $4, $6) || off($9, $4, $8)) exit 1 }
  END { if (!found) exit 1 }' "$work/throughput.txt" ||
  { echo "$0: throughput.sh: a ratio does not follow from its times" >&2; cat "$work/throughput.txt" >&2; exit 1; }

"$here/throughput.sh" "$build" --linearity --rate 1 --lengths "1 2" --runs 1 >"$work/linearity.txt"
expect "throughput.sh --linearity" '^a run on the first 200 bytes \(one header block\): [0-9.]+ s$' "$work/linearity.txt"
# The longest length is its own reference; less the 200-byte run its ratio is "-" when one
# noisy run of it took no longer than the 200-byte run.
expect "throughput.sh --linearity" '^ +2 +[0-9.]+ +[0-9.]+ +[0-9.]+ +1\.000 +(1\.000|-) +[0-9]+ +[0-9]+ +1\.000$' "$work/linearity.txt"
expect "throughput.sh --linearity" '^ +1 +[0-9.]+ +[0-9.]+ +[0-9.]+ +([0-9.]+|-) +(-?[0-9.]+|-) ' "$work/linearity.txt"
expect "throughput.sh --linearity" '^least squares: -?[0-9.]+ s per minute and -?[0-9.]+ s per run$' "$work/linearity.txt"

# The figures themselves are noise, but the relative column follows from the printed costs
# per minute: each length's over the longest one's; and with one round, the round median is
# that round's ratio, the relative column again.
awk '$1 ~ /^[0-9]+$/ && NF == 9 { m[$1] = $4; rel[$1] = $5; med[$1] = $9; if ($1 + 0 > top) top = $1 + 0 }
  END {
    for (k in m) {
      if (!(m[k] > 0)) { printf "cost per minute %s for %s min\n", m[k], k; exit 1 }
      want = m[k] / m[top]; d = rel[k] - want; if (d < 0) d = -d
      if (d > 0.01 * want + 0.002) { printf "relative %s for %s min, costs per minute give %.3f\n", rel[k], k, want; exit 1 }
      d = med[k] - rel[k]; if (d < 0) d = -d
      if (d > 0.01 * rel[k] + 0.002) { printf "round median %s for %s min, relative %s\n", med[k], k, rel[k]; exit 1 }
    }
  }' "$work/linearity.txt" || { echo "$0: throughput.sh --linearity: a column is wrong" >&2; cat "$work/linearity.txt" >&2; exit 1; }

"$here/side_by_side.sh" "$build" "$build/dropix" --rates 1 --minutes 1 --runs 1 >"$work/side_by_side.txt"
expect side_by_side.sh '^ +1 +[0-9]+ +[1-9][0-9]* +([0-9.]+|-)$' "$work/side_by_side.txt"

"$here/paired.sh" "$build" "$build/dropix" "$build/dropix" --rate 1 --minutes 1 --pairs 1 >"$work/paired.txt"
expect paired.sh '^A median ([1-9][0-9]*\.[0-9]|0\.[1-9]) ms, B median ([1-9][0-9]*\.[0-9]|0\.[1-9]) ms$' "$work/paired.txt"
expect paired.sh '^median of B / A [0-9.]+; B faster in [01] of 1 pairs$' "$work/paired.txt"
"$here/many_files.sh" "$build" "$build/dropix" "$build/dropix" --rate 1 --minutes 1 --files 3 --jobs 2 --rounds 2 \
  >"$work/many_files.txt"
expect many_files.sh '^best: A [0-9.]+ ms \([0-9.]+ files a minute\), B [0-9.]+ ms \([0-9.]+ files a minute\)$' \
  "$work/many_files.txt"
# Each round's ratio is its B time over its A time, the median lies between the rounds'
# ratios, and each best time is the smaller of its two rounds.
awk '$1 ~ /^[12]$/ && NF == 4 { n++; d = $4 - $3 / $2; if (d < 0) d = -d; if (d > 0.002 + 0.001 * $4) bad = 1
    if (n == 1 || $4 < lo) lo = $4; if (n == 1 || $4 > hi) hi = $4
    if (n == 1 || $2 < ba) ba = $2; if (n == 1 || $3 < bb) bb = $3 }
  /^best: / { best_a = $3; best_b = $10 }
  /^median of B \/ A / { m = $NF }
  function near(x, y) { return x - y < 0.051 && y - x < 0.051 }
  END { exit !(n == 2 && !bad && m >= lo - 0.001 && m <= hi + 0.001 && near(best_a, ba) && near(best_b, bb)) }' \
  "$work/many_files.txt" ||
  { echo "$0: many_files.sh: a ratio or a best time does not follow from the rounds" >&2; cat "$work/many_files.txt" >&2; exit 1; }

# thread_split.sh needs perf allowed to sample this user's processes; without it, say so.
split="thread_split.sh skipped (perf cannot sample here)"
if command -v perf >/dev/null && perf stat -e task-clock true >/dev/null 2>&1 &&
   perf record -q -e cpu-clock -o "$work/probe.data" true >/dev/null 2>&1; then
  "$here/thread_split.sh" "$build" "$build/dropix" --rate 1 --minutes 1 --runs 1 >"$work/thread_split.txt"
  expect thread_split.sh '^ +1 +[0-9.]+ +[0-9.]+ +[0-9.]+ +[0-9.]+$' "$work/thread_split.txt"
  expect thread_split.sh '^both threads perfectly balanced: [0-9.]+ ms, ([0-9.]+|-) x zstd$' "$work/thread_split.txt"
  # The two threads' times are shares of the run's CPU time: the balanced figure is their mean.
  awk '$1 == "session" && $2 == "thread," { s = $4 } $1 == "writer" && $2 == "thread," { w = $4 }
    $1 == "both" { b = $5 }
    END { if (!(s > 0) || !(w >= 0)) exit 1; d = b - (s + w) / 2; if (d < 0) d = -d; exit d > 0.1 }' "$work/thread_split.txt" ||
    { echo "$0: thread_split.sh: the balanced time is not the threads' mean" >&2; cat "$work/thread_split.txt" >&2; exit 1; }
  split="thread_split.sh ran"
fi
echo "bench scripts: throughput.sh (both forms), side_by_side.sh, paired.sh and many_files.sh ran; $split"
