#!/usr/bin/env bash
# The hotfix_rollout role on a simulated fleet of Linux hosts on this machine (connection local,
# one launcher prefix each), rolled out with deploy/ansible/rollout.yml: each host's
# classification and summary line, the fetched run logs and patch-info files byte for byte, hosts
# left untouched, and a wave past max_fail_percentage that stops the rollout before the next one.
# Before that, the filter's unit cases, --syntax-check and ansible-lint --offline (which read the
# Windows tasks too; no Windows host runs them here).
#
#   fleet_test.sh WORK_DIR LAUNCHER PREFLIGHT INSTALLER
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
ansible_dir=$(dirname "$here")
examples=$(cd "$here/../../../examples/KB5001234" && pwd)
work=$1
launcher=$2
preflight=$3
installer=$4

rm -rf "$work"
mkdir -p "$work/tmp" "$work/bundles" "$work/prefixes" "$work/registry"
export ANSIBLE_LOCAL_TEMP=$work/tmp/local ANSIBLE_REMOTE_TEMP=$work/tmp/remote
export ANSIBLE_ASYNC_DIR=$work/tmp/async ANSIBLE_ROLES_PATH=$ansible_dir/roles
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_FORKS=6
problems=0
fail() {
  echo "FAIL: $*"
  problems=$((problems + 1))
}

echo "== filter cases"
python3 "$here/test_outcome.py"

echo "== syntax and lint"
(cd "$ansible_dir" &&
  ansible-playbook -i inventory.example.yml --syntax-check rollout.yml tests/syntax.yml &&
  ansible-lint --offline --nocolor rollout.yml inventory.example.yml roles/hotfix_rollout tests/syntax.yml)

# Bundles: the example bundle with the installer's behaviour chosen by RunParams.
bundle() {
  local dir=$work/bundles/$1/KB5001234
  mkdir -p "$dir"
  cp "$installer" "$dir/KB5001234.exe"
  sed "s|^RunParams=.*|RunParams=$2|" "$examples/Installer.ini" > "$dir/Installer.ini"
}
bundle ok '/quiet /mark'
bundle fails-1603 '/quiet /exit:1603'
bundle exits-3 '/quiet /exit:3'
bundle no-mark '/quiet'
bundle wants-reboot '/quiet /exit:3010'
bundle slow '/quiet /sleep:20000'
bundle bad-ini '/quiet /mark'
sed -i '/^RegKeyValue=/d' "$work/bundles/bad-ini/KB5001234/Installer.ini"

# Registries: the example's, with the hotfix's value set, and with a pending reboot.
cp "$examples/server.reg" "$work/registry/server.reg"
{ cat "$examples/server.reg"
  printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleHotfix]\r\n"Installed"=dword:00000001\r\n'
} > "$work/registry/patched.reg"
{ cat "$examples/server.reg"
  printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending]\r\n'
} > "$work/registry/pending.reg"
old_wait='1/2/2025 3:4:5 : KB5001234, C:\hotfix\KB5001234\ setup Exit code = 259'
old_banner='1/2/2025 3:4:5 : *********************   QOR: New OS Patch  *****************************,   '

# The fleet: host, group, bundle, registry, earlier run log, expected summary (preflight status,
# exit status, classification), and extra host variables.
fleet=(
  "patched-1    hotfix_fleet ok           patched - 2 - already_installed"
  "ok-1         hotfix_fleet ok           server  - 0 0 success"
  "fails-1603   hotfix_fleet fails-1603   server  - 0 67 failed"
  "pending      hotfix_fleet ok           pending - 3 - reboot_needed"
  "ok-2         hotfix_fleet ok           server  banner 0 0 success"
  "bad-ini      hotfix_fleet bad-ini      server  banner 1 - failed"
  "exits-3      hotfix_fleet exits-3      server  wait 0 3 failed"
  "check-fails  hotfix_fleet no-mark      server  - 0 0 failed"
  "wants-reboot hotfix_fleet wants-reboot server  - 0 194 reboot_needed"
  "ok-3         hotfix_fleet ok           server  - 0 0 success"
  "patched-2    hotfix_fleet ok           patched wait 2 - already_installed"
  "slow         hotfix_fleet slow         server  - 0 - still_running hotfix_async_timeout=2"
  "wave1-fails  hotfix_waves fails-1603   server  - 0 67 failed"
  "wave1-ok     hotfix_waves ok           server  - 0 0 success"
  "wave2-a      hotfix_waves ok           server  - - - -"
  "wave2-b      hotfix_waves ok           server  - - - -"
  "wave3-a      hotfix_waves ok           server  - - - -"
)
inventory=$work/fleet.yml
{
  echo "all:"
  echo "  vars:"
  echo "    ansible_connection: local"
  echo "    ansible_python_interpreter: /usr/bin/python3"
  echo "    hotfix_platform: linux"
  echo "    hotfix_linux_launcher: $launcher"
  echo "    hotfix_linux_preflight: $preflight"
  echo "    hotfix_poll: 1"
  echo "  children:"
} > "$inventory"
for group in hotfix_fleet hotfix_waves; do
  printf '    %s:\n      hosts:\n' "$group" >> "$inventory"
  for row in "${fleet[@]}"; do
    read -r host in_group variant registry earlier _ _ _ extra <<<"$row"
    [ "$in_group" = "$group" ] || continue
    prefix=$work/prefixes/$host
    mkdir -p "$prefix/drive_c/Qor/server"
    cp "$work/registry/$registry.reg" "$prefix/HKLM.reg"
    printf 'KB4000001\r\n' > "$prefix/drive_c/Qor/server/patchinfo"
    case $earlier in
      wait) printf '%s\r\n' "$old_wait" > "$prefix/drive_c/QOR_Updates_InstallOS.log" ;;
      banner) printf '%s\r\n' "$old_banner" > "$prefix/drive_c/QOR_Updates_InstallOS.log" ;;
    esac
    {
      echo "        $host:"
      echo "          hotfix_linux_prefix: $prefix"
      echo "          hotfix_bundle_src: $work/bundles/$variant/KB5001234"
      [ -z "$extra" ] || echo "          ${extra%%=*}: ${extra#*=}"
    } >> "$inventory"
  done
