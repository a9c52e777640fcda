#!/usr/bin/env bash
# A clean Debian 12 root (debootstrap's minbase and nothing more), where a package is installed as
# on a fresh server.
#
#   scripts/clean-root.sh run [--mount DIR]... COMMAND [ARG...]
#
# Runs COMMAND in the root as scripts/debian-root.sh describes, with the checkout and each DIR
# mounted at the same path. Every call starts from the clean root: it runs on an overlay whose
# changes go when the call ends.
set -euo pipefail
source "$(dirname "$0")/debian-root.sh"
read_run_arguments "$@"

suite=bookworm
packages=()
build_root() {
  local target=$1 mirror
  mirror=$(debian_mirror)
  [ -n "$mirror" ] || { echo "no Debian mirror in this machine's apt sources" >&2; return 1; }
  debootstrap --variant=minbase "$suite" "$target" "$mirror" >"$target.log" 2>&1 ||
    { tail -n 20 "$target.log" >&2; return 1; }
  chroot "$target" apt-get clean
}

make_root clean-root
enter_root "$root" fresh
