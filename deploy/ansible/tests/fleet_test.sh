#!/usr/bin/env bash
# The hotfix_rollout role on simulated fleets on this machine, rolled out with
# deploy/ansible/playbooks/rollout.yml: Linux hosts (connection local, one launcher prefix each;
# one host reached over SSH at a closed port) and, with a windows-x64 build, Windows hosts (Wine
# prefixes, through the test doubles of ansible.windows in wine/ and the connection
# hotfix_test.wine.wine), made by make_host.sh. Rollouts: a dry run and then the roll-out guide's command
# on the 12-host fleet, which stops after its third wave, the command it prints to go on (with
# the bundle mended), --limit one host, a fleet of special cases, a canary and a fleet of one
# started at once into one results folder, a dry run and a rollout of six Windows hosts and a
# Linux one, and two that the controller's check stops (the roll-out guide's command without pywinrm; a
# bundle without Installer.ini and a results folder that cannot be made). It checks every host's
# one summary line, wave and classification, summary.csv, the hosts not attempted, retry.txt, the
# stop's sentence, the kept files byte for byte, hosts left untouched, the staged modes, an
# installer killed at the async limit, that every Windows task file ran, that the command
# scripts/try-fleet.sh prints works from the folder it lays out (--syntax-check), and report.html
# in a real browser (with a screenshot). The back-out (playbooks/backout.yml) of hosts a rollout
# patched, after a dry run, on Linux hosts and on the Windows and Linux hosts of the mixed fleet:
# removed, not installed, reboot needed (3010), failed (an uninstall that exits 0 and removes
# nothing), bundle broken, the patch-info files byte for byte as the rollout left them, a Linux
# host without a back-out command refused by the controller's check, and its report in the
# browser (back-out-report.png). Beside the rollouts, status_test.sh runs the fleet-state
# view (playbooks/status.yml) on hosts of its own, two of them Windows hosts. Before that, the
# filter's and the results module's unit cases, --syntax-check and ansible-lint --offline against
# the installed ansible.windows.
#
#   fleet_test.sh WORK_DIR LAUNCHER PREFLIGHT INSTALLER [WINDOWS_X64_BUILD]
set -euo pipefail
# Debian's own programs first: its python3 has the modules the checks import.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH
# Python's own buffering: unbuffered, each module run would read its program (about 130 KB on its
# standard input) one byte a system call, a quarter of the test's CPU time.
unset PYTHONUNBUFFERED
here=$(cd "$(dirname "$0")" && pwd)
ansible_dir=$(dirname "$here")
examples=$(cd "$here/../../../examples/KB5001234" && pwd)
work=$1
launcher=$2
preflight=$3
installer=$4
windows_build=${5:-}

rm -rf "$work"
mkdir -p "$work/tmp" "$work/bundles" "$work/prefixes" "$work/registry" "$work/results" "$work/wine"
export ANSIBLE_LOCAL_TEMP=$work/tmp/local ANSIBLE_REMOTE_TEMP=$work/tmp/remote
export ANSIBLE_ASYNC_DIR=$work/tmp/async ANSIBLE_ROLES_PATH=$ansible_dir/roles
export ANSIBLE_COLLECTIONS_PATH=$(dirname "$ansible_dir")/collections
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_FORKS=12 ANSIBLE_PIPELINING=1
export ANSIBLE_HOST_KEY_CHECKING=0
problems=0
fail() {
  echo "FAIL: $*"
  problems=$((problems + 1))
}
start=$(date +%s)
elapsed() { echo "($(($(date +%s) - start)) s)"; }
# Windows hosts: one Wine prefix made now, copied for each host later; every host's Wine server
# is ended however the test ends.
if [ -n "$windows_build" ]; then
  "$here/make_host.sh" wine-base "$work/wine/base" &
  wine_base=$!
  trap '"$here/make_host.sh" stop "$work/wine/"*' EXIT
fi

echo "== filter cases, syntax and lint $(elapsed)"
python3 "$here/test_outcome.py"
python3 "$here/test_results.py"
(cd "$ansible_dir" &&
  ansible-playbook -i inventory.example.yml --syntax-check playbooks/rollout.yml playbooks/status.yml \
    playbooks/backout.yml tests/syntax.yml >/dev/null &&
  ansible-lint --offline --nocolor playbooks/rollout.yml playbooks/status.yml playbooks/backout.yml \
    inventory.example.yml \
    roles/hotfix_rollout tests/syntax.yml tests/reboot_double.yml)