done
cp -r "$work/prefixes" "$work/prefixes-before"

# Runs rollout.yml on one group into results/<group>; its output goes to results/<group>.out.
rollout() {
  local group=$1 serial=$2 max_fail=$3 status=0
  ansible-playbook -i "$inventory" "$ansible_dir/rollout.yml" -e "hotfix_fleet_group=$group" \
    -e "hotfix_serial=$serial" -e "hotfix_max_fail_percentage=$max_fail" \
    -e "hotfix_summary_dir=$work/results/$group" > "$work/results-$group.out" 2>&1 || status=$?
  sed -n '/^PLAY RECAP/,$p' "$work/results-$group.out"
  echo "-- $work/results/$group/summary.jsonl"
  cat "$work/results/$group/summary.jsonl" 2>/dev/null || true
  # Failed hosts end a run with 2; anything else is a fault of the run itself.
  [ "$status" -eq 2 ] || { cat "$work/results-$group.out"; fail "$group: ansible-playbook exited with $status"; }
}

echo "== rollout of hotfix_fleet: waves of 6, no failure limit"
start=$(date +%s)
rollout hotfix_fleet 6 100
echo "== rollout of hotfix_waves: waves of 2, max_fail_percentage 0"
rollout hotfix_waves 2 0
echo "(both rollouts: $(($(date +%s) - start)) s)"

# Each attempted host's summary line, and the hosts that were never attempted.
for group in hotfix_fleet hotfix_waves; do
  results=$work/results/$group
  expected=$(for row in "${fleet[@]}"; do
    read -r host in_group _ _ _ pre status class _ <<<"$row"
    if [ "$in_group" = "$group" ] && [ "$class" != - ]; then
      printf '%s\t%s\t%s\t%s\n' "$host" "$pre" "$status" "${class//_/ }"
    fi
  done | sort)
  actual=$(python3 "$here/summary_table.py" "$results/summary.jsonl") || fail "$group: summary unreadable"
  diff <(echo "$expected") <(echo "$actual") || fail "$group: summary lines differ (expected <, actual >)"
  diff <(for row in "${fleet[@]}"; do
    read -r host in_group _ _ _ _ _ class _ <<<"$row"
    if [ "$in_group" = "$group" ] && [ "$class" = - ]; then echo "$host"; fi
  done) "$results/not-attempted.txt" ||
    fail "$group: not-attempted.txt differs (expected <, actual >)"
done

# Files per host: fetched copies equal the host's files; untouched hosts are as they were.
for row in "${fleet[@]}"; do
  read -r host group _ registry _ pre _ class _ <<<"$row"
  prefix=$work/prefixes/$host
  fetched=$work/results/$group/hosts/$host
  log=$prefix/drive_c/QOR_Updates_InstallOS.log
  patchinfo=$prefix/drive_c/Qor/server/patchinfo
  case $class in
    success | already_installed | -)
      [ ! -e "$fetched" ] || fail "$host: files fetched from a host that did not fail" ;;
    *)
      for file in "$log" "$patchinfo"; do
        if [ -e "$file" ]; then
          cmp "$file" "$fetched/$(basename "$file")" || fail "$host: fetched $(basename "$file") differs"
        else
          [ ! -e "$fetched/$(basename "$file")" ] || fail "$host: fetched a file the host lacks"
        fi
      done ;;
  esac
  case $class in
    success)
      [ "$(cat "$patchinfo")" = $'KB4000001\r\nKB5001234\r' ] || fail "$host: patch-info file lacks KB5001234" ;;
    -)
      [ ! -e "$log" ] && [ ! -e "$prefix/drive_c/hotfix" ] || fail "$host: touched in a wave never reached" ;;
  esac
  if [ "$pre" != 0 ] && [ "$pre" != - ]; then
    diff -r "$work/prefixes-before/$host" "$prefix" --exclude=hotfix >/dev/null ||
      fail "$host: preflight $pre, yet more than the bundle changed"
  fi
done

echo "$problems problems"
[ "$problems" -eq 0 ]
