#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (as root), skipping what is already there.
# scripts/install-deps.sh --list prints the packages; --release installs only what a release needs
# (scripts/release.sh). Every command the project calls is listed in scripts/commands.txt;
# tests/setup/check-commands.sh proves that these packages bring each one.
set -euo pipefail
# A release: the compilers, nettle (the Linux preflight's SHA-256), git for the commit's time and
# state, awk for the package's changelog, zip, the signing tools, and ansible for ansible-galaxy,
# which builds the Ansible collection.
release=(cmake g++ make nettle-dev mingw-w64 git mawk zip osslsigncode gpg gpg-agent ansible)
packages=(apt cmake g++ make googletest libbenchmark-dev mingw-w64 wine wine64 valgrind clang
  libclang-rt-14-dev debootstrap mawk mount nlohmann-json3-dev ansible ansible-lint chromium procps
  openssh-client)
# The release's test: lintian checks the package, diffoscope shows what differs between two
# releases, openssl makes a throwaway signing certificate.
packages+=("${release[@]}" lintian diffoscope openssl)
case ${1:-} in
  --list)
    printf '%s\n' "${packages[@]}" | sort -u
    exit 0
    ;;
  --release) packages=("${release[@]}") ;;
esac
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
[ "${1:-}" != --release ] || exit 0
unresolved=()
while read -r command; do
  PATH=/usr/sbin:/usr/bin:/sbin:/bin command -v "$command" >/dev/null || unresolved+=("$command")
done < <(grep -v -E '^(#|$)' "$(dirname "$0")/commands.txt")
if [ ${#unresolved[@]} -gt 0 ]; then
  echo "missing after the install: ${unresolved[*]}" >&2
  exit 1
fi