# From here on ansible.windows is the test doubles' (the lint above read the installed one).
[ -z "$windows_build" ] || eval "$("$here/wine/env.sh" "$windows_build")"

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
bundle no-mark '/quiet'
bundle bad-ini '/quiet /mark'
sed -i '/^RegKeyValue=/d' "$work/bundles/bad-ini/KB5001234/Installer.ini"
bundle no-ini '/quiet /mark'
rm "$work/bundles/no-ini/KB5001234/Installer.ini"
bundle no-appname '/quiet /mark'
sed -i '/^AppName=/d' "$work/bundles/no-appname/KB5001234/Installer.ini"
# The installer that finds another installation in progress once (1618, 82 on Linux), then works.
bundle retry-once '/quiet /mark'
# Controller modes that must not reach the host, a world-writable, set-uid installer, and a patch
# id that a spreadsheet would take for a formula.
bundle odd '/quiet /mark'
chmod 4777 "$work/bundles/odd/KB5001234/KB5001234.exe"
formula='=HYPERLINK("http://example.invalid/","KB5001234")'
sed -i "s|^DaziveID=.*|DaziveID=$formula|" "$work/bundles/odd/KB5001234/Installer.ini"
# Windows bundles: the Windows example installer; 0x80240017 as the signed number it parses.
if [ -n "$windows_build" ]; then
  for variant in ok wants-reboot not-applicable no-appname; do
    mkdir -p "$work/bundles/win-$variant"
    cp -r "$work/bundles/$variant/KB5001234" "$work/bundles/win-$variant/"
    cp "$windows_build/example_installer.exe" "$work/bundles/win-$variant/KB5001234/KB5001234.exe"
  done
  sed -i 's|/exit:2149842967|/exit:-2145124329|' "$work/bundles/win-not-applicable/KB5001234/Installer.ini"
fi
printf '#!/bin/sh\nmarker="$HOTFIX_LAUNCHER_PREFIX/busy-once"\n[ -e "$marker" ] || { : > "$marker"; exit 82; }\nexec %s "$@"\n' \
  "$installer" > "$work/bundles/retry-once/KB5001234/KB5001234.exe"

# Registries: the example's, with the hotfix's value set, and with a pending reboot.
"$here/make_host.sh" registries "$work/registry"
banner='1/2/2025 3:4:5 : *********************   QOR: New OS Patch  *****************************,   '

# The fleets: host, group, bundle, registry, patch-info file (recorded: it holds the id), what
# else the host has, and its extra variables. hotfix_fleet's waves of 3 (the roll-out guide's 25%) go:
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
  "no-appname     hotfix_fleet  no-appname     server   -        -"
  "bad-ini        hotfix_fleet  bad-ini        server   -        -"
  "ok-3           hotfix_fleet  ok             server   -        -"
  "ok-4           hotfix_fleet  ok             server   -        -"
  "unreachable    hotfix_cases  ok             server   -        - ansible_connection=ssh ansible_host=127.0.0.1 ansible_port=1"
  "no-preflight   hotfix_cases  ok             server   -        - hotfix_linux_preflight=$work/missing/hotfix-preflight"
  "no-drive-c     hotfix_cases  ok             server   -        no-drive-c"
  "killed         hotfix_cases  slow           server   -        - hotfix_async_timeout=2 hotfix_allow_kill=true"
  "short-limit    hotfix_cases  ok             server   -        - hotfix_async_timeout=60"
  "retry-once     hotfix_cases  retry-once     server   -        - hotfix_retry_delay=1"
  "busy           hotfix_cases  busy           server   -        - hotfix_retries=0"
  "reboot-after   hotfix_cases  wants-reboot   server   -        - hotfix_reboot_after=true hotfix_reboot_tasks=$here/reboot_double.yml"
  "odd-host       hotfix_cases  odd            server   -        fifo"
  "link           hotfix_cases  fails-1603     server   -        link"
  "foreign-root   hotfix_cases  ok             server   -        foreign"
  "under-nobody   hotfix_cases  ok             server   -        under-nobody"
  "long-tail      hotfix_cases  ok             server   -        - hotfix_launcher_args=[$(printf 'x%.0s' $(seq 70))]"
  "no-mark        hotfix_cases  no-mark        server   -        -"
  "installed      hotfix_cases  ok             patched  recorded -"
  "canary-1       hotfix_canary fails-1603     server   -        -"
  "canary-2       hotfix_canary ok             patched  recorded -"
  "solo           hotfix_one    ok             patched  recorded -"
  # The back-out's hosts (playbooks/backout.yml), patched and recorded as a rollout leaves them
  # (lin-1 and the Windows hosts of hotfix_mixed are backed out after their rollout): their
  # back-out commands are the example installer, removing its value or not.
  "bo-removed     hotfix_backout ok            patched  recorded - hotfix_backout_command=['$work/bundles/ok/KB5001234/KB5001234.exe','/uninstall']"
  "bo-not-installed hotfix_backout ok          server   -        - hotfix_backout_command=['/bin/false']"
  "bo-reboot      hotfix_backout ok            patched  recorded - hotfix_backout_command=['$work/bundles/ok/KB5001234/KB5001234.exe','/exit:3010']"
  "bo-failed      hotfix_backout ok            patched  recorded - hotfix_backout_command=['$work/bundles/ok/KB5001234/KB5001234.exe']"
  "bo-no-command  hotfix_backout_bare ok       patched  recorded -"
  # The fleet-state view's hosts (status_test.sh), which nothing else touches.
  "state-recorded   hotfix_state ok           patched  recorded -"
  "state-unrecorded hotfix_state ok           patched  -        -"
  "state-missing    hotfix_state ok           server   -        -"
  "state-pending    hotfix_state ok           pending  -        -"
  "state-bad-ini    hotfix_state bad-ini      server   -        -"
  "state-no-tool    hotfix_state ok           server   -        - hotfix_linux_preflight=$work/missing/hotfix-preflight"
  "state-lost       hotfix_state ok           server   -        - ansible_connection=ssh ansible_host=127.0.0.1 ansible_port=1"
)
# hotfix_mixed: six Windows hosts (their bundles win-*) and a Linux one.
[ -z "$windows_build" ] || fleet+=(
  "win-ok         hotfix_mixed  win-ok         server   -        windows hotfix_backout_command=['C:\\hotfix\\KB5001234\\KB5001234.exe','/uninstall']"
  "win-installed  hotfix_mixed  win-ok         patched  recorded windows hotfix_backout_command=['C:\\hotfix\\KB5001234\\KB5001234.exe','/exit:3010']"
  "win-ok-2       hotfix_mixed  win-ok         server   -        windows hotfix_backout_command=['C:\\hotfix\\KB5001234\\KB5001234.exe']"
  "win-reboot     hotfix_mixed  win-wants-reboot server -        windows"
  "win-reboot-after hotfix_mixed win-wants-reboot server - windows hotfix_reboot_after=true hotfix_backout_command=['C:\\hotfix\\KB5001234\\KB5001234.exe','/uninstall']"
  "win-na         hotfix_mixed  win-not-applicable server -      windows"
  "win-no-appname hotfix_mixed  win-no-appname server   -        windows"
  "win-open-root  hotfix_mixed  win-ok         server   -        windows-open-root"
  "lin-1          hotfix_mixed  ok             server   -        - hotfix_backout_command=['$work/prefixes/lin-1/drive_c/hotfix/KB5001234/KB5001234.exe','/uninstall']"
  "state-win-recorded hotfix_state win-ok      patched  recorded windows-preflight"
  "state-win-missing  hotfix_state win-ok      server   -        windows-preflight"
)
inventory=$work/fleet.yml
windows_hosts=()
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
for group in hotfix_fleet hotfix_cases hotfix_canary hotfix_one hotfix_state hotfix_mixed hotfix_backout \
  hotfix_backout_bare; do
  printf '    %s:\n      hosts:\n' "$group" >> "$inventory"
  for row in "${fleet[@]}"; do
    read -r host in_group variant registry patchinfo has extra <<<"$row"
    [ "$in_group" = "$group" ] || continue
    ids=(KB4000001)
    [ "$patchinfo" != recorded ] || ids+=(KB5001234)
    if [[ "$has" == windows* ]]; then
      # Made once the Wine prefix to copy is there (make_windows_hosts).
      windows_hosts+=("$host $registry $has ${ids[*]}")
      cat <<EOF >> "$inventory"
        $host:
          ansible_connection: hotfix_test.wine.wine
          ansible_become: false
          hotfix_wine_prefix: $work/wine/$host
          hotfix_platform: windows
          hotfix_bundle_src: $work/bundles/$variant/KB5001234
          hotfix_windows_launcher_src: $windows_build/hotfix-launcher.exe
          hotfix_windows_preflight_src: $windows_build/hotfix-preflight.exe
