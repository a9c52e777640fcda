#!/usr/bin/env bash
# The fleet-state view, deploy/ansible/playbooks/status.yml, on the fleet test's hosts of group
# hotfix_state (which nothing else touches), run once as is and once with --check at the same
# time: each host's line (installed and recorded, installed and not recorded, not installed,
# a reboot pending, settings broken, the preflight missing, unreachable), state.csv, the runs'
# exit status and console table, that no file under any host's prefix changed (names, kinds,
# sizes and modification times, listed before and after; drive C of a Windows host), and
# state.html in Chromium. The fleet test makes the hosts and the inventory, and exports the
# Ansible settings, before it calls this; the WINDOWS_HOSTS it names (Wine prefixes in
# WORK_DIR/wine, with the preflight in C:\hotfix) are the hotfix installed and recorded, and not
# installed.
#
#   status_test.sh WORK_DIR INVENTORY [WINDOWS_HOST_RECORDED WINDOWS_HOST_MISSING]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
ansible_dir=$(dirname "$here")
work=$1
inventory=$2
results=$work/results
windows_hosts=("${@:3}")
hosts=(state-recorded state-unrecorded state-missing state-pending state-bad-ini state-no-tool
  state-lost "${windows_hosts[@]}")
problems=0
fail() {
  echo "FAIL: status: $*"
  problems=$((problems + 1))
}

listing() {
  for host in "${hosts[@]}"; do
    if [ -d "$work/wine/$host" ]; then
      find "$work/wine/$host/drive_c" -printf '%p %y %s %T@\n'
    else
      find "$work/prefixes/$host" -printf '%p %y %s %T@\n'
    fi
  done | sort
}

# Runs status.yml (with more ansible-playbook options) into results/NAME, as the fleet test's
# rollouts run: output to NAME.out, exit status to NAME.status.
status() {
  local name=$1 status=0
  shift
  ansible-playbook -i "$inventory" "$ansible_dir/playbooks/status.yml" -e hotfix_fleet_group=hotfix_state \
    -e "hotfix_results_dir=$results/$name" "$@" > "$results/$name.out" 2>&1 || status=$?
  echo "$status" > "$results/$name.status"
  echo "-- $name: exit status $status"
}

listing > "$work/state-before.txt"
status state-check --check &
status state
wait $!
listing > "$work/state-after.txt"
diff "$work/state-before.txt" "$work/state-after.txt" || fail "files under the hosts' prefixes changed"

# The hosts whose state could not be told fail once their lines are written: exit status 2.
cat > "$work/expected-state.txt" <<'EOF'
2
state-recorded   true  true  false installed and recorded  ~ preflight 2: installed
state-unrecorded true  false false installed, not recorded ~ preflight 2: installed
state-missing    false false false not installed           ~ preflight 0: not installed
state-pending    false false true  not installed           ~ preflight 0: not installed
state-bad-ini    -     -     false settings broken         ~ RegKeyValue is missing from ini file.
state-no-tool    -     -     -     tool missing            ~ missing/hotfix-preflight cannot run
state-lost       -     -     -     unreachable             ~ 127.0.0.1
EOF
if [ ${#windows_hosts[@]} -eq 2 ]; then
  printf '%s\n' "${windows_hosts[0]} true  true  false installed and recorded  ~ preflight 2: installed" \
    "${windows_hosts[1]} false false false not installed           ~ preflight 0: not installed" \
    >> "$work/expected-state.txt"
fi
python3 "$here/check_state.py" "$results" "$work/expected-state.txt" state state-check ||
  fail "state lines differ"
for name in state state-check; do
  grep -qE "^ +\"not installed +$((2 + ${#windows_hosts[@]} / 2))\",\$" "$results/$name.out" &&
    grep -qE '^ +"reboot pending +1"$' "$results/$name.out" || fail "$name: no console table"
done
python3 "$here/check_report.py" --state "$(echo "$results/state/"*/)" "$work/state.png" || fail "state.html"
[ "$problems" -eq 0 ]
