#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (as root), skipping what is already there.
set -euo pipefail
packages=(cmake g++ make googletest libbenchmark-dev mingw-w64 wine64 valgrind clang
  libclang-rt-14-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