EOF
      for pair in $extra; do echo "          ${pair%%=*}: ${pair#*=}"; done >> "$inventory"
      continue
    fi
    prefix=$work/prefixes/$host
    # The prefix in a folder that another account owns, which could swap it for one of its own.
    if [ "$has" = under-nobody ]; then
      mkdir -p "$prefix" && chown nobody "$prefix"
      prefix=$prefix/prefix
    fi
    "$here/make_host.sh" linux "$prefix" "$work/registry/$registry.reg" "${ids[@]}"
    log=$prefix/drive_c/QOR_Updates_InstallOS.log
    case $has in
      banner) printf '%s\r\n' "$banner" > "$log" ;;
      fifo) mkfifo "$log" ;;
      link) printf 'secret\n' > "$prefix/secret" && ln -s "$prefix/secret" "$log" ;;
      foreign) mkdir "$prefix/drive_c/hotfix" && chown nobody "$prefix/drive_c/hotfix" ;;
      no-drive-c) rm -r "$prefix/drive_c" ;;
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

# Runs rollout.yml, or the playbook named by $playbook (backout), with more ansible-playbook
# options into results/NAME; its output goes to results/NAME.out and its exit status to
# results/NAME.status.
# The line it prints gives the run's CPU time (user and system): the test is CPU-bound.
rollout() {
  local name=$1 group=$2 serial=$3 max_fail=$4 status=0 TIMEFORMAT='%U + %S'
  shift 4
  { time ansible-playbook -i "$inventory" "$ansible_dir/playbooks/${playbook:-rollout}.yml" \
    -e "hotfix_fleet_group=$group" -e "hotfix_serial=$serial" -e "hotfix_max_fail_percentage=$max_fail" \
    -e "hotfix_results_dir=$work/results/$name" "$@" > "$work/results/$name.out" 2>&1 || status=$?; } \
    2> "$work/results/$name.cpu"
  echo "$status" > "$work/results/$name.status"
  echo "-- $name: exit status $status $(elapsed), CPU $(cat "$work/results/$name.cpu") s"
}

