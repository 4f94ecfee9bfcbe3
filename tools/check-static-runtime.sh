#!/bin/sh
# Checks that a dropix executable carries its C++ runtime: of shared objects it needs only
# the C library's, which every machine that runs it has.
set -eu
command -v readelf >/dev/null || { echo "$0: readelf (binutils) is needed" >&2; exit 1; }
needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "$needed" | grep -q '^libc\.so' || { echo "$1: readelf lists no libc.so (not a dynamic executable?)" >&2; exit 1; }
if echo "$needed" | grep -Eq '^(libstdc\+\+|libgcc_s)'; then
  printf '%s needs the shared C++ runtime: %s\n' "$1" "$(echo "$needed" | tr '\n' ' ')" >&2
  exit 1
fi
