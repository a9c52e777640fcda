#!/usr/bin/env bash
# Lays out simulated hosts of the rollout on this machine, for the fleet test (fleet_test.sh) and
# scripts/try-fleet.sh:
#
#   make_host.sh registries DIR                            the example server's registries
#   make_host.sh wine-base BASE                            a new 64-bit Wine prefix to copy
#   make_host.sh linux PREFIX REGISTRY [ID...]             a Linux host: the launcher's prefix
#   make_host.sh windows PREFIX BASE REGISTRY [ID...]      a Windows host: a copy of BASE, with a
#                                                          Wine server of its own until "stop"
#   make_host.sh stop PREFIX...                            ends those Wine servers
#
# REGISTRY is HKEY_LOCAL_MACHINE as a .reg file in the form the Linux port reads (its HKLM.reg); a
# Windows host imports it where the launcher, a 32-bit program, reads it (SOFTWARE\Wow6432Node).
# "registries" writes three into DIR from examples/KB5001234/server.reg: server.reg as it is,
# patched.reg with the example hotfix's value set, pending.reg with a reboot pending.
# Each host's patch-info file, C:\Qor\server\patchinfo as the example server's registry places it,
# holds the IDs, one a line. A Windows host's copy links the files Wine never rewrites to BASE's
# (drive_c) and copies its registry files.
set -euo pipefail
export WINEDEBUG=-all
example=$(dirname "$0")/../../../examples/KB5001234/server.reg

patch_info() {
  mkdir -p "$1/drive_c/Qor/server"
  if [ $# -gt 1 ]; then printf '%s\r\n' "${@:2}"; fi > "$1/drive_c/Qor/server/patchinfo"
}

case ${1:-} in
  registries)
    mkdir -p "$2"
    cp "$example" "$2/server.reg"
    { cat "$example"
      printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleHotfix]\r\n"Installed"=dword:00000001\r\n'
    } > "$2/patched.reg"
    { cat "$example"
      printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending]\r\n'
    } > "$2/pending.reg"
    ;;
  wine-base)
    rm -rf "$2"
    mkdir -p "$2"
    export WINEPREFIX=$(realpath "$2") WINEARCH=win64
    wineboot -i >/dev/null 2>&1
    wineserver -w
    test -f "$2/system.reg"
    ;;
  linux)
    mkdir -p "$2"
    cp "$3" "$2/HKLM.reg"
    patch_info "$2" "${@:4}"
    ;;
  windows)
    # Wine takes an absolute prefix only.
    prefix=$(realpath -m "$2") base=$(realpath "$3") registry=$4
    rm -rf "$prefix"
    cp -al "$base" "$prefix"
    for file in "$base"/*.reg; do
      rm "$prefix/${file##*/}" && cp "$file" "$prefix/"
    done
    patch_info "$prefix" "${@:5}"
    export WINEPREFIX=$prefix
    wineserver -p
    # Imported from outside the prefix (drive Z is /), by the 64-bit reg.exe, which takes the
    # Wow6432Node paths as they stand.
    imported=$(mktemp)
    sed 's/^\(\[-\{0,1\}HKEY_LOCAL_MACHINE\\SOFTWARE\\\)/\1Wow6432Node\\/' "$registry" > "$imported"
    /usr/lib/wine/wine64 reg import "Z:${imported//\//\\}" >/dev/null 2>&1 ||
      { echo "make_host.sh: $prefix: the registry of $registry was not imported" >&2; exit 1; }
    rm "$imported"
    ;;
  stop)
    for prefix in "${@:2}"; do
      WINEPREFIX=$(realpath "$prefix") wineserver -k 2>/dev/null || true
    done
    ;;
  *)
    sed -n '2,10s/^# \{0,1\}//p' "$0" >&2
    exit 64
    ;;
esac