# The command the roll-out guide's rollout printed to go on after its stop, run with the bundle mended
# (and all at once, its results beside the others').
go_on() {
  local command status=0
  command=$(grep -o '"to go on: .*"' "$work/results/readme.out" |
    python3 -c 'import json, sys; print(json.loads(sys.stdin.read())[len("to go on: "):])')
  eval "$command" -e "hotfix_bundle_src=$work/bundles/ok/KB5001234" -e hotfix_serial=100% \
    -e "hotfix_results_dir=$work/results/goon" > "$work/results/goon.out" 2>&1 || status=$?
  echo "$status" > "$work/results/goon.status"
  echo "-- goon: exit status $status $(elapsed)"
}

# The Windows hosts, each a copy of the Wine prefix with its own Wine server, its registry and its
# patch-info file; made together.
make_windows_hosts() {
  local row host registry has ids made=()
  while kill -0 "$wine_base" 2>/dev/null; do sleep 0.5; done
  for row in "${windows_hosts[@]}"; do
    read -r host registry has ids <<<"$row"
    # shellcheck disable=SC2086
    "$here/make_host.sh" windows "$work/wine/$host" "$work/wine/base" "$work/registry/$registry.reg" $ids &
    made+=($!)
  done
  wait "${made[@]}"
  # A bundle root of mode 0777, which Wine shows as Everyone's to change; the preflight of the
  # fleet-state view's hosts where a rollout leaves it.
  mkdir "$work/wine/win-open-root/drive_c/hotfix"
  chmod 0777 "$work/wine/win-open-root/drive_c/hotfix"
  # What the reboot completes on win-reboot-after: a RunOnce entry that marks the hotfix installed,
  # which Wine's restart (the win_reboot double) runs as a boot runs it.
  WINEPREFIX=$(realpath "$work/wine/win-reboot-after") wine reg add \
    'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce' /v KB5001234 \
    /d 'C:\hotfix\KB5001234\KB5001234.exe /mark' /f >/dev/null
  for host in state-win-recorded state-win-missing; do
    mkdir "$work/wine/$host/drive_c/hotfix"
    cp "$windows_build/hotfix-preflight.exe" "$work/wine/$host/drive_c/hotfix/"
  done
  echo "-- ${#made[@]} Windows hosts $(elapsed)"
}

# Rollouts the controller's check stops before any host: the roll-out guide's command on its example
# inventory on a controller without pywinrm (a winrm module that cannot be imported stands for
# the missing package), and a bundle without Installer.ini with a results folder that cannot be
# made (in a file).
mkdir -p "$work/no-pywinrm"
echo 'raise ImportError("no pywinrm on this controller")' > "$work/no-pywinrm/winrm.py"
controller_checks() {
  local status=0
  (cd "$ansible_dir" && PYTHONPATH=$work/no-pywinrm ansible-playbook -i inventory.example.yml \
    playbooks/rollout.yml -e hotfix_serial=25% -e hotfix_max_fail_percentage=10 \
    -e "hotfix_results_dir=$work/results/no-pywinrm") > "$work/results/no-pywinrm.out" 2>&1 || status=$?
  echo "$status" > "$work/results/no-pywinrm.status"
  rollout no-ini hotfix_fleet 25% 10 --limit ok-1 -e "hotfix_bundle_src=$work/bundles/no-ini/KB5001234" \
    -e "hotfix_results_dir=$work/fleet.yml/results"
  # scripts/try-fleet.sh lays out a fleet whose printed command finds its playbook, inventory and
  # collections by the folder's ansible.cfg alone.
  HOTFIX_LINUX_BUILD=$(dirname "$launcher") "$here/../../../scripts/try-fleet.sh" --linux 2 --windows 0 \
    "$work/try-fleet" > "$work/results/try-fleet.out" &&
    (cd "$work/try-fleet" && env -u ANSIBLE_COLLECTIONS_PATH -u ANSIBLE_ROLES_PATH \
      ansible-playbook hotfix.launcher.rollout -e hotfix_serial=50% --syntax-check) \
      >> "$work/results/try-fleet.out" 2>&1 || fail "try-fleet.sh: $(cat "$work/results/try-fleet.out")"
}

# The fleet-state view on the hosts of hotfix_state (status_test.sh), its Windows hosts among them.
state_test() {
  local status=0
  "$here/status_test.sh" "$work" "$inventory" ${windows_build:+state-win-recorded state-win-missing} \
    > "$work/status.log" 2>&1 || status=$?
  echo "$status" > "$work/status.status"
}

