# Simulated recordings for the bench scripts, each in a directory of its own with the
# instrument's corrections and settings, made once and reused, and the one way the scripts
# print a ratio of two figures. Sourced; needs $build (a build directory with dropix-sim)
# and $work (where the recordings are kept).

# simulate DIR SIM_ARGS...: the raw file dropix-sim makes with SIM_ARGS, in DIR.
simulate() {
  local dir=$1
  shift
  [[ -f $dir/V26342_1.AB ]] && return
  mkdir -p "$dir/out"
  (cd "$dir" && "$build/dropix-sim" "$@" --out V26342_1.AB --quiet \
    && "$build/dropix-sim" --calibrate --out corrfact.dat --quiet \
    && "$build/dropix-sim" --settings out/ --quiet \
    && rm -f V26342_1_truth.csv V26342_1_summary.txt)
}

# The clock of every timing: bash's $EPOCHREALTIME, read where the script stands. Reading it
# with `$(date ...)` after a command would count the start of `date` (about a millisecond
# here) as the command's, which weighs on short runs and on the fixed part of a run.
[[ -n ${EPOCHREALTIME:-} ]] || { echo "$0: needs bash 5 or later (EPOCHREALTIME)" >&2; exit 1; }

# us_between T0 T1: microseconds between two readings of $EPOCHREALTIME (its decimal point
# follows the locale, so every character that is not a digit is dropped).
us_between() { echo $((${2//[!0-9]/} - ${1//[!0-9]/})); }

# us_to_s US: microseconds as seconds, to the tenth of a millisecond.
us_to_s() { echo "scale=4; $1 / 1000000" | bc -l; }

# timed_us CMD...: runs CMD with its standard output discarded and prints the microseconds it
# took; the exit status is CMD's. timed_s prints seconds instead.
timed_us() {
  local t0 t1 status=0
  t0=$EPOCHREALTIME
  "$@" >/dev/null || status=$?
  t1=$EPOCHREALTIME
  us_between "$t0" "$t1"
  return "$status"
}
timed_s() {
  local us
  us=$(timed_us "$@") || return
  us_to_s "$us"
}

# recording RATE MINUTES: RATE mm/h over MINUTES (seed 1) with a copy of the raw file
# compressed by zstd at its default level; prints the directory.
recording() {
  local dir="$work/r$1-m$2"
  simulate "$dir" --rain "$1" --minutes "$2" --seed 1
  [[ -f $dir/V26342_1.AB.zst ]] || zstd -q -f "$dir/V26342_1.AB" -o "$dir/V26342_1.AB.zst"
  echo "$dir"
}

# header_only DIR: a recording of the first 200 bytes of the raw file in DIR (its first
# header block), with DIR's corrections and settings: what any run pays whatever its length.
# Prints its directory.
header_only() {
  local dir="$work/header-only"
  if [[ ! -f $dir/V26342_1.AB ]]; then
    mkdir -p "$dir/out"
    cp "$1/corrfact.dat" "$1/DROPIX.SET" "$dir/"
    head -c 200 "$1/V26342_1.AB" >"$dir/V26342_1.AB"
  fi
  echo "$dir"
}

# An awk function for the scripts' own awk programs (mawk has no asort): median(v, n) of
# v[1..n], which it sorts in place. Used as awk "$awk_median"' ...program...'.
awk_median='
  function median(v, n,   i, j, t) {
    for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }'

# ratio A B [PLACES]: A / B (bc expressions) to PLACES places (3 unless given), or "-" when B
# is not above zero, as a time of a very short recording can be.
ratio() {
  local b
  b=$(echo "$2" | bc -l)
  if (($(echo "$b > 0" | bc -l))); then printf "%.${3:-3}f" "$(echo "($1) / $b" | bc -l)"; else printf -- '-'; fi
}
