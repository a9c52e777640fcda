#!/usr/bin/env bash
# Prints the environment that runs the rollout's Windows task files against simulated Windows
# hosts (Wine prefixes, see the role's README): the test doubles of ansible.windows and the
# connection hotfix_test.wine.wine (this folder) ahead of the collection hotfix.launcher, and the
# relay of a windows-x64 build that hands back a program's full exit code.
#
#   eval "$(deploy/ansible/tests/wine/env.sh [WINDOWS_X64_BUILD])"    (default: build/windows-x64)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../../../build/windows-x64}" && pwd)
relay=$build/tests/relay_exit_code.exe
[ -f "$relay" ] || { echo "env.sh: no $relay: build the windows-x64 preset" >&2; exit 1; }
printf 'export %s=%q\n' ANSIBLE_COLLECTIONS_PATH "$here:$(cd "$here/../../../collections" && pwd)" \
  HOTFIX_WINE_RELAY "$relay" WINEDEBUG -all