# The back-out (playbooks/backout.yml) of the hosts of hotfix_backout, each host's patch-info
# file kept as it was, a dry run first; and a Linux host without a back-out command, which the
# controller's check refuses.
backouts() {
  patch_infos prefixes bo-removed bo-reboot bo-failed > "$work/backout-patchinfo.before"
  playbook=backout rollout backout-check hotfix_backout 100% 100 --check
  playbook=backout rollout backout hotfix_backout 100% 100
  patch_infos prefixes bo-removed bo-reboot bo-failed > "$work/backout-patchinfo.after"
  playbook=backout rollout bo-no-command hotfix_backout_bare 100% 100
}

# The hosts' patch-info files (of folder FOLDER of the work folder), each with its SHA-256.
patch_infos() {
  local folder=$1 host
  for host in "${@:2}"; do
    sha256sum "$work/$folder/$host/drive_c/Qor/server/patchinfo"
  done
}

echo "== the rollouts, and the fleet-state view beside them $(elapsed)"
# The roll-out guide's command after a dry run, in one wave, of the hosts with the dry run's four
# outcomes, then the command it gives to go on, then --limit; beside them the special cases,
# then a canary and a fleet of one started at once into one results folder; and the fleet-state
# view and the Windows hosts' dry run and rollout once their prefixes are made.
{
  rollout check hotfix_fleet 100% 10 --check --limit patched-1,ok-1,pending,bad-ini
  rollout readme hotfix_fleet 25% 10
  cp -a "$work/prefixes" "$work/prefixes-after-readme"
  go_on
  rollout limit hotfix_fleet 25% 10 --limit ok-1
} &
chains=($!)
if [ -n "$windows_build" ]; then
  {
    make_windows_hosts
    state_test &
    rollout mixed-check hotfix_mixed 100% 100 --check --limit win-ok
    rollout mixed hotfix_mixed 100% 100
    { patch_infos wine win-ok win-installed win-ok-2; patch_infos prefixes lin-1; } > "$work/mixed-patchinfo.before"
    playbook=backout rollout mixed-backout-check hotfix_mixed 100% 100 --check --limit win-ok,win-reboot,lin-1
    playbook=backout rollout mixed-backout hotfix_mixed 100% 100
    { patch_infos wine win-ok win-installed win-ok-2; patch_infos prefixes lin-1; } > "$work/mixed-patchinfo.after"
    wait
  } &
else
  state_test &
fi
chains+=($!)
backouts &
chains+=($!)
controller_checks
rollout cases hotfix_cases 100% 100
rollout canary hotfix_canary 1 100 -e "hotfix_results_dir=$work/results/shared" &
chains+=($!)
rollout one hotfix_one 25% 10 -e "hotfix_results_dir=$work/results/shared"
wait "${chains[@]}"
[ "$(cat "$work/status.status")" = 0 ] || fail "status.yml"
cat "$work/status.log"
# Two folders, each with its own rollout's hosts alone; then each where check_results.py looks.
shared=("$work/results/shared/"*/)
[ "${#shared[@]}" -eq 2 ] || fail "canary and one: ${#shared[@]} results folders"
for folder in "${shared[@]}"; do
  name=canary
  grep -q '"solo"' "$folder/summary.jsonl" && name=one
  mkdir -p "$work/results/$name" && mv "$folder" "$work/results/$name/"
done
seconds=$(basename -a "${shared[@]}" | sed 's/-[0-9]*$//' | sort -u | wc -l)
echo "-- canary and one: two folders, started in $seconds UTC second(s)"

