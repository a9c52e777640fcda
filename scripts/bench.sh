#!/usr/bin/env bash
# Builds the launcher as the linux preset does, its Windows build (windows-x64 preset) and the
# benchmark programs in bench/, measures the launcher's own cost next to its floor, and prints one
# table (Markdown): what, the launcher's figure, the baseline's, their ratio, the target.
# Every baseline is measured in the same run, interleaved with the launcher (see bench/README.md).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
dpkg-query -W -f='${Status}' libbenchmark-dev 2>/dev/null | grep -q 'install ok installed' || {
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends libbenchmark-dev >/dev/null
}
jobs=$(nproc)
out=$PWD/build/bench

echo "building..." >&2
cmake -S bench -B "$out/linux" >/dev/null
cmake --build "$out/linux" -j "$jobs" --target hotfix-launcher noop_installer sleep_installer \
  minimal_spawner run_probe merge_driver bench_runner micro_bench >/dev/null
cmake --preset windows-x64 -B "$out/windows-x64" -DHOTFIX_BUILD_TESTS=OFF >/dev/null
cmake --build "$out/windows-x64" -j "$jobs" --target hotfix-launcher >/dev/null
# The trivial Windows program: a GUI-subsystem program, as the launcher is, that exits at once.
x86_64-w64-mingw32-gcc-posix -O2 -mwindows -static bench/noop_installer.c -o "$out/noop.exe"

# Wine runs against a persistent wineserver in a prefix of the benchmark's own.
prefix=$out/wineprefix
work=$out/work
rows=$(mktemp)
cleanup() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  rm -rf "$work" "$rows"
}
trap cleanup EXIT
rm -rf "$work"
cmake/make-wineprefix.sh "$prefix"
WINEPREFIX=$prefix WINEDEBUG=-all wineserver -p

echo "measuring (about two minutes)..." >&2
linux=$out/linux
"$linux/bench_runner" --launcher="$linux/hotfix/hotfix-launcher" --noop="$linux/noop_installer" \
  --sleeper="$linux/sleep_installer" --spawner="$linux/minimal_spawner" \
  --probe="$linux/run_probe" --merge-driver="$linux/merge_driver" --work="$work" \
  --wine-prefix="$prefix" --wine-launcher="$out/windows-x64/hotfix-launcher.exe" \
  --wine-noop="$out/noop.exe" >>"$rows"
"$linux/micro_bench" >>"$rows"

echo "| what | launcher | baseline | ratio | target |"
echo "| --- | ---: | ---: | ---: | --- |"
sort -s -t $'\t' -k1,1.2 "$rows" | awk -F '\t' '{ printf "| %s | %s | %s | %s | %s |\n", $1, $2, $3, $4, $5 }'
