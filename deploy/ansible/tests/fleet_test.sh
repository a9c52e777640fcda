#!/usr/bin/env bash
# The hotfix_rollout role on simulated fleets of Linux hosts on this machine (connection local, one
# launcher prefix each; one host reached over SSH at a closed port), rolled out with
# deploy/ansible/playbooks/rollout.yml: a dry run and then the README's command on the 12-host fleet, a
# fleet of special cases, a canary, a fleet of one and --limit one host. It checks every host's
# one summary line and classification, the hosts not attempted, the kept files byte for byte,
# hosts left untouched, an installer killed at the async limit, and report.html in a real browser
# (with a screenshot). Before that, the filter's unit cases, --syntax-check and ansible-lint
# --offline (which read the Windows tasks too; no Windows host runs them here).
#
#   fleet_test.sh WORK_DIR LAUNCHER PREFLIGHT INSTALLER
set -euo pipefail
# Debian's own programs first: its python3 has the modules the checks import.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH
here=$(cd "$(dirname "$0")" && pwd)
ansible_dir=$(dirname "$here")
examples=$(cd "$here/../../../examples/KB5001234" && pwd)
work=$1
launcher=$2
preflight=$3
installer=$4

rm -rf "$work"
mkdir -p "$work/tmp" "$work/bundles" "$work/prefixes" "$work/registry" "$work/results"
export ANSIBLE_LOCAL_TEMP=$work/tmp/local ANSIBLE_REMOTE_TEMP=$work/tmp/remote
export ANSIBLE_ASYNC_DIR=$work/tmp/async ANSIBLE_ROLES_PATH=$ansible_dir/roles
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_FORKS=12 ANSIBLE_PIPELINING=1
export ANSIBLE_HOST_KEY_CHECKING=0
problems=0
fail() {
  echo "FAIL: $*"
  problems=$((problems + 1))
}
start=$(date +%s)
elapsed() { echo "($(($(date +%s) - start)) s)"; }

echo "== filter cases, syntax and lint $(elapsed)"
python3 "$here/test_outcome.py"
(cd "$ansible_dir" &&
  ansible-playbook -i inventory.example.yml --syntax-check playbooks/rollout.yml tests/syntax.yml >/dev/null &&
  ansible-lint --offline --nocolor playbooks/rollout.yml inventory.example.yml roles/hotfix_rollout \
    tests/syntax.yml tests/reboot_double.yml)

# Bundles: the example bundle with the installer's behaviour chosen by RunParams.
bundle() {
  local dir=$work/bundles/$1/KB5001234
  mkdir -p "$dir"
  cp "$installer" "$dir/KB5001234.exe"
  sed "s|^RunParams=.*|RunParams=$2|" "$examples/Installer.ini" > "$dir/Installer.ini"
}
bundle ok '/quiet /mark'
bundle fails-1603 '/quiet /exit:1603'
printf '<script>alert("run log")</script>\r\nMSI (s) error 1603\r\n' \
  > "$work/bundles/fails-1603/KB5001234/installer-log.bin"
bundle wants-reboot '/quiet /exit:3010'
bundle not-applicable '/quiet /exit:2149842967'
bundle busy '/quiet /exit:1618'
bundle slow '/quiet /sleep:20000'
bundle bad-ini '/quiet /mark'
sed -i '/^RegKeyValue=/d' "$work/bundles/bad-ini/KB5001234/Installer.ini"
bundle no-ini '/quiet /mark'
rm "$work/bundles/no-ini/KB5001234/Installer.ini"
# The installer that finds another installation in progress once (1618, 82 on Linux), then works.
bundle retry-once '/quiet /mark'
printf '#!/bin/sh\nmarker="$HOTFIX_LAUNCHER_PREFIX/busy-once"\n[ -e "$marker" ] || { : > "$marker"; exit 82; }\nexec %s "$@"\n' \
  "$installer" > "$work/bundles/retry-once/KB5001234/KB5001234.exe"

# Registries: the example's, with the hotfix's value set, and with a pending reboot.
cp "$examples/server.reg" "$work/registry/server.reg"
{ cat "$examples/server.reg"
  printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleHotfix]\r\n"Installed"=dword:00000001\r\n'
} > "$work/registry/patched.reg"
{ cat "$examples/server.reg"
  printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending]\r\n'
} > "$work/registry/pending.reg"
banner='1/2/2025 3:4:5 : *********************   QOR: New OS Patch  *****************************,   '

