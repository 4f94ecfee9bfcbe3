# Simulated recordings for the bench scripts, each in a directory of its own with the
# instrument's corrections and settings, made once and reused. Sourced; needs $build (a
# build directory with dropix-sim) and $work (where the recordings are kept).

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