# Every run: one line per host attempted, with its wave, preflight status, exit status,
# classification and a part of its reason, and the hosts not attempted; each run's exit status.
cat > "$work/expected.txt" <<'EOF'
check  0 patched-1      1 2 - already installed ~ installed and recorded
check  0 ok-1           1 0 - would install     ~ not installed
check  0 pending        1 3 - reboot first      ~ a reboot is pending
check  0 bad-ini        1 1 - bundle broken     ~ RegKeyValue is missing from ini file.
readme 2 patched-1      1 2 - already installed ~ installed and recorded
readme 2 ok-1           1 0 0 success           ~ preflight after: 2
readme 2 wants-reboot   1 0 194 reboot needed   ~ the low 8 bits of 3010 (0x00000BC2) ERROR_SUCCESS_REBOOT_REQUIRED
readme 2 ok-2           2 0 0 success           ~ preflight after: 2
readme 2 not-applicable 2 0 23 not applicable   ~ 0x80240017) WU_E_NOT_APPLICABLE
readme 2 unrecorded     2 0 0 success           ~ preflight after: 2
readme 2 fails-1603     3 0 67 failed           ~ 1603 (0x00000643) ERROR_INSTALL_FAILURE
readme 2 pending        3 3 - reboot needed     ~ a reboot is pending; not launched
readme 2 no-appname     3 1 - bundle broken     ~ AppName is missing from ini file.
readme 2 bad-ini        - not attempted
readme 2 ok-3           - not attempted
readme 2 ok-4           - not attempted
goon   0 fails-1603     1 0 0 success           ~ preflight after: 2
goon   0 no-appname     1 0 0 success           ~ preflight after: 2
goon   0 bad-ini        1 0 0 success           ~ preflight after: 2
goon   0 ok-3           1 0 0 success           ~ preflight after: 2
goon   0 ok-4           1 0 0 success           ~ preflight after: 2
limit  0 ok-1           1 2 - already installed ~ installed and recorded
cases  2 unreachable    1 - - unreachable       ~ 127.0.0.1
cases  2 no-preflight   1 - - tool missing      ~ missing/hotfix-preflight cannot run
cases  2 no-drive-c     1 - - tool missing      ~ prefix has no folder
cases  2 killed         1 0 - interrupted       ~ Ansible killed it and the installer it ran
cases  2 short-limit    1 - - failed            ~ Ansible kills the launcher's process group
cases  2 retry-once     1 0 0 success           ~ (after 1 retry)
cases  2 busy           1 0 82 retry later      ~ 1618 (0x00000652) ERROR_INSTALL_ALREADY_RUNNING
cases  2 reboot-after   1 0 0 success           ~ preflight after: 2
cases  2 odd-host       1 0 0 success           ~ QOR_Updates_InstallOS.log is a FIFO: not opened
cases  2 link           1 0 67 failed           ~ QOR_Updates_InstallOS.log is a symbolic link: not opened
cases  2 foreign-root   1 4 - refused           ~ drive_c/hotfix: user nobody (65534) owns it
cases  2 under-nobody   1 4 - refused           ~ prefixes/under-nobody: user nobody (65534) owns it
cases  2 long-tail      1 1 - bundle broken     ~ Installer arguments are too long.
cases  2 no-mark        1 0 0 failed            ~ exit status 0 (0x00000000): the installer ended with 0, but the check still fails (preflight after: 0)
cases  2 installed      1 2 - already installed ~ installed and recorded
canary 2 canary-1       1 0 67 failed           ~ 1603 (0x00000643) ERROR_INSTALL_FAILURE
canary 2 canary-2       - not attempted
one    0 solo           1 2 - already installed ~ installed and recorded
backout-check 0 bo-removed 1 2 - would back out ~ preflight 2: installed; the back-out command would run
backout-check 0 bo-not-installed 1 0 - not installed ~ preflight 0: not installed; nothing ran
backout-check 0 bo-reboot  1 2 - would back out ~ the back-out command would run
backout-check 0 bo-failed  1 2 - would back out ~ the back-out command would run
backout 2 bo-removed    1 2 0 removed           ~ exit status 0 (0x00000000); after it preflight 0: not installed
backout 2 bo-not-installed 1 0 - not installed  ~ preflight 0: not installed; nothing ran
backout 2 bo-reboot     1 2 194 reboot needed   ~ the low 8 bits of 3010 (0x00000BC2) ERROR_SUCCESS_REBOOT_REQUIRED
backout 2 bo-failed     1 2 0 failed            ~ the command ended with 0, but the check still passes
EOF
# The Windows hosts: the full 32-bit codes (3010; 0x80240017, signed), and the bundle root that
# Wine shows as Everyone's to change.
[ -z "$windows_build" ] || cat >> "$work/expected.txt" <<'EOF'
mixed-check 0 win-ok       1 0 - would install     ~ not installed
mixed  2 win-ok         1 0 0 success           ~ preflight after: 2
mixed  2 win-installed  1 2 - already installed ~ installed and recorded
mixed  2 win-reboot     1 0 3010 reboot needed  ~ exit status 3010 (0x00000BC2) ERROR_SUCCESS_REBOOT_REQUIRED
mixed  2 win-reboot-after 1 0 0 success         ~ preflight after: 2
mixed  2 win-na         1 0 -2145124329 not applicable ~ exit status -2145124329 (0x80240017) WU_E_NOT_APPLICABLE
mixed  2 win-no-appname 1 1 - bundle broken     ~ AppName is missing from ini file.
mixed  2 win-open-root  1 4 - refused           ~ C:\hotfix\: Everyone may delete or rename it
mixed  2 win-ok-2       1 0 0 success           ~ preflight after: 2
mixed  2 lin-1          1 0 0 success           ~ preflight after: 2
mixed-backout-check 0 win-ok 1 2 - would back out ~ preflight 2: installed; the back-out command would run
mixed-backout-check 0 win-reboot 1 0 - not installed ~ preflight 0: not installed; nothing ran
mixed-backout-check 0 lin-1 1 2 - would back out ~ the back-out command would run
mixed-backout 2 win-ok     1 2 0 removed        ~ exit status 0 (0x00000000); after it preflight 0: not installed
mixed-backout 2 win-installed 1 2 3010 reboot needed ~ exit status 3010 (0x00000BC2) ERROR_SUCCESS_REBOOT_REQUIRED
mixed-backout 2 win-ok-2   1 2 0 failed         ~ the command ended with 0, but the check still passes
mixed-backout 2 win-reboot 1 0 - not installed  ~ preflight 0: not installed; nothing ran
mixed-backout 2 win-reboot-after 1 2 0 removed  ~ exit status 0 (0x00000000); after it preflight 0: not installed
mixed-backout 2 win-na     1 0 - not installed  ~ preflight 0: not installed; nothing ran
mixed-backout 2 win-no-appname 1 1 - bundle broken ~ AppName is missing from ini file.
mixed-backout 2 win-open-root 1 0 - not installed ~ preflight 0: not installed; nothing ran
mixed-backout 2 lin-1      1 2 0 removed        ~ after it preflight 0: not installed
EOF
python3 "$here/check_results.py" "$work/results" "$work/expected.txt" "$inventory" || fail "summary lines differ"
grep -q '"rebooted": true' "$work/results/cases/"*/summary.jsonl || fail "reboot-after: not rebooted"
for name in check readme goon limit cases canary one backout-check backout \
  ${windows_build:+mixed-check mixed mixed-backout-check mixed-backout}; do
  grep -q 'not attempted:' "$work/results/$name.out" || fail "$name: no console table"