# The fleets: host, group, bundle, registry, patch-info file (recorded: it holds the id), what
# else the host has, and its extra variables. hotfix_fleet's waves of 3 (the README's 25%) go:
# [patched-1 ok-1 wants-reboot] [ok-2 not-applicable unrecorded] [fails-1603 pending no-ini],
# whose failures pass 10%, so [bad-ini ok-3 ok-4] are never attempted.
fleet=(
  "patched-1      hotfix_fleet  ok             patched  recorded -"
  "ok-1           hotfix_fleet  ok             server   -        -"
  "wants-reboot   hotfix_fleet  wants-reboot   server   -        -"
  "ok-2           hotfix_fleet  ok             server   -        banner"
  "not-applicable hotfix_fleet  not-applicable server   -        -"
  "unrecorded     hotfix_fleet  ok             patched  -        -"
  "fails-1603     hotfix_fleet  fails-1603     server   -        -"
  "pending        hotfix_fleet  ok             pending  -        -"
  "no-ini         hotfix_fleet  no-ini         server   -        -"
  "bad-ini        hotfix_fleet  bad-ini        server   -        -"
  "ok-3           hotfix_fleet  ok             server   -        -"
  "ok-4           hotfix_fleet  ok             server   -        -"
  "unreachable    hotfix_cases  ok             server   -        - ansible_connection=ssh ansible_host=127.0.0.1 ansible_port=1"
  "no-preflight   hotfix_cases  ok             server   -        - hotfix_linux_preflight=$work/missing/hotfix-preflight"
  "killed         hotfix_cases  slow           server   -        - hotfix_async_timeout=2 hotfix_allow_kill=true"
  "short-limit    hotfix_cases  ok             server   -        - hotfix_async_timeout=60"
  "retry-once     hotfix_cases  retry-once     server   -        - hotfix_retry_delay=1"
  "busy           hotfix_cases  busy           server   -        - hotfix_retries=0"
  "reboot-after   hotfix_cases  wants-reboot   server   -        - hotfix_reboot_after=true hotfix_reboot_tasks=$here/reboot_double.yml"
  "fifo           hotfix_cases  ok             server   -        fifo"
  "link           hotfix_cases  fails-1603     server   -        link"
  "foreign-root   hotfix_cases  ok             server   -        foreign"
  "canary-1       hotfix_canary ok             server   -        -"
  "canary-2       hotfix_canary ok             patched  recorded -"
  "solo           hotfix_one    ok             patched  recorded -"
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
  echo "    hotfix_test_rebooted_registry: $work/registry/patched.reg"
  echo "  children:"
} > "$inventory"
for group in hotfix_fleet hotfix_cases hotfix_canary hotfix_one; do
  printf '    %s:\n      hosts:\n' "$group" >> "$inventory"
  for row in "${fleet[@]}"; do
    read -r host in_group variant registry patchinfo has extra <<<"$row"
    [ "$in_group" = "$group" ] || continue
    prefix=$work/prefixes/$host
    mkdir -p "$prefix/drive_c/Qor/server"
    cp "$work/registry/$registry.reg" "$prefix/HKLM.reg"
    if [ "$patchinfo" = recorded ]; then
      printf 'KB4000001\r\nKB5001234\r\n' > "$prefix/drive_c/Qor/server/patchinfo"
    else
      printf 'KB4000001\r\n' > "$prefix/drive_c/Qor/server/patchinfo"
    fi
    log=$prefix/drive_c/QOR_Updates_InstallOS.log
    case $has in
      banner) printf '%s\r\n' "$banner" > "$log" ;;
      fifo) mkfifo "$log" ;;
      link) printf 'secret\n' > "$prefix/secret" && ln -s "$prefix/secret" "$log" ;;
      foreign) mkdir "$prefix/drive_c/hotfix" && chown nobody "$prefix/drive_c/hotfix" ;;
    esac
    {
      echo "        $host:"
      echo "          hotfix_linux_prefix: $prefix"
      echo "          hotfix_bundle_src: $work/bundles/$variant/KB5001234"
      for pair in $extra; do echo "          ${pair%%=*}: ${pair#*=}"; done
    } >> "$inventory"
  done
done
cp -a "$work/prefixes" "$work/prefixes-before"

# Runs rollout.yml (with more ansible-playbook options) into results/NAME; its output goes to
# results/NAME.out and its exit status to results/NAME.status.
rollout() {
  local name=$1 group=$2 serial=$3 max_fail=$4 status=0
  shift 4
  ansible-playbook -i "$inventory" "$ansible_dir/playbooks/rollout.yml" -e "hotfix_fleet_group=$group" \
    -e "hotfix_serial=$serial" -e "hotfix_max_fail_percentage=$max_fail" \
    -e "hotfix_results_dir=$work/results/$name" "$@" > "$work/results/$name.out" 2>&1 || status=$?
  echo "$status" > "$work/results/$name.status"
  echo "-- $name: exit status $status $(elapsed)"
}

echo "== the rollouts $(elapsed)"
# The README's command after a dry run, in one wave, of the hosts with the dry run's four
# outcomes, then --limit, beside the other fleets.
{
  rollout check hotfix_fleet 100% 10 --check --limit patched-1,ok-1,pending,bad-ini,no-ini
  rollout readme hotfix_fleet 25% 10
  rollout limit hotfix_fleet 25% 10 --limit ok-1
} &
chain=$!
rollout cases hotfix_cases 100% 100
rollout canary hotfix_canary 1 10
rollout one hotfix_one 25% 10
wait "$chain"

