#!/usr/bin/env bash
# Fails when the Messages table of docs/run-log.md lacks a fixed text that the launcher writes to
# the run log, or lists one that the code does not write. The texts are read from the core's
# sources: literal messages of WriteLogRecord and of the check's report(), the constants passed as
# a record's field, the settings records composed of a key and a suffix constant, and the
# snprintf formats that hold text, with each conversion shown as <n>. The table's entries are the
# backticked first cells of its rows.
set -uo pipefail
cd "$(dirname "$0")/../.."
page=docs/run-log.md
problems=0
fail() {
  echo "FAIL: $*"
  problems=$((problems + 1))
}

# The last string literal of a call (no literal here holds an escaped quote).
last_literal() { sed -E 's/.*"([^"]*)"[^"]*$/\1/'; }

# A setting's key by the name of its place in the list of keys of src/settings/settings.h.
setting_key() {
  local header names keys i
  header=$(tr '\n' ' ' <src/settings/settings.h)
  mapfile -t names < <(grep -o -E 'enum SettingKey \{[^}]*\}' <<<"$header" | grep -o -E '\bk[A-Za-z]+')
  mapfile -t keys < <(grep -o -E 'kSettingKeys\[[^]]*\] = \{[^}]*\}' <<<"$header" |
    grep -o -E '"[^"]*"' | tr -d '"')
  for i in "${!names[@]}"; do
    if [ "${names[$i]}" = "$1" ]; then echo "${keys[$i]:-}"; fi
  done
}

code_texts() {
  local file text
  for file in $(find src/driver src/settings src/launch src/check src/runlog src/patchinfo -name '*.cpp'); do
    text=$(tr '\n' ' ' <"$file")
    grep -o -E 'WriteLogRecord\([^;]*"[^"]*"\);' <<<"$text" | last_literal
    grep -o -E 'report\("[^"]*"\)' <<<"$text" | last_literal
    # A constant given as any field of a record: its value in the same file or its folder's header.
    local declared
    declared=$(cat "$file" "$(dirname "$file")"/*.h | tr '\n' ' ')
    for name in $(grep -o -E 'WriteLogRecord\([^;]*\);' <<<"$text" | grep -o -E '\bk[A-Z][A-Za-z]*' | sort -u); do
      grep -o -E "\b$name\[\] *= *\"[^\"]*\"" <<<"$declared" | last_literal
    done
    # The settings records: "<key> <suffix>" for the key the call names and each suffix constant
    # it may pass.
    grep -o -E 'RejectSetting\(location,[^;]*;' <<<"$text" | while read -r call; do
      key=$(setting_key "$(grep -o -E '\bk[A-Za-z]+Key\b' <<<"$call" | head -n 1)")
      for name in $(grep -o -E '\bk[A-Z][A-Za-z]*' <<<"$call" | grep -v 'Key$'); do
        echo "$key $(grep -o -E "\b$name\[\] *= *\"[^\"]*\"" <<<"$text" | last_literal)"
      done
    done
    # A format whose text becomes a record's message and holds more than conversions and blanks.
    grep -o -E 'snprintf\([A-Za-z]+,[^;"]*"[^"]*"' <<<"$text" | while read -r call; do
      buffer=$(sed -E 's/^snprintf\(([A-Za-z]+),.*/\1/' <<<"$call")
      grep -q -E "(WriteLogRecord\([^;]*|report\()\b$buffer\);" <<<"$text" || continue
      format=$(last_literal <<<"$call")
      [ -n "$(sed -E 's/%[a-z]+//g; s/ //g' <<<"$format")" ] && sed -E 's/%[a-z]+/<n>/g' <<<"$format"
    done
  done | grep -v '^$' | sort -u
}

page_texts() {
  sed -n -E '/^## Messages$/,/^## /p' "$page" | grep -o -E '^\| `[^`]*`' | sed -E 's/^\| `(.*)`$/\1/' |
    sort -u
}

mapfile -t in_code < <(code_texts)
mapfile -t in_page < <(page_texts)
[ "${#in_code[@]}" -ge 10 ] || fail "only ${#in_code[@]} texts read from the sources"
[ "${#in_page[@]}" -gt 0 ] || fail "$page: no Messages table"
declare -A listed written
for text in "${in_page[@]}"; do listed[$text]=1; done
for text in "${in_code[@]}"; do
  written[$text]=1
  [ -n "${listed[$text]:-}" ] || fail "missing from $page: '$text'"
done
for text in "${in_page[@]}"; do
  [ -n "${written[$text]:-}" ] || fail "in $page but not written by the code: '$text'"
done

echo "${#in_code[@]} texts in the code, ${#in_page[@]} in the page, $problems problems"
[ "$problems" -eq 0 ]
