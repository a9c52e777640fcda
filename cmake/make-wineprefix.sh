#!/bin/sh
# Makes a fresh wine prefix for one test run, and waits until wine has written it out.
set -eu
prefix=$1
rm -rf "$prefix"
mkdir -p "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all
wineboot -i >/dev/null 2>&1
wineserver -w
test -f "$prefix/system.reg"