# Every run: one line per host attempted, with its preflight status, exit status, classification
# and a part of its reason, and the hosts not attempted; each run's exit status.
cat > "$work/expected.txt" <<'EOF'
check  0 patched-1      2 - already installed ~ installed and recorded
check  0 ok-1           0 - would install     ~ not installed
check  0 pending        3 - reboot first      ~ a reboot is pending
check  0 bad-ini        1 - bundle broken     ~ RegKeyValue is missing from ini file.
check  0 no-ini         1 - bundle broken     ~ AppName is missing from ini file.
readme 2 patched-1      2 - already installed ~ installed and recorded
readme 2 ok-1           0 0 success           ~ preflight after: 2
readme 2 wants-reboot   0 194 reboot needed   ~ the low 8 bits of 3010 (0x00000BC2) ERROR_SUCCESS_REBOOT_REQUIRED
readme 2 ok-2           0 0 success           ~ preflight after: 2
readme 2 not-applicable 0 23 not applicable   ~ 0x80240017) WU_E_NOT_APPLICABLE
readme 2 unrecorded     0 0 success           ~ preflight after: 2
readme 2 fails-1603     0 67 failed           ~ 1603 (0x00000643) ERROR_INSTALL_FAILURE
readme 2 pending        3 - reboot needed     ~ a reboot is pending; not launched
readme 2 no-ini         1 - bundle broken     ~ AppName is missing from ini file.
readme 2 bad-ini        not attempted
readme 2 ok-3           not attempted
readme 2 ok-4           not attempted
limit  0 ok-1           2 - already installed ~ installed and recorded
cases  2 unreachable    - - unreachable       ~ 127.0.0.1
cases  2 no-preflight   - - tool missing      ~ missing/hotfix-preflight is not there or not executable
cases  2 killed         0 - interrupted       ~ Ansible killed it and the installer it ran
cases  2 short-limit    - - failed            ~ Ansible kills the launcher's process group
cases  2 retry-once     0 0 success           ~ (after 1 retry)
cases  2 busy           0 82 retry later      ~ 1618 (0x00000652) ERROR_INSTALL_ALREADY_RUNNING
cases  2 reboot-after   0 0 success           ~ preflight after: 2
cases  2 fifo           0 0 success           ~ QOR_Updates_InstallOS.log is a FIFO: not opened
cases  2 link           0 67 failed           ~ QOR_Updates_InstallOS.log is a symbolic link: not opened
cases  2 foreign-root   - - refused           ~ is owned by nobody (uid 65534), not root
canary 0 canary-1       0 0 success           ~ preflight after: 2
canary 0 canary-2       2 - already installed ~ installed and recorded
one    0 solo           2 - already installed ~ installed and recorded
EOF
python3 "$here/check_results.py" "$work/results" "$work/expected.txt" "$inventory" || fail "summary lines differ"
grep -q '"rebooted": true' "$work/results/cases/"*/summary.jsonl || fail "reboot-after: not rebooted"
for name in check readme limit cases canary one; do
  grep -q 'not attempted:' "$work/results/$name.out" || fail "$name: no console table"
done

# Files per host: kept copies equal the host's files; untouched hosts are as they were.
readme=$(echo "$work/results/readme/"*/)
for host in fails-1603 link; do
  prefix=$work/prefixes/$host
  group=readme; [ "$host" = link ] && group=cases
  kept=$(echo "$work/results/$group/"*/hosts/$host)
  cmp "$prefix/drive_c/Qor/server/patchinfo" "$kept/patchinfo" || fail "$host: kept patchinfo differs"
  if [ "$host" = link ]; then
    [ ! -e "$kept/QOR_Updates_InstallOS.log" ] || fail "link: the link's target was kept"
  else
    cmp "$prefix/drive_c/QOR_Updates_InstallOS.log" "$kept/QOR_Updates_InstallOS.log" ||
      fail "$host: kept run log differs"
  fi
done
for host in bad-ini ok-3 ok-4 foreign-root; do
  diff -r "$work/prefixes-before/$host" "$work/prefixes/$host" --exclude=hotfix >/dev/null ||
    fail "$host: changed, though never launched"
  [ ! -e "$work/prefixes/$host/drive_c/hotfix/KB5001234" ] || fail "$host: a bundle was left"
done
[ -z "$(ls "$work/prefixes/bad-ini/drive_c/hotfix")" ] || fail "bad-ini: the dry run left its copy"
[ "$(cat "$work/prefixes/unrecorded/drive_c/Qor/server/patchinfo")" = $'KB4000001\r\nKB5001234\r' ] ||
  fail "unrecorded: the patch-info file lacks KB5001234"
# The installer the async limit interrupted is dead: wait for its process to go, at most 30 s.
for _ in $(seq 300); do
  pgrep -f "$work/prefixes/killed/" >/dev/null || break
  sleep 0.1
done
! pgrep -f "$work/prefixes/killed/" >/dev/null || fail "killed: the installer still runs"

echo "== report.html in a browser $(elapsed)"
python3 "$here/check_report.py" "$readme" "$work/report.png" || fail "report.html"

echo "== console table of the README's command"
sed -n '/"classification       hosts"/,/not attempted/p' "$work/results/readme.out" | tail -n 12
echo "== total $(elapsed)"
echo "$problems problems"
[ "$problems" -eq 0 ]
