#!/usr/bin/env bash
# Lays out a simulated fleet on this machine to try the rollout on, with the example bundle of
# examples/KB5001234: N hosts of the Linux port (a launcher prefix each) and M Windows hosts (a
# Wine prefix each, running the windows-x64 build; the ansible.windows modules are the test
# doubles of deploy/ansible/tests/wine), made by deploy/ansible/tests/make_host.sh as the fleet
# test makes its hosts. Every third host (counting the Linux ones first) has the hotfix already.
# It installs the packages that are missing (scripts/install-deps.sh), builds the programs it
# needs in build/linux and build/windows-x64 when they are not there, and prints the command that
# rolls the bundle out in waves of half the fleet (the collection's playbook
# hotfix.launcher.rollout, run from DIR, whose ansible.cfg names the collections) and where its
# report will be. The Linux hosts are staged root's: run it, and the rollout, as root.
#
#   scripts/try-fleet.sh [--linux N] [--windows M] DIR      (4 Linux and 2 Windows hosts by default)
#
# DIR must be new or empty, or a fleet this script laid out before, which it lays out anew.
# HOTFIX_LINUX_BUILD and HOTFIX_WINDOWS_BUILD name build trees elsewhere (as CMake's variables do).
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
make_host=$source/deploy/ansible/tests/make_host.sh
usage() {
  echo "usage: scripts/try-fleet.sh [--linux N] [--windows M] DIR" >&2
  exit 64
}
linux=4 windows=2 dir=
while [ $# -gt 0 ]; do
  case $1 in
    --linux) [[ "${2:-}" =~ ^[0-9]+$ ]] || usage; linux=$2; shift 2 ;;
    --windows) [[ "${2:-}" =~ ^[0-9]+$ ]] || usage; windows=$2; shift 2 ;;
    -h | --help) sed -n '2,16s/^# \{0,1\}//p' "$0"; exit 0 ;;
    -*) usage ;;
    *) [ -z "$dir" ] || usage; dir=$1; shift ;;
  esac
done
[ -n "$dir" ] && [ $((linux + windows)) -gt 0 ] || usage
dir=$(realpath -m "$dir")
if [ -e "$dir/.try-fleet" ]; then
  "$make_host" stop "$dir"/hosts/windows-* 2>/dev/null || true
  rm -rf "$dir"
elif [ -e "$dir" ] && [ -n "$(ls -A "$dir")" ]; then
  echo "try-fleet.sh: $dir is not empty, and no fleet of this script: name a new folder" >&2
  exit 1
fi
mkdir -p "$dir/bundles" "$dir/hosts"
touch "$dir/.try-fleet"

# The packages and the programs, where they are missing.
"$source/scripts/install-deps.sh"
linux_build=${HOTFIX_LINUX_BUILD:-$source/build/linux}
windows_build=${HOTFIX_WINDOWS_BUILD:-$source/build/windows-x64}
build() {
  local preset=$1 tree=$2
  shift 2
  for file in "$@"; do
    [ -f "$tree/$file" ] && continue
    echo "== building the $preset preset's programs"
    (cd "$source" && cmake --preset "$preset" -B "$tree" >/dev/null &&
      cmake --build "$tree" -j2 --target hotfix-launcher hotfix-preflight example_installer \
        $([ "$preset" = linux ] || echo relay_exit_code) >/dev/null)
    return
  done
}
[ "$linux" -eq 0 ] || build linux "$linux_build" hotfix-launcher hotfix-preflight example_installer
[ "$windows" -eq 0 ] || build windows-x64 "$windows_build" hotfix-launcher.exe hotfix-preflight.exe \
  example_installer.exe tests/relay_exit_code.exe

# The example bundle for each platform, with that platform's example installer.
for platform in linux windows; do
  mkdir -p "$dir/bundles/$platform/KB5001234"
  cp "$source/examples/KB5001234/Installer.ini" "$dir/bundles/$platform/KB5001234/"
