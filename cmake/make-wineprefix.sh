#!/bin/sh
# Makes a fresh wine prefix for one test run: wineboot, then a persistent wineserver so that the
# many short-lived test programs do not each pay for its start.
set -eu
prefix=$1
rm -rf "$prefix"
mkdir -p "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all
wineboot -i >/dev/null 2>&1
test -f "$prefix/system.reg"
