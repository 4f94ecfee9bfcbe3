#!/usr/bin/env bash
# Installs the Debian packages DROPIX needs, if any is missing; quiet when none is.
#
#   tools/install-deps.sh          build, tests, products, quick-looks, the workflow and the
#                                  whole-run benchmark scripts (zstd, bc, time)
#   tools/install-deps.sh --ci     and the fuzzing tools of .ci/run
#   tools/install-deps.sh --check  only say what is missing (status 1 if anything is)
#
# Runs apt-get as root, or through sudo when that needs no password; otherwise prints the
# command to run. The README's two commands run it before configuring (DROPIX_INSTALL_DEPS
# in CMakePresets.json), and so does .ci/run.
set -euo pipefail

packages=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev
          libnetcdf-dev netcdf-bin libcli11-dev
          python3-xarray python3-netcdf4 python3-matplotlib snakemake
          zstd bc time)
check=0
for arg in "$@"; do
  case "$arg" in
    --ci) packages+=(clang libclang-rt-14-dev) ;;
    --check) check=1 ;;
    *) echo "usage: $0 [--ci] [--check]" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "DROPIX needs these Debian packages: ${missing[*]}" >&2
[ "$check" -eq 1 ] && exit 1
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
  as_root=(sudo)
else
  echo "Install them as root: apt-get install ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
