#!/usr/bin/env bash
# Fails, naming the value, when docs/exit-status.md has no row for a status that the launcher or the
# preflight returns by itself. The launcher's are the numbers and constants its run returns, and the
# wait's kStillActive; each row must also give the Linux status, the low 8 bits. The preflight's are
# its kPreflight* constants; those of --state, in a table of their own, its kState* constants and
# the usage, output and cannot-tell statuses. A row is a table line whose first cell is the status
# in backticks.
set -uo pipefail
cd "$(dirname "$0")/../.."
page=docs/exit-status.md
problems=0
fail() {
  echo "FAIL: $*"
  problems=$((problems + 1))
}

# The value of an integer constant declared "<name> = <number>;" in a header under src/.
constant_value() {
  grep -r -h -o -E --include='*.h' "\b$1 = -?[0-9]+;" src | head -n 1 | sed -E 's/.* = (-?[0-9]+);/\1/'
}

# The launcher: what its run returns, by number or by name. An installer's own code passes through
# as a variable; the one code the launcher makes of the wait is kStillActive.
launcher=()
for name in $(cat src/driver/driver.cpp src/launch/launch.cpp src/launcher/entry_posix.cpp |
  grep -o -E 'return (-?[0-9]+|k[A-Za-z]+);' | sed -E 's/return (.*);/\1/' | sort -u) kStillActive; do
  if [[ "$name" == k* ]]; then
    value=$(constant_value "$name")
    [ -n "$value" ] || { fail "$name: no value found under src/"; continue; }
    launcher+=("$value")
  else
    launcher+=("$name")
  fi
done

mapfile -t preflight < <(grep -o -E 'kPreflight[A-Za-z]+ = -?[0-9]+;' src/preflight/preflight.h |
  sed -E 's/.* = (-?[0-9]+);/\1/')
# --state's own statuses: its kState* constants and the preflight's usage, output and cannot-tell.
mapfile -t state < <(grep -o -E 'k(State[A-Za-z]+|Preflight(Usage|OutputFailed|CannotTell)) = -?[0-9]+;' \
  src/preflight/preflight.h | sed -E 's/.* = (-?[0-9]+);/\1/')
[ "${#launcher[@]}" -gt 2 ] || fail "too few launcher statuses read from the sources: ${launcher[*]}"
[ "${#state[@]}" -gt 3 ] || fail "no kState constants read from src/preflight/preflight.h"
[ "${#preflight[@]}" -gt 2 ] || fail "no kPreflight constants read from src/preflight/preflight.h"

# The page's two halves: the launcher's up to the preflight's heading, the preflight's after it.
heading='^## hotfix-preflight$'
grep -q -E "$heading" "$page" || fail "$page: no heading '## hotfix-preflight'"
state_heading='^### hotfix-preflight --state$'
grep -q -E "$state_heading" "$page" || fail "$page: no heading '### hotfix-preflight --state'"
launcher_half=$(sed -E "/$heading/,\$d" "$page")
preflight_half=$(sed -n -E "/$heading/,\$p" "$page" | sed -E "/$state_heading/,\$d")
state_part=$(sed -n -E "/$state_heading/,\$p" "$page")

rows() { grep -E "^\| \`$2\` \|" <<<"$1"; }
for value in $(printf '%s\n' "${launcher[@]}" | sort -u); do
  linux=$((value & 255))
  found=$(rows "$launcher_half" "$value")
  if [ -z "$found" ]; then
    fail "launcher status $value: no row in $page"
  elif ! grep -q -F "\`$linux\`" <<<"$found"; then
    fail "launcher status $value: its row does not give the Linux status \`$linux\`"
  fi
done
for value in "${preflight[@]}"; do
  [ -n "$(rows "$preflight_half" "$value")" ] || fail "preflight status $value: no row in $page"
done
for value in "${state[@]}"; do
  [ -n "$(rows "$state_part" "$value")" ] || fail "--state status $value: no row in $page"
done

echo "launcher statuses: $(printf '%s\n' "${launcher[@]}" | sort -u | tr '\n' ' ')"
echo "preflight statuses: ${preflight[*]}"
echo "--state statuses: ${state[*]}"
echo "$problems problems"
[ "$problems" -eq 0 ]
