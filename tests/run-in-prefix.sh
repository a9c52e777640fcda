#!/bin/sh
# Runs a Linux test program from drive C of a fresh prefix, as the launcher runs from a bundle
# there: its own path and its current folder are then Windows paths on drive C.
#   run-in-prefix.sh PREFIX PROGRAM [ARG...]
set -eu
prefix=$1
program=$2
shift 2
rm -rf "$prefix"
mkdir -p "$prefix/drive_c"
cp "$program" "$prefix/drive_c/"
cd "$prefix/drive_c"
HOTFIX_LAUNCHER_PREFIX=$prefix exec "./$(basename "$program")" "$@"
