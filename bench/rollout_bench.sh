#!/usr/bin/env bash
# The rollout role's controller cost on simulated fleets of Linux hosts on this machine
# (connection local, pipelining, one launcher prefix each, laid out by the fleet test's host
# maker deploy/ansible/tests/make_host.sh), two measures in one run:
#  - rollouts of the example bundle whose installer runs 20 s (/sleep:20000), serial 100%, on
#    fleets of each size, by an older tree's role (its own playbook, from a `git worktree add` of
#    it) and by this tree's, back to back at each size: the wall time, the wall time less the
#    installer's 20 s per host, the tasks and module runs per host, and the spread of the
#    installers' start times within the wave (the run logs' banner records, max - min);
#  - the fleet-state view (playbooks/status.yml) against a dry run (rollout.yml --check) on one
#    fleet, a third of its hosts with the hotfix installed and recorded.
# Prints Markdown tables. It uses the linux preset's build (the launcher, the preflight and the
# example installer), for both roles: build it first. See bench/README.md.
#
#   bench/rollout_bench.sh [--sizes "12 48 96"] [--forks N] [--old REV] [--status-hosts N]
#                          [--build DIR]
#
# --sizes: the fleets rolled out ("12 48 96", "" for none); --forks: Ansible's forks (10);
# --old: the tree whose role is measured beside this one (d044eda); --status-hosts: the fleet of
# the status/--check rows (96, 0 for none); --build: the linux preset's tree (build/linux).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
sizes="12 48 96" forks=10 old=d044eda status_hosts=96 build=$root/build/linux
usage="usage: bench/rollout_bench.sh [--sizes LIST] [--forks N] [--old REV] [--status-hosts N] [--build DIR]"
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || { echo "$usage" >&2; exit 64; }
  case $1 in
    --sizes) sizes=$2 ;;
    --forks) forks=$2 ;;
    --old) old=$2 ;;
    --status-hosts) status_hosts=$2 ;;
    --build) build=$(cd "$2" && pwd) ;;
    *) echo "$usage" >&2; exit 64 ;;
  esac
  shift 2
done
for program in hotfix-launcher hotfix-preflight example_installer; do
  [ -x "$build/$program" ] || { echo "rollout_bench.sh: no $build/$program: build the linux preset first" >&2; exit 1; }
done

# Debian's own programs first: its python3 runs Ansible. Python keeps its own buffering (see the
# fleet test).
export PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH
unset PYTHONUNBUFFERED
work=$root/build/bench/rollout
examples=$root/examples/KB5001234
make_host=$root/deploy/ansible/tests/make_host.sh
old_tree=$work/old
cleanup() {
  git -C "$root" worktree remove --force "$old_tree" 2>/dev/null || true
}
trap cleanup EXIT
cleanup
rm -rf "$work"
mkdir -p "$work/tmp" "$work/logs" "$work/results"
export ANSIBLE_LOCAL_TEMP=$work/tmp/local ANSIBLE_REMOTE_TEMP=$work/tmp/remote
export ANSIBLE_ASYNC_DIR=$work/tmp/async ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0
export ANSIBLE_PIPELINING=1 ANSIBLE_FORKS=$forks

# The two roles as they are now: the old tree's checkout, and a copy of this tree's deploy/ (its
# collection link included), so that edits during the run change neither.
git -C "$root" worktree add --detach "$old_tree" "$old" >/dev/null 2>&1
cp -a "$root/deploy" "$work/new"
"$make_host" registries "$work/registry"

# A bundle of the example installer with RunParams $2, in $1/KB5001234.
bundle() {
  mkdir -p "$1/KB5001234"
  cp "$build/example_installer" "$1/KB5001234/KB5001234.exe"
  sed "s|^RunParams=.*|RunParams=$2|" "$examples/Installer.ini" > "$1/KB5001234/Installer.ini"
}
bundle "$work/bundle-slow" '/quiet /sleep:20000 /mark'
bundle "$work/bundle" '/quiet /mark'

# A fleet of $1 hosts in $work/fleet, each a fresh prefix, and its inventory; with "patched",
# every third host has the hotfix installed and recorded. Each host's Python is a wrapper that
# notes the host in modules.log before it runs a module, so that the module runs are counted
# where they run.
fleet() {
  local hosts=$1 patched=${2:-} bundle_src=$3 number prefix
  rm -rf "$work/fleet" "$work/tmp"
  mkdir -p "$work/fleet/python" "$work/tmp"
  : > "$work/fleet/modules.log"
  cat > "$work/fleet/inventory.ini" <<EOF
[bench_fleet:vars]
ansible_connection=local
hotfix_platform=linux
hotfix_linux_launcher=$build/hotfix-launcher
hotfix_linux_preflight=$build/hotfix-preflight
hotfix_bundle_src=$bundle_src
[bench_fleet]
EOF
  for number in $(seq "$hosts"); do
    prefix=$work/fleet/host-$number
    if [ -n "$patched" ] && [ $((number % 3)) -eq 0 ]; then
      "$make_host" linux "$prefix" "$work/registry/patched.reg" KB4000001 KB5001234
    else
      "$make_host" linux "$prefix" "$work/registry/server.reg" KB4000001
    fi
    printf '#!/bin/sh\necho host-%s >> %s\nexec /usr/bin/python3 "$@"\n' "$number" \
      "$work/fleet/modules.log" > "$work/fleet/python/host-$number"
    chmod +x "$work/fleet/python/host-$number"
    echo "host-$number hotfix_linux_prefix=$prefix ansible_python_interpreter=$work/fleet/python/host-$number" \
      >> "$work/fleet/inventory.ini"
  done
}

