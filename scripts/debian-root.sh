# Sourced by the scripts of this project's Debian 12 roots (scripts/wine32-root.sh,
# scripts/clean-root.sh), after they define the root's recipe: suite, packages and
# build_root TARGET. It makes the root when it is missing or its recipe changed (cached outside the
# source tree, in $HOTFIX_ROOT_CACHE, default /var/cache/hotfix-launcher) and runs a command in it:
#
#   SCRIPT run [--mount DIR]... COMMAND [ARG...]
#
# as root, in the current folder, in a private mount namespace with proc, sys, dev, the checkout
# (source and build trees) and each DIR (an absolute path: a build tree elsewhere, a test's work
# folder) at the same path.

# This machine's Debian mirror, as its apt sources name it.
debian_mirror() {
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources \
    2>/dev/null | grep -v '^ *#' | grep -o -E 'https?://[^ ]+/debian/?( |$)' | head -n 1 | tr -d ' ' || true
}

# Reads "run [--mount DIR]... COMMAND [ARG...]" into mounts and command.
read_run_arguments() {
  local usage="usage: $0 run [--mount DIR]... COMMAND [ARG...]"
  [ "${1:-}" = run ] || { echo "$usage" >&2; exit 64; }
  shift
  mounts=()
  while [ "${1:-}" = --mount ]; do
    [[ "${2:-}" == /* ]] || { echo "$usage (DIR an absolute path)" >&2; exit 64; }
    mounts+=("$2")
    shift 2
  done
  [ $# -ge 1 ] || { echo "$usage" >&2; exit 64; }
  command=("$@")
}

# Makes the root NAME-<hash of its recipe> under the cache when it is missing (one process at a
# time, removing the roots of older recipes) and sets root to it.
make_root() {
  local name=$1 cache=${HOTFIX_ROOT_CACHE:-/var/cache/hotfix-launcher} recipe
  recipe=$( (declare -p suite packages; declare -f build_root) | sha256sum | cut -c1-16)
  root=$cache/$name-$recipe
  mkdir -p "$cache"
  exec 9>"$cache/$name.lock"
  flock 9
  if [ ! -d "$root" ]; then
    echo "making the Debian root $root (a few minutes, once)" >&2
    find "$cache" -mindepth 1 -maxdepth 1 -name "$name-*" -exec rm -rf {} +
    build_root "$root.part"
    mv "$root.part" "$root"
  fi
  flock -u 9
  exec 9>&-
}

# Runs command in root: the root itself (layer "shared", whose changes stay), or a fresh overlay
# of it on a private tmpfs (layer "fresh", whose changes go when the command ends).
enter_root() {
  local root=$1 layer=$2 checkout
  checkout=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  unshare --mount --propagation private bash -c '
    set -e
    root=$1 layer=$2 checkout=$3 folder=$4 count=$5
    shift 5
    mounts=("${@:1:count}")
    shift "$count"
    if [ "$layer" = fresh ]; then
      # Each call has its own tmpfs on this folder, in its own mount namespace.
      layers=$root.layers
      mkdir -p "$layers"
      mount -t tmpfs tmpfs "$layers"
      mkdir "$layers/upper" "$layers/work" "$layers/root"
      mount -t overlay overlay -o "lowerdir=$root,upperdir=$layers/upper,workdir=$layers/work" \
        "$layers/root"
      root=$layers/root
    else
      # A mount point of its own, so that mounts stay private even when this runs inside a chroot.
      mount --bind "$root" "$root"
    fi
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mount --rbind /dev "$root/dev"
    for dir in "$checkout" "${mounts[@]}"; do
      mkdir -p "$root$dir"
      mount --bind "$dir" "$root$dir"
    done
    exec chroot "$root" /usr/bin/env HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
      bash -c "cd \"\$0\" && exec \"\$@\"" "$folder" "$@"' _ "$root" "$layer" "$checkout" "$PWD" \
    "${#mounts[@]}" "${mounts[@]}" "${command[@]}"
}
