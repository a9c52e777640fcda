#!/usr/bin/env bash
# Runs the example hotfix bundle in examples/KB5001234 with the Linux build in a demo prefix, then
# with the Windows build under wine64 in a demo wine prefix, and prints both run logs and
# patch-info files; before each run the preflight reports what the launcher would do (as text on
# Linux, as JSON on Windows).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
bundle=examples/KB5001234
jobs=$(nproc)

show() {
  echo "-- run log ($1/drive_c/QOR_Updates_InstallOS.log):"
  cat "$1/drive_c/QOR_Updates_InstallOS.log"
  echo "-- patch-info file ($1/drive_c/Qor/server/patchinfo):"
  cat "$1/drive_c/Qor/server/patchinfo" 2>/dev/null || echo "(none)"
}

echo "== Linux build"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs" --target hotfix-launcher hotfix-preflight example_installer \
  >/dev/null
root=$PWD/build/demo/linux
rm -rf "$root"
mkdir -p "$root/drive_c/hotfix/KB5001234" "$root/drive_c/Qor/server"
cp build/linux/hotfix-launcher "$root/drive_c/hotfix/KB5001234/setup"
cp build/linux/example_installer "$root/drive_c/hotfix/KB5001234/KB5001234.exe"
cp "$bundle/Installer.ini" "$root/drive_c/hotfix/KB5001234/"
cp "$bundle/server.reg" "$root/HKLM.reg"
echo "-- preflight (hotfix-preflight $root/drive_c/hotfix/KB5001234):"
status=0
HOTFIX_LAUNCHER_PREFIX=$root build/linux/hotfix-preflight "$root/drive_c/hotfix/KB5001234" || status=$?
echo "preflight exit status: $status"
status=0
HOTFIX_LAUNCHER_PREFIX=$root "$root/drive_c/hotfix/KB5001234/setup" || status=$?
echo "exit status: $status"
show "$root"

echo
echo "== Windows build under wine64"
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 -j "$jobs" --target hotfix-launcher hotfix-preflight \
  example_installer >/dev/null
prefix=$PWD/build/demo/wineprefix
rm -rf "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all
wineboot -i >/dev/null 2>&1
mkdir -p "$prefix/drive_c/hotfix/KB5001234" "$prefix/drive_c/Qor/server"
cp build/windows-x64/hotfix-launcher.exe "$prefix/drive_c/hotfix/KB5001234/setup.exe"
cp build/windows-x64/example_installer.exe "$prefix/drive_c/hotfix/KB5001234/KB5001234.exe"
cp "$bundle/Installer.ini" "$prefix/drive_c/hotfix/KB5001234/"
# The launcher reads the registry as a 32-bit program, which sees SOFTWARE under Wow6432Node.
sed 's/\\SOFTWARE\\/\\SOFTWARE\\Wow6432Node\\/' "$bundle/server.reg" > "$prefix/drive_c/server.reg"
wine regedit /S 'C:\server.reg'
cp build/windows-x64/hotfix-preflight.exe "$prefix/drive_c/hotfix/KB5001234/"
echo "-- preflight (C:\hotfix\KB5001234\hotfix-preflight.exe --json, beside the launcher):"
status=0
wine 'C:\hotfix\KB5001234\hotfix-preflight.exe' --json | tr -d '\r' || status=$?
echo "preflight exit status: $status"
status=0
wine 'C:\hotfix\KB5001234\setup.exe' || status=$?
wineserver -w
echo "exit status: $status"
show "$prefix"