done
[ "$linux" -eq 0 ] || cp "$linux_build/example_installer" "$dir/bundles/linux/KB5001234/KB5001234.exe"
[ "$windows" -eq 0 ] ||
  cp "$windows_build/example_installer.exe" "$dir/bundles/windows/KB5001234/KB5001234.exe"
"$make_host" registries "$dir/registry"

# The hosts, every third one with the hotfix installed and recorded; the Windows hosts' Wine
# servers end once they are made (wine starts one when the rollout runs a program).
host_state() {
  if [ $(($1 % 3)) -eq 0 ]; then echo "patched KB4000001 KB5001234"; else echo "server KB4000001"; fi
}
for i in $(seq 1 "$linux"); do
  read -r registry ids <<<"$(host_state "$i")"
  # shellcheck disable=SC2086
  "$make_host" linux "$dir/hosts/linux-$i" "$dir/registry/$registry.reg" $ids
done
if [ "$windows" -gt 0 ]; then
  echo "== making a Wine prefix for the Windows hosts (about half a minute)"
  "$make_host" wine-base "$dir/hosts/wine-base"
  for i in $(seq 1 "$windows"); do
    read -r registry ids <<<"$(host_state $((linux + i)))"
    # shellcheck disable=SC2086
    "$make_host" windows "$dir/hosts/windows-$i" "$dir/hosts/wine-base" "$dir/registry/$registry.reg" $ids
  done
  "$make_host" stop "$dir"/hosts/windows-*
fi

# The inventory and the settings of ansible-playbook run from DIR: the test doubles of
# ansible.windows ahead of the checkout's collection hotfix.launcher.
{
  echo "all:"
  echo "  vars:"
  echo "    ansible_python_interpreter: /usr/bin/python3"
  echo "    hotfix_results_dir: $dir/results"
  echo "    hotfix_poll: 1"
  echo "  children:"
  echo "    hotfix_fleet:"
  echo "      children:"
  if [ "$linux" -gt 0 ]; then
    echo "        hotfix_linux:"
    echo "          vars:"
    echo "            ansible_connection: local"
    echo "            hotfix_platform: linux"
    echo "            hotfix_bundle_src: $dir/bundles/linux/KB5001234"
    echo "            hotfix_linux_launcher: $linux_build/hotfix-launcher"
    echo "            hotfix_linux_preflight: $linux_build/hotfix-preflight"
    echo "          hosts:"
    for i in $(seq 1 "$linux"); do
      echo "            linux-$i: {hotfix_linux_prefix: $dir/hosts/linux-$i}"
    done
  fi
  if [ "$windows" -gt 0 ]; then
    echo "        hotfix_windows:"
    echo "          vars:"
    echo "            ansible_connection: hotfix_test.wine.wine"
    echo "            ansible_become: false"
    echo "            hotfix_platform: windows"
    echo "            hotfix_wine_relay: $windows_build/tests/relay_exit_code.exe"
    echo "            hotfix_bundle_src: $dir/bundles/windows/KB5001234"
    echo "            hotfix_windows_launcher_src: $windows_build/hotfix-launcher.exe"
    echo "            hotfix_windows_preflight_src: $windows_build/hotfix-preflight.exe"
    echo "          hosts:"
    for i in $(seq 1 "$windows"); do
      echo "            windows-$i: {hotfix_wine_prefix: $dir/hosts/windows-$i}"
    done
  fi
} > "$dir/fleet.yml"
cat > "$dir/ansible.cfg" <<EOF
[defaults]
inventory = fleet.yml
collections_path = $source/deploy/ansible/tests/wine:$source/deploy/collections
EOF

echo "The simulated fleet is in $dir: $linux Linux and $windows Windows hosts. Roll the example bundle out:"
echo
echo "    cd $dir && ansible-playbook hotfix.launcher.rollout -e hotfix_serial=50%"
echo
echo "The report is then $dir/results/KB5001234-<run id>/report.html."
