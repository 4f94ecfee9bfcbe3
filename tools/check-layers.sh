#!/bin/sh
# Checks that no folder of the decoder includes a folder above it. The layers, from the top:
#   app > session > control, input, reconstruct, output > platform > common
# The stages (control, input, reconstruct, output) do not include each other; the reader and
# the kit stand beside the decoder and use only the shared formats, and the products use the
# reader.
# Prints every offending include and exits 1 when there is one.
set -eu
cd "$(dirname "$0")/.."
status=0
allowed() {
  case "$1" in
    common) echo "common" ;;
    platform) echo "common platform" ;;
    input) echo "common platform input" ;;
    reconstruct) echo "common reconstruct" ;;
    output) echo "common platform output" ;;
    control) echo "common platform control" ;;
    session) echo "common platform input reconstruct output control session" ;;
    app) echo "common platform session" ;;
    reader) echo "common reader" ;;
    kit) echo "common kit" ;;
    products) echo "common reader products" ;;
  esac
}
for folder in common platform input reconstruct output control session app reader kit products; do
  ok=$(allowed "$folder")
  for f in "$folder"/*.h "$folder"/*.cpp; do
    [ -e "$f" ] || continue
    for inc in $(sed -n 's/^#include "\([a-z_]*\)\/.*/\1/p' "$f"); do
      case " $ok " in
        *" $inc "*) ;;
        *) echo "$f includes $inc/, a folder it must not use"; status=1 ;;
      esac
    done
  done
done
exit $status
