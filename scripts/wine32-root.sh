#!/usr/bin/env bash
# A Debian 12 root with 32-bit Wine (i386 multiarch), where the 32-bit product runs as on 64-bit
# Windows (a win64 prefix, WoW64) and on 32-bit Windows (a win32 prefix). This machine's own dpkg
# never gets the i386 architecture; the root has it.
#
#   scripts/wine32-root.sh run COMMAND [ARG...]
#
# Makes the root when it is missing or its recipe changed (cached outside the source tree, in
# $HOTFIX_WINE32_ROOT_CACHE, default /var/cache/hotfix-launcher), then runs COMMAND inside it as
# root, in the current folder, in a private mount namespace with proc, sys, dev and the checkout
# (source and build trees) at the same path. The root's /tmp is a folder of the root itself and
# outlives each call, so the wineserver that one call starts serves the next ones too.
set -euo pipefail
[ "${1:-}" = run ] && [ $# -ge 2 ] || { echo "usage: $0 run COMMAND [ARG...]" >&2; exit 64; }
shift
checkout=$(cd "$(dirname "$0")/.." && pwd)
cache=${HOTFIX_WINE32_ROOT_CACHE:-/var/cache/hotfix-launcher}

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

# The root is named after a hash of its recipe; one process at a time makes it.
recipe=$( (declare -p suite packages; declare -f build_root) | sha256sum | cut -c1-16)
root=$cache/wine32-root-$recipe
mkdir -p "$cache"
exec 9>"$cache/wine32-root.lock"
flock 9
if [ ! -x "$root/usr/lib/wine/wine" ]; then
  echo "making the 32-bit Wine root in $root (a few minutes, once)" >&2
  find "$cache" -mindepth 1 -maxdepth 1 -name 'wine32-root-*' -exec rm -rf {} +
  build_root "$root.part"
  mv "$root.part" "$root"
fi
flock -u 9
exec 9>&-

unshare --mount --propagation private bash -c '
  set -e
  root=$1 checkout=$2 folder=$3
  shift 3
  # A mount point of its own, so that mounts stay private even when this runs inside a chroot.
  mount --bind "$root" "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /sys "$root/sys"
  mount --rbind /dev "$root/dev"
  mkdir -p "$root$checkout"
  mount --bind "$checkout" "$root$checkout"
  exec chroot "$root" /usr/bin/env HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd \"\$0\" && exec \"\$@\"" "$folder" "$@"' _ "$root" "$checkout" "$PWD" "$@"
