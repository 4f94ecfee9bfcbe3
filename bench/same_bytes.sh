#!/usr/bin/env bash
# Checks that two dropix builds give the same bytes: .hyd, .hd, .abh and the error log (less
# its start line), and the same exit status, on simulated recordings of every kind (light to
# torrential rain, wind and gusts with thousands of messages, two hours, a file cut inside a
# block, a file with flipped bits) in both matching modes. For changes that must not change
# a byte, such as the speed work.
#
#   bench/same_bytes.sh BUILD_DIR DROPIX_BEFORE DROPIX_AFTER
#
# BUILD_DIR provides dropix-sim. WORK=DIR keeps and reuses the recordings. Exit status 1
# when any pair of runs differs.
set -euo pipefail
[[ $# -eq 3 ]] || { echo "usage: $0 BUILD_DIR DROPIX_BEFORE DROPIX_AFTER" >&2; exit 2; }
build=$(cd "$1" && pwd)
before=$(realpath "$2")
after=$(realpath "$3")
if [[ -n ${WORK:-} ]]; then work=$WORK; mkdir -p "$work"; else work=$(mktemp -d); trap 'rm -rf "$work"' EXIT; fi

# shellcheck source=bench/recordings.sh
source "$(dirname "$0")/recordings.sh"

derive() {  # NAME FROM: a copy of FROM's settings, the raw file made by the command on stdin
  local d=$work/$1 from=$work/$2
  [[ -f $d/V26342_1.AB ]] && return
  mkdir -p "$d/out"
  cp "$from/corrfact.dat" "$from/DROPIX.SET" "$d/"
  python3 -c "$(cat)" "$from/V26342_1.AB" "$d/V26342_1.AB"
}
simulate "$work/r1" --rain 1 --minutes 30 --seed 1
simulate "$work/r10" --rain 10 --minutes 30 --seed 2
simulate "$work/r50" --rain 50 --minutes 30 --seed 3
simulate "$work/r200" --rain 200 --minutes 30 --seed 4
simulate "$work/wind50" --rain 50 --minutes 20 --seed 5 --turbulence 0.2 --wind 5
simulate "$work/gusts200" --rain 200 --minutes 10 --seed 6 --turbulence 0.2 --wind 5 --gust 1 --bursts 20 --splashes 30 --close-pairs 2
simulate "$work/long50" --rain 50 --minutes 120 --seed 1
derive cut200 r200 <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
open(sys.argv[2], 'wb').write(data[:7777777])
PY
derive flipped50 r50 <<'PY'
import random, sys
data = bytearray(open(sys.argv[1], 'rb').read())
rng = random.Random(5)
for _ in range(40):
    data[rng.randrange(len(data))] ^= 1 << rng.randrange(8)
open(sys.argv[2], 'wb').write(data)
PY

# One run from fresh outputs; leaves the outputs and the log less its start lines in DIR/WHERE.
run() {  # PROGRAM WHERE MODE
  rm -f DROPIX.ERR && rm -rf out && mkdir out
  local status=0
  "$1" V26342_1.AB $3 >/dev/null 2>&1 || status=$?
  rm -rf "$2" && mkdir "$2" && cp out/* "$2"/ 2>/dev/null || true
  tail -n +3 DROPIX.ERR > "$2/log"
  echo "$status" > "$2/status"
}

differ=0
for mode in "" "/m"; do
  for name in r1 r10 r50 r200 wind50 gusts200 long50 cut200 flipped50; do
    cd "$work/$name"
    run "$before" was "$mode"
    run "$after" now "$mode"
    same=yes
    for f in V26342_1.hyd V26342_1.hd V26342_1.abh log status; do cmp -s "was/$f" "now/$f" || same=NO; done
    [[ $same == yes ]] || differ=1
    printf '%-10s %-3s status %s/%s  .hyd %10s bytes  %6s log lines  same: %s\n' "$name" "$mode" "$(cat was/status)" \
      "$(cat now/status)" "$(stat -c %s now/V26342_1.hyd 2>/dev/null || echo -)" "$(wc -l < now/log)" "$same"
  done
done
exit $differ
