#!/usr/bin/env bash
# Runs an instrumented build of dropix on simulated rain, for the profile-guided build
# (cmake/pgo.cmake): light, moderate and hard rain, both matching modes.
#
#   tools/pgo-train.sh INSTRUMENTED_BUILD_DIR WORK_DIR
#
# The recordings are made in a new directory inside WORK_DIR and removed afterwards.
set -euo pipefail
[[ $# -eq 2 ]] || { echo "usage: $0 INSTRUMENTED_BUILD_DIR WORK_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(mktemp -d "$(cd "$2" && pwd)/train.XXXXXX")
trap 'rm -rf "$work"' EXIT

# shellcheck source=bench/recordings.sh
source "$(dirname "$0")/../bench/recordings.sh"

# train NAME SWITCH SIM_ARGS...: the instrumented dropix, with SWITCH when not empty, on the
# recording dropix-sim makes with SIM_ARGS (made once per NAME).
train() {
  local name=$1 mode=$2
  shift 2
  local dir=$work/$name
  simulate "$dir" "$@"
  rm -f "$dir"/out/V26342_1.*
  local switches=()
  [[ -z $mode ]] || switches=("$mode")
  (cd "$dir" && "$build/dropix" V26342_1.AB "${switches[@]}" >/dev/null)
}

train light "" --rain 5 --minutes 20 --seed 11
train moderate "" --rain 50 --minutes 15 --seed 12
train hard "" --rain 200 --minutes 8 --seed 13 --turbulence 0.2 --wind 5 --gust 1 --splashes 30 --close-pairs 2
train hard /m --rain 200 --minutes 8 --seed 13 --turbulence 0.2 --wind 5 --gust 1 --splashes 30 --close-pairs 2