done
# The controller's check: one message naming what is missing, no host classified, no results.
[ "$(cat "$work/results/no-pywinrm.status")" = 2 ] &&
  grep -q 'The controller lacks what the rollout needs, so no host was touched: pywinrm, the Python package of the winrm connection' \
    "$work/results/no-pywinrm.out" || fail "no-pywinrm: the controller's check did not stop it naming pywinrm"
[ "$(cat "$work/results/no-ini.status")" = 2 ] &&
  grep -q "an Installer.ini in the bundle's folder $work/bundles/no-ini/KB5001234 .*a results folder that this user can write: $work/fleet.yml," \
    "$work/results/no-ini.out" || fail "no-ini: the controller's check did not stop it naming Installer.ini and the results"
# A Linux back-out without hotfix_backout_command: refused before any host, naming it; and the
# patch-info files the back-out left byte for byte as the rollout did.
[ "$(cat "$work/results/bo-no-command.status")" = 2 ] &&
  grep -q 'The controller lacks what the back-out needs, so no host was touched: hotfix_backout_command, for a back-out of Linux hosts' \
    "$work/results/bo-no-command.out" || fail "bo-no-command: the controller's check did not stop it naming hotfix_backout_command"
cmp "$work/backout-patchinfo.before" "$work/backout-patchinfo.after" || fail "backout: a patch-info file changed"
[ -z "$windows_build" ] || cmp "$work/mixed-patchinfo.before" "$work/mixed-patchinfo.after" ||
  fail "mixed-backout: a patch-info file changed"
for name in no-pywinrm no-ini bo-no-command; do
  ! grep -q 'Roll the hotfix bundle out' "$work/results/$name.out" && [ ! -e "$work/results/$name" ] ||
    fail "$name: the rollout went on past the controller's check"
done

# The stop: its sentence among the console's last lines before Ansible's recap and in the report,
# retry.txt with the failed and the hosts not attempted (which the run of the printed command
# finished), and the special cases' retry list.
readme=$(echo "$work/results/readme/"*/)
stop='stopped after wave 3 of 4: 2 of 3 hosts failed, above hotfix_max_fail_percentage 10'
sed '/^PLAY RECAP/,$d' "$work/results/readme.out" | tail -n 16 | grep -qF "\"$stop\"" ||
  fail "readme: no stop sentence at the end of the console"
grep -qF '"failed: fails-1603 (failed), no-appname (bundle broken)"' "$work/results/readme.out" ||
  fail "readme: the failed hosts are not named"
[ "$(cat "$readme/retry.txt")" = $'fails-1603\nno-appname\nbad-ini\nok-3\nok-4' ] ||
  fail "readme: retry.txt lists $(cat "$readme/retry.txt")"
[ ! -s "$(echo "$work/results/goon/"*/retry.txt)" ] || fail "goon: hosts left to retry"
[ "$(cat "$work/results/cases/"*/retry.txt)" = "$(printf '%s\n' unreachable no-preflight no-drive-c killed \
  short-limit busy link foreign-root under-nobody long-tail no-mark)" ] || fail "cases: retry.txt differs"
# A wave that fails whole stops the rollout whatever max_fail_percentage says.
grep -qF '"stopped after wave 1 of 2: 1 of 1 hosts failed, the whole wave"' "$work/results/canary.out" ||
  fail "canary: no stop sentence"
! grep -q 'stopped after\|to go on' "$work/results/"{check,goon,limit,cases,one}.out ||
  fail "a rollout that did not stop says it did"
# The formula: as it is in summary.jsonl (summary.csv's apostrophe is check_results.py's).
python3 - "$work/results/cases/"*/summary.jsonl "$formula" <<'EOF' || fail "odd-host: patch id changed"
import json, sys
lines = [json.loads(line) for line in open(sys.argv[1], encoding='utf-8')]
sys.exit(next(line for line in lines if line['host'] == 'odd-host')['patch_id'] != sys.argv[2])
EOF
# Own times: in one wave, the host found installed ends at its preflight, seconds before the one
# whose launcher the async limit ended.
python3 - "$work/results/cases/"*/summary.jsonl <<'EOF' || fail "cases: the hosts' times are not their own"
import datetime, json, sys
lines = dict((line['host'], line) for line in map(json.loads, open(sys.argv[1], encoding='utf-8')))
at = lambda stamp: datetime.datetime.strptime(stamp, '%Y-%m-%dT%H:%M:%SZ')
killed, installed = lines['killed'], lines['installed']
sys.exit((at(killed['time']) - at(installed['time'])).total_seconds() < 5)
EOF