# Runs ansible-playbook (from the folder $2, with the arguments after it) on the fleet of $3
# hosts, its output in logs/$1.out, and prints: the wall seconds, the CPU seconds (the
# controller's and the hosts', which are this machine's processes, reaped by ansible-playbook's),
# the tasks per host (each task's results on the console, counted once per host it names), the
# module runs per host and the exit status.
measure() {
  local name=$1 dir=$2 hosts=$3
  shift 3
  (cd "$dir" && python3 - "$work/logs/$name.out" "$hosts" "$work/fleet/modules.log" \
    ansible-playbook -i "$work/fleet/inventory.ini" -e hotfix_fleet_group=bench_fleet \
    -e "hotfix_results_dir=$work/results/$name" "$@") <<'EOF'
import re, resource, subprocess, sys, time
out, hosts, modules, command = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
start = time.monotonic()
with open(out, 'w') as output:
    status = subprocess.run(command, stdout=output, stderr=subprocess.STDOUT).returncode
seconds = time.monotonic() - start
used = resource.getrusage(resource.RUSAGE_CHILDREN)
tasks, seen = 0, set()
with open(out, errors='replace') as output:
    for line in output:
        if line.startswith(('TASK [', 'PLAY [')):
            tasks, seen = tasks + len(seen), set()
        elif line.startswith('included: '):
            seen.update(re.findall(r'\bhost-\d+\b', line.rsplit(' for ', 1)[-1]))
        else:
            match = re.match(r'(?:ok|changed|skipping|fatal|failed): \[(host-\d+)', line)
            if match:
                seen.add(match.group(1))
tasks += len(seen)
with open(modules) as log:
    runs = sum(1 for _ in log)
print(seconds, used.ru_utime + used.ru_stime, tasks / hosts, runs / hosts, status)
EOF
}

# (seconds - less) / hosts, with a fraction.
per_host() {
  awk -v seconds="$1" -v less="$2" -v hosts="$3" 'BEGIN { print (seconds - less) / hosts }'
}

# The spread, in seconds, of the banner records' time stamps in the fleet's run logs (max - min),
# and how many run logs had one; the records' time stamps are the host's local time to the
# second.
spread() {
  python3 - "$work/fleet" <<'EOF'
import datetime, glob, re, sys
starts = []
for path in glob.glob(sys.argv[1] + '/host-*/drive_c/**/*', recursive=True):
    try:
        with open(path, 'rb') as log:
            text = log.read().decode('latin-1')
    except (IsADirectoryError, PermissionError):
        continue
    for match in re.finditer(r'^(\d+/\d+/\d+ \d+:\d+:\d+) : \*+ +QOR: New OS Patch', text, re.M):
        starts.append(datetime.datetime.strptime(match.group(1), '%m/%d/%Y %H:%M:%S'))
print((max(starts) - min(starts)).total_seconds() if starts else 'none', len(starts))
EOF
}

installer=20
if [ -n "$sizes" ]; then
  echo "| role | hosts | elapsed s | (elapsed - ${installer} s) per host, s | tasks per host | module runs per host | installers' start spread s | run logs | exit status |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
  for hosts in $sizes; do
    for role in "$old" current; do
      fleet "$hosts" "" "$work/bundle-slow/KB5001234"
      if [ "$role" = current ]; then
        read -r wall cpu tasks runs status < <(measure "current-$hosts" "$work/new/ansible" "$hosts" \
          playbooks/rollout.yml -e hotfix_serial=100%)
      else
        read -r wall cpu tasks runs status < <(ANSIBLE_ROLES_PATH=$old_tree/deploy/ansible/roles \
          measure "old-$hosts" "$old_tree/deploy/ansible" "$hosts" rollout.yml -e hotfix_serial=100%)
      fi
      read -r seconds logs < <(spread)
      printf '| %s | %d | %.1f | %.2f | %.1f | %.1f | %s | %d | %d |\n' "$role" "$hosts" "$wall" \
        "$(per_host "$wall" "$installer" "$hosts")" "$tasks" "$runs" "$seconds" "$logs" "$status"
    done
  done
  echo
fi

if [ "$status_hosts" -gt 0 ]; then
  echo "| playbook | hosts | elapsed s | elapsed s per host | CPU s | CPU s per host | module runs per host | exit status |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|"
  for playbook in status.yml 'rollout.yml --check'; do
    fleet "$status_hosts" patched "$work/bundle/KB5001234"
    # shellcheck disable=SC2086 # the playbook's options are words
    read -r wall cpu tasks runs status < <(measure "${playbook%% *}" "$work/new/ansible" "$status_hosts" \
      playbooks/$playbook -e hotfix_serial=100% -e hotfix_max_fail_percentage=100)
    printf '| %s | %d | %.1f | %.2f | %.1f | %.2f | %.1f | %d |\n' "$playbook" "$status_hosts" "$wall" \
      "$(per_host "$wall" 0 "$status_hosts")" "$cpu" "$(per_host "$cpu" 0 "$status_hosts")" "$runs" "$status"
  done
  echo
fi
echo "forks $forks, $(nproc) cores, load average at the end: $(cut -d' ' -f1-3 /proc/loadavg); outputs in $work"
