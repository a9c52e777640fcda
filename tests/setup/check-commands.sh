#!/usr/bin/env bash
# Fails, naming the command, when a command listed in scripts/commands.txt is missing from the
# standard PATH or comes from no package that scripts/install-deps.sh installs (a listed package, a
# package they reach through Depends or Pre-Depends, or an Essential one: Recommends do not count),
# and when a script, CMake file or test calls a command that scripts/commands.txt does not list.
set -uo pipefail
cd "$(dirname "$0")/../.."
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mapfile -t listed < <(grep -v -E '^(#|$)' scripts/commands.txt)
problems=0
fail() {
  echo "FAIL: $*"
  problems=$((problems + 1))
}

# The installed packages: what each depends on (the first alternative of each group, which apt
# picks when none is installed), what each provides, and which are Essential.
declare -A depends provider reached
queue=()
while read -r kind name rest; do
  case $kind in
    depends) depends[$name]=$rest ;;
    provides) provider[$name]=$rest ;;
    essential) queue+=("$name") ;;
  esac
done < <(dpkg-query -W -f='${db:Status-Abbrev}\t${Package}\t${Essential}\t${Pre-Depends}, ${Depends}\t${Provides}\n' |
  awk -F '\t' '$1 ~ /^ii/ {
    n = split($4, groups, ",")
    line = "depends " $2
    for (i = 1; i <= n; i++) {
      sub(/\|.*/, "", groups[i]); sub(/\(.*/, "", groups[i]); sub(/:.*/, "", groups[i])
      gsub(/ /, "", groups[i])
      if (groups[i] != "") line = line " " groups[i]
    }
    print line
    n = split($5, virtuals, ",")
    for (i = 1; i <= n; i++) { sub(/\(.*/, "", virtuals[i]); gsub(/ /, "", virtuals[i]); print "provides " virtuals[i] " " $2 }
    if ($3 == "yes") print "essential " $2
  }')
mapfile -t -O "${#queue[@]}" queue < <(scripts/install-deps.sh --list)
while [ ${#queue[@]} -gt 0 ]; do
  name=${queue[0]}
  queue=("${queue[@]:1}")
  [ -n "${depends[$name]+set}" ] || name=${provider[$name]:-$name}
  [ -n "${reached[$name]:-}" ] && continue
  reached[$name]=1
  for next in ${depends[$name]:-}; do queue+=("$next"); done
done

# Each command's chain of links, from the PATH entry to the file it ends at.
declare -A chain owner
for command in "${listed[@]}"; do
  path=$(command -v "$command") || { fail "$command: not found on $PATH"; continue; }
  chain[$command]=$path
  while [ -L "$path" ]; do
    target=$(readlink "$path")
    [[ "$target" == /* ]] || target=$(dirname "$path")/$target
    path=$target
    chain[$command]+=" $path"
  done
done
# Who owns each step, under either spelling of Debian 12's merged /usr, in one dpkg query.
spellings=$(for path in ${chain[*]}; do
  echo "$path"
  sed -E 's#^/usr/(s?bin)/#/\1/#; t; s#^/(s?bin)/#/usr/\1/#' <<<"$path"
done | sort -u)
while IFS=$'\t' read -r path packages; do
  owner[$path]+=" $packages"
done < <(dpkg -S $spellings 2>/dev/null | grep -v '^diversion' |
  sed -E 's/^([^:]+(:[a-z0-9]+)?(, [^:]+(:[a-z0-9]+)?)*): /\1\t/' |
  awk -F '\t' '{ gsub(/:[a-z0-9]+/, "", $1); gsub(/,/, "", $1); p = $2
    sub("^/usr/bin/", "/bin/", p); sub("^/usr/sbin/", "/sbin/", p); print p "\t" $1 }')

for command in "${!chain[@]}"; do
  # Each step that a package owns must be owned by one that the list brings.
  owned=0
  for path in ${chain[$command]}; do
    key=$(sed -E 's#^/usr/(s?bin)/#/\1/#' <<<"$path")
    [ -n "${owner[$key]:-}" ] || continue
    owned=1
    brought=0
    for package in ${owner[$key]}; do [ -n "${reached[$package]:-}" ] && brought=1; done
    [ "$brought" -eq 1 ] ||
      fail "$command: $path comes from${owner[$key]}, which install-deps.sh does not bring"
  done
  [ "$owned" -eq 1 ] || fail "$command: no package owns $(command -v "$command")"
done

# The commands the project calls: the first word of each shell command, what CMake runs or
# compiles with, and the programs the test harnesses start. Words that name no program are not
# commands; builtins and the scripts' own functions are not external.
called() {
  local file
  local tree=(scripts cmake tests bench fuzz examples deploy packaging .ci CMakeLists.txt)
  for file in $(find "${tree[@]}" -name '*.sh' -o -path .ci/run); do
    # Comments and array literals hold no commands.
    sed -E 's/(^|[[:space:]])#.*//' "$file" |
      awk '/[A-Za-z0-9_]=\(/ && !/\$\(/ { skip = 1 } { if (!skip) print } /\)/ { skip = 0 }' | tr ';|&(`{' '\n' |
      awk -v f="$file" '{
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^(if|then|do|else|elif|while|until|!|exec|time|command|env|[A-Za-z_][A-Za-z0-9_]*=.*)$/) continue
          print $i "\t" f; break
        } }'
  done
  local cmake=$(find "${tree[@]}" -name '*.cmake' -o -name CMakeLists.txt)
  targets=" $(grep -h -o -E 'add_executable\([A-Za-z0-9_.+-]+' $cmake | cut -d'(' -f2 | tr '\n' ' ') "
  grep -h -o -E '(COMMAND|find_program\([A-Z_]+)[[:space:]]+[A-Za-z0-9][A-Za-z0-9_.+-]*' $cmake |
    awk -v targets="$targets" '{ if (index(targets, " " $NF " ") == 0) print $NF "\tCMake" }'
  grep -r -h -o -E --include='*.sh' 'CMAKE_[A-Z_]*COMPILER=[A-Za-z0-9_.+-]+' "${tree[@]}" | sed 's/.*=//; s/$/\tscripts/'
  for triple in $(grep -r -h -o -E 'HOTFIX_MINGW_TRIPLE [a-z0-9_-]+' cmake | cut -d' ' -f2); do
    grep -r -h -o -E '\$\{HOTFIX_MINGW_TRIPLE\}-[a-z+-]+' cmake | sed "s/.*}/$triple/; s/\$/\tcmake/"
  done
  grep -r -h -o -E 'RunProgram\(\{"[^"/]+"' tests bench | sed 's/.*"\(.*\)"/\1\ttests/'
}
while IFS=$'\t' read -r word where; do
  [[ "$word" =~ ^[A-Za-z0-9][A-Za-z0-9_.+-]*$ ]] || continue
  [[ " ${listed[*]} " == *" $word "* ]] && continue
  [ "$(type -t "$word")" = file ] || [[ "$where" != *.sh && "$where" != .ci/* ]] || continue
  grep -q -E "^$word\(\)" "$where" 2>/dev/null && continue
  fail "$word: called in $where but missing from scripts/commands.txt"
done < <(called | sort -u)

echo "${#listed[@]} commands checked, $problems problems"
[ "$problems" -eq 0 ]
