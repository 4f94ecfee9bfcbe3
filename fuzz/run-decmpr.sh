#!/bin/sh
# Fuzzes the line-block decoder for SECONDS (default 60) with clang's libFuzzer, in its own
# build directory (build-fuzz) and on a copy of the seed corpus, so the repository corpus
# stays as it is. Findings are written to build-fuzz/decmpr-findings/.
#   fuzz/run-decmpr.sh [SECONDS]
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DDROPIX_FUZZ=ON -DDROPIX_TESTS=OFF >/dev/null
cmake --build "$build" --target decmpr_fuzz -j2

work="$build/decmpr-corpus"
findings="$build/decmpr-findings"
rm -rf "$work"
mkdir -p "$work" "$findings"
cp "$root"/fuzz/corpus/decmpr/* "$work"/
"$build/fuzz/decmpr_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -artifact_prefix="$findings/" "$work"
