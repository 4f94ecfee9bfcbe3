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

# ratio A B [PLACES]: A / B (bc expressions) to PLACES places (3 unless given), or "-" when B
# is not above zero, as a time of a very short recording can be.
ratio() {
  local b
  b=$(echo "$2" | bc -l)
  if (($(echo "$b > 0" | bc -l))); then printf "%.${3:-3}f" "$(echo "($1) / $b" | bc -l)"; else printf -- '-'; fi
}
