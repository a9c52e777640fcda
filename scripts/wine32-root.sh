#!/usr/bin/env bash
# A Debian 12 root with 32-bit Wine (i386 multiarch), where the 32-bit product runs as on 64-bit
# Windows (a win64 prefix, WoW64) and on 32-bit Windows (a win32 prefix). This machine's own dpkg
# never gets the i386 architecture; the root has it.
#
#   scripts/wine32-root.sh run [--mount DIR]... COMMAND [ARG...]
#
# Runs COMMAND in the root as scripts/debian-root.sh describes, with the checkout and each DIR
# mounted at the same path. The root's /tmp is a folder of the root itself and outlives each call,
# so the wineserver that one call starts serves the next ones too.
set -euo pipefail
source "$(dirname "$0")/debian-root.sh"
read_run_arguments "$@"

suite=bookworm
packages=(wine wine32 wine64 libstdc++6)
build_root() {
  local target=$1 mirror
  # The same Debian mirror this machine's apt uses.
  mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources \
    2>/dev/null | grep -v '^ *#' | grep -o -E 'https?://[^ ]+/debian/?( |$)' | head -n 1 | tr -d ' ' || true)
  [ -n "$mirror" ] || { echo "no Debian mirror in this machine's apt sources" >&2; return 1; }
  debootstrap --variant=minbase "$suite" "$target" "$mirror" >"$target.log" 2>&1 ||
    { tail -n 20 "$target.log" >&2; return 1; }
  cp /etc/resolv.conf "$target/etc/resolv.conf"
  chroot "$target" dpkg --add-architecture i386
  chroot "$target" apt-get update -qq
  chroot "$target" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${packages[@]}" >>"$target.log" 2>&1 ||
    { tail -n 20 "$target.log" >&2; return 1; }
  chroot "$target" apt-get clean
}

make_root wine32-root
enter_root "$root" shared
