#!/bin/sh
# Makes a fresh wine prefix for one test run, and waits until wine has written it out:
# make-wineprefix.sh PREFIX [ARCH], ARCH win64 (the default) or win32.
set -eu
prefix=$1
export WINEARCH="${2:-win64}"
rm -rf "$prefix"
mkdir -p "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all
wineboot -i >/dev/null 2>&1
wineserver -w
test -f "$prefix/system.reg"