# Files per host: kept copies equal the host's files; untouched hosts are as they were (those the
# command to go on ran, until then).
for host in fails-1603 link; do
  prefix=$work/prefixes-after-readme/$host
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
for host in bad-ini ok-3 ok-4; do
  diff -r "$work/prefixes-before/$host" "$work/prefixes-after-readme/$host" --exclude=hotfix >/dev/null ||
    fail "$host: changed, though never launched"
  [ ! -e "$work/prefixes-after-readme/$host/drive_c/hotfix/KB5001234" ] || fail "$host: a bundle was left"
done
for host in foreign-root under-nobody long-tail; do
  diff -r "$work/prefixes-before/$host" "$work/prefixes/$host" --exclude=hotfix >/dev/null ||
    fail "$host: changed, though never launched"
done
# Staged root's and writable by root alone, whatever the controller's modes (4777).
staged=$work/prefixes/odd-host/drive_c/hotfix
[ "$(cd "$staged" && stat -c '%n %a %U:%G' KB5001234 KB5001234/* KB5001234.SHA256SUMS)" = "$(printf '%s\n' \
  'KB5001234 755 root:root' 'KB5001234/Installer.ini 644 root:root' \
  'KB5001234/KB5001234.exe 755 root:root' 'KB5001234/setup 755 root:root' \
  'KB5001234.SHA256SUMS 644 root:root')" ] || fail "odd-host: staged as $(ls -lR "$staged")"
[ -z "$(ls "$work/prefixes-after-readme/bad-ini/drive_c/hotfix")" ] || fail "bad-ini: the dry run left its copy"
[ "$(cat "$work/prefixes/unrecorded/drive_c/Qor/server/patchinfo")" = $'KB4000001\r\nKB5001234\r' ] ||
  fail "unrecorded: the patch-info file lacks KB5001234"
# The installer the async limit interrupted is dead: wait for its process to go, at most 30 s.
for _ in $(seq 300); do
  pgrep -f "$work/prefixes/killed/" >/dev/null || break
  sleep 0.1
done
! pgrep -f "$work/prefixes/killed/" >/dev/null || fail "killed: the installer still runs"

# Every Windows task file ran: the names of its tasks that ran on a Windows host, from the
# rollouts' and the fleet-state view's logs.
if [ -n "$windows_build" ]; then
  echo "== the Windows task files' tasks that ran on a Windows host"
  python3 - "$ansible_dir/roles/hotfix_rollout/tasks" "$work/results/"{mixed-check,mixed,state}.out <<'EOF' ||
import glob, os, re, sys, yaml
ran = set()
for log in sys.argv[2:]:
    for part in open(log).read().split('\nTASK [hotfix_rollout : ')[1:]:
        if re.search(r'^(ok|changed): \[(state-)?win-', part, re.M):
            ran.add(part.split('] ', 1)[0])
missing = []
for path in sorted(glob.glob(os.path.join(sys.argv[1], '*_windows.yml'))):
    with open(path) as task_file:
        tasks = yaml.safe_load(task_file) or []
    names = [task['name'] for task in tasks]
    names += [inner['name'] for task in tasks for inner in task.get('block', [])]
    done = [name for name in names if name in ran]
    print('%s: %s' % (os.path.basename(path), '; '.join(done)))
    if not done:
        missing.append(os.path.basename(path))
sys.exit(1 if missing else 0)
EOF
    fail "a Windows task file ran on no Windows host"
  for host in win-reboot win-open-root; do
    kept=$(echo "$work/results/mixed/"*/hosts/$host)
    cmp "$work/wine/$host/drive_c/Qor/server/patchinfo" "$kept/patchinfo" || fail "$host: kept patchinfo differs"
  done
  cmp "$work/wine/win-reboot/drive_c/QOR_Updates_InstallOS.log" \
    "$(echo "$work/results/mixed/"*/hosts/win-reboot)/QOR_Updates_InstallOS.log" ||
    fail "win-reboot: kept run log differs"
  [ "$(ls "$work/wine/win-ok/drive_c/hotfix")" = $'KB5001234\nKB5001234.SHA256SUMS\nhotfix-preflight.exe' ] ||
    fail "win-ok: the bundle root holds $(ls "$work/wine/win-ok/drive_c/hotfix")"
fi

echo "== report.html in a browser $(elapsed)"
python3 "$here/check_report.py" "$readme" "$work/report.png" "$stop" || fail "report.html"
backout=$(echo "$work/results/${windows_build:+mixed-}backout/"*/)
python3 "$here/check_report.py" --backout "$backout" "$work/back-out-report.png" || fail "back-out report.html"

echo "== console table of the roll-out guide's command"
sed -n '/"classification       hosts"/,/not attempted/p' "$work/results/readme.out" | tail -n 12
echo "== total $(elapsed)"
echo "$problems problems"
[ "$problems" -eq 0 ]
