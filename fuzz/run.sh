#!/bin/sh
# Fuzzes one target for SECONDS (default 60) with clang's libFuzzer, in its own build
# directory (build-fuzz) and on a copy of the target's seed corpus, so the repository corpus
# stays as it is. Findings are written to build-fuzz/TARGET-findings/.
#   fuzz/run.sh decmpr|session [SECONDS]
set -eu
target=${1:?target: decmpr or session}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
case "$target" in
  decmpr) max_len=4096 ;;
  session) max_len=16384 ;;
  *) echo "unknown target $target" >&2; exit 2 ;;
esac

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DDROPIX_FUZZ=ON -DDROPIX_TESTS=OFF >/dev/null
cmake --build "$build" --target "${target}_fuzz" -j2

work="$build/$target-corpus"
findings="$build/$target-findings"
rm -rf "$work"
mkdir -p "$work" "$findings"
cp "$root"/fuzz/corpus/"$target"/* "$work"/
"$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -max_len="$max_len" -timeout=20 \
  -artifact_prefix="$findings/" "$work"
