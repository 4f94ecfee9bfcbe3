#!/usr/bin/env bash
# The reliability campaign, family by family, on one dropix executable: what a careful
# operator would do to a station's files, and whether the files end as those of one
# uninterrupted run. Prints one line per case.
#   tools/campaign.sh DROPIX DROPIX_SIM [WORK_DIR]
# Needs the right to mount a small tmpfs for the full-disk case (skipped otherwise).
set -uo pipefail
dropix=$(realpath "$1")
sim=$(realpath "$2")
work=${3:-$(mktemp -d)}
mkdir -p "$work"
cd "$work"

"$sim" --rain 20 --minutes 6 --seed 9 --turbulence 0.2 --out rec.AB --truth rec_truth.csv --quiet
"$sim" --calibrate --out corrfact.dat --quiet
"$sim" --settings out/ --quiet
raw_size=$(stat -c %s rec.AB)

# A fresh directory with settings, corrections and the raw file (or a part of it).
fresh() {
  rm -rf "$1" && mkdir -p "$1/out" && cp corrfact.dat DROPIX.SET "$1/"
  if [ -n "${2:-}" ]; then head -c "$2" rec.AB > "$1/V26342_1.AB"; else cp rec.AB "$1/V26342_1.AB"; fi
}
run() { (cd "$1" && timeout 60 "$dropix" V26342_1.AB > /dev/null 2>&1; echo $?); }
drops() { python3 - "$1" <<'EOF'
import struct, sys
d = open(sys.argv[1], 'rb').read() if __import__('os').path.exists(sys.argv[1]) else b''
at, n = 0, 0
while at + 2 <= len(d):
    t = struct.unpack('<h', d[at:at + 2])[0]
    if t == -74: at += 74; continue
    l = t & 0x7FF
    if t < 0 or l < 30: break
    n += 1; at += l
print(n)
EOF
}
same() { cmp -s "$1/out/V26342_1.hyd" ref/out/V26342_1.hyd && cmp -s "$1/out/V26342_1.hd" ref/out/V26342_1.hd &&
         cmp -s "$1/out/V26342_1.abh" ref/out/V26342_1.abh && echo "files of one run" || echo "files differ from one run"; }
report() { printf '%-4s %-58s status %-4s %s\n' "$1" "$2" "$3" "$4"; }

fresh ref; run ref > /dev/null
ref_drops=$(drops ref/out/V26342_1.hyd)
echo "reference: $ref_drops drops from $raw_size raw bytes"

# F1: .hyd complete, .abh left by an earlier flush.
fresh f1 $((raw_size / 2)); run f1 > /dev/null; cp f1/out/V26342_1.abh abh_half
cp rec.AB f1/V26342_1.AB; run f1 > /dev/null; cp abh_half f1/out/V26342_1.abh
s=$(run f1); report F1 "stale .abh beside a complete .hyd, rerun" "$s" "$(same f1)"
fresh f1b; cp ref/out/* f1b/out/; rm f1b/out/V26342_1.abh
s=$(run f1b); report F1 ".abh deleted beside a complete .hyd, rerun" "$s" "$(same f1b)"

# F2: a raw file still being written, run after each stretch.
lost=0; differ=0
for seq in $(seq 1 30); do
  fresh f2
  for cut in $(python3 -c "import random; r=random.Random($seq); print(*sorted(r.randrange(1,$raw_size) for _ in range(4)))"); do
    head -c "$cut" rec.AB > f2/V26342_1.AB; run f2 > /dev/null
  done
  cp rec.AB f2/V26342_1.AB; run f2 > /dev/null
  [ "$(same f2)" = "files of one run" ] || differ=$((differ + 1))
  lost=$((lost + ref_drops - $(drops f2/out/V26342_1.hyd)))
done
report F2 "raw file read while it grows, 30 sequences of 4 cuts" "-" "$differ differ, $lost drops lost"

# F3: disk full while writing, then space freed.
fresh f3; mkdir -p f3/small
if mount -t tmpfs -o size=4m tmpfs f3/small 2>/dev/null; then
  "$sim" --settings small/ --out f3/DROPIX.SET --quiet
  head -c $((4096 * 1024 - 600 * 1024)) /dev/zero > f3/small/filler
  s=$(run f3); rm f3/small/filler; s2=$(run f3)
  report F3 "disk full, then space freed and rerun" "$s/$s2" "$((ref_drops - $(drops f3/small/V26342_1.hyd))) drops missing"
  umount f3/small
else
  report F3 "disk full (no tmpfs can be mounted here)" "-" "skipped"
fi

# F4: two runs at once on the same outputs.
fresh f4
(cd f4 && "$dropix" V26342_1.AB > /dev/null 2>&1; echo $? > st1) &
(cd f4 && "$dropix" V26342_1.AB > /dev/null 2>&1; echo $? > st2) &
wait
report F4 "two runs at once on the same outputs" "$(cat f4/st1)/$(cat f4/st2)" "$(drops f4/out/V26342_1.hyd) of $ref_drops drops, $(same f4)"

# F5: .hyd deleted, or cut to half, while .hd and .abh remain.
fresh f5; cp ref/out/* f5/out/; rm f5/out/V26342_1.hyd
s=$(run f5); report F5 ".hyd deleted after a complete run, rerun" "$s" "$(drops f5/out/V26342_1.hyd) of $ref_drops drops, $(same f5)"
fresh f5b; cp ref/out/* f5b/out/; head -c $(($(stat -c %s ref/out/V26342_1.hyd) / 2)) ref/out/V26342_1.hyd > f5b/out/V26342_1.hyd
s=$(run f5b); report F5 ".hyd cut to half, rerun" "$s" "$(drops f5b/out/V26342_1.hyd) of $ref_drops drops, $(same f5b)"

# F6: .abh overwritten with garbage after an interrupted run.
fresh f6 $((raw_size / 3)); run f6 > /dev/null; cp rec.AB f6/V26342_1.AB
head -c 11544 /dev/urandom > f6/out/V26342_1.abh
s=$(run f6); report F6 ".abh garbage after an interrupted run, rerun" "$s" "$(drops f6/out/V26342_1.hyd) of $ref_drops drops, $(same f6)"

# F7: a raw file larger than 4 GiB (sparse: foreign blocks of the longest body).
fresh f7; python3 - f7/V26342_1.AB <<'EOF'
import struct, sys
with open(sys.argv[1], 'r+b') as f:
    at = f.seek(0, 2)
    while at < 0x100000000 + 5000:
        f.seek(at); f.write(struct.pack('<hh', 7, 32767)); at += 32771
    f.seek(at); f.write(struct.pack('<hh', 7, 0))
EOF
s=$(run f7); report F7 "raw file past 4 GiB" "$s" "$(grep -c 'resume tables address' f7/DROPIX.ERR) message(s) on it; $(drops f7/out/V26342_1.hyd) drops"

# F8: a repeated header with the same valid_since but another line frequency.
fresh f8; python3 - f8/V26342_1.AB <<'EOF'
import struct, sys
d = bytearray(open(sys.argv[1], 'rb').read())
at, headers = 0, []
while at + 4 <= len(d):
    t, n = struct.unpack('<hh', d[at:at + 4])
    if t == 3: headers.append(at)
    at += 4 + n
if len(headers) > 1: d[headers[1] + 4 + 6:headers[1] + 4 + 14] = struct.pack('<d', float('nan'))
open(sys.argv[1], 'wb').write(d)
EOF
run f8 > /dev/null; cp f8/out/V26342_1.hd hd_first; cp f8/out/V26342_1.abh abh_first; s=$(run f8)
cmp -s hd_first f8/out/V26342_1.hd && cmp -s abh_first f8/out/V26342_1.abh && r="rerun leaves .hd and .abh as they were" ||
  r="rerun changes .hd or .abh"
report F8 "repeated header with the line frequency nan" "$s" "$r; $(grep -c 'line frequency nan' f8/DROPIX.ERR) message(s)"

# F9: the raw file is a FIFO.
fresh f9; rm f9/V26342_1.AB; mkfifo f9/V26342_1.AB
s=$(cd f9 && timeout 5 "$dropix" V26342_1.AB > /dev/null 2>&1; echo $?)
report F9 "raw file is a FIFO (5 s limit)" "$s" "$([ "$s" = 124 ] && echo hangs || echo ends)"

# F10: correction file with nan, or cut after 5 lines.
fresh f10; sed -i '5s/^\(.\{10\}\).\{7\}/\1    nan/' f10/corrfact.dat
s=$(run f10); report F10 "corrfact.dat with nan in a value" "$s" "$(drops f10/out/V26342_1.hyd) drops written"
fresh f10b; head -n 5 corrfact.dat > f10b/corrfact.dat
s=$(run f10b); report F10 "corrfact.dat cut after 5 lines" "$s" "$(drops f10b/out/V26342_1.hyd) drops written"
