#!/usr/bin/env bash
# The rollout role's controller cost on a simulated fleet of Linux hosts on this machine
# (connection local, pipelining, one launcher prefix each, the example bundle; a third of the
# hosts have the hotfix installed and recorded): the wall and CPU time of the fleet-state view
# (deploy/ansible/playbooks/status.yml, every host at once) and of a dry run of the rollout
# (playbooks/rollout.yml --check, serial 100%), each run once, one after the other, with the
# same forks. Prints one Markdown table. It uses the linux preset's build (the launcher, the
# preflight and the example installer): build it first.
#
#   bench/rollout_bench.sh [--hosts N] [--forks N] [--build DIR] [--preflight PATH]
#
# --hosts: the fleet's size (96); --forks: Ansible's forks (10); --build: the linux preset's tree
# (build/linux); --preflight: the preflight the hosts run (the build's).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
hosts=96 forks=10 build=$root/build/linux preflight=
while [ $# -gt 0 ]; do
  case $1 in
    --hosts) hosts=$2 ;;
    --forks) forks=$2 ;;
    --build) build=$(cd "$2" && pwd) ;;
    --preflight) preflight=$2 ;;
    *) echo "usage: bench/rollout_bench.sh [--hosts N] [--forks N] [--build DIR] [--preflight PATH]" >&2
       exit 64 ;;
  esac
  shift 2
done
preflight=${preflight:-$build/hotfix-preflight}
for program in "$build/hotfix-launcher" "$preflight" "$build/example_installer"; do
  [ -x "$program" ] || { echo "rollout_bench.sh: no $program: build the linux preset first" >&2; exit 1; }
done

# Debian's own programs first: its python3 runs Ansible.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH
work=$root/build/bench/rollout
rm -rf "$work"
mkdir -p "$work/tmp" "$work/bundle/KB5001234" "$work/results"
export ANSIBLE_LOCAL_TEMP=$work/tmp/local ANSIBLE_REMOTE_TEMP=$work/tmp/remote
export ANSIBLE_ASYNC_DIR=$work/tmp/async ANSIBLE_ROLES_PATH=$root/deploy/ansible/roles
export ANSIBLE_COLLECTIONS_PATH=$root/deploy/collections ANSIBLE_NOCOLOR=1
export ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_PIPELINING=1 ANSIBLE_FORKS=$forks

examples=$root/examples/KB5001234
cp "$build/example_installer" "$work/bundle/KB5001234/KB5001234.exe"
cp "$examples/Installer.ini" "$work/bundle/KB5001234/"
inventory=$work/fleet.ini
cat > "$inventory" <<EOF
[bench_fleet:vars]
ansible_connection=local
ansible_python_interpreter=/usr/bin/python3
hotfix_platform=linux
hotfix_linux_launcher=$build/hotfix-launcher
hotfix_linux_preflight=$preflight
hotfix_bundle_src=$work/bundle/KB5001234
[bench_fleet]
EOF
for number in $(seq "$hosts"); do
  prefix=$work/prefixes/host-$number
  mkdir -p "$prefix/drive_c/Qor/server"
  cp "$examples/server.reg" "$prefix/HKLM.reg"
  printf 'KB4000001\r\n' > "$prefix/drive_c/Qor/server/patchinfo"
  if [ $((number % 3)) -eq 0 ]; then
    printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleHotfix]\r\n"Installed"=dword:00000001\r\n' \
      >> "$prefix/HKLM.reg"
    printf 'KB5001234\r\n' >> "$prefix/drive_c/Qor/server/patchinfo"
  fi
  echo "host-$number hotfix_linux_prefix=$prefix" >> "$inventory"
done

# Runs a playbook (with more options) into results/NAME and prints its table row, LABEL first:
# wall and CPU seconds (the controller's and the hosts', which are this machine's processes,
# reaped by ansible-playbook's), and per host.
row() {
  local name=$1 label=$2 playbook=$3
  shift 3
  python3 - "$label" "$hosts" "$work/$name.out" ansible-playbook -i "$inventory" \
    "$root/deploy/ansible/playbooks/$playbook" -e hotfix_fleet_group=bench_fleet \
    -e "hotfix_results_dir=$work/results/$name" "$@" <<'EOF'
import resource, subprocess, sys, time
name, hosts, out, command = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
start = time.monotonic()
with open(out, 'w') as output:
    status = subprocess.run(command, stdout=output, stderr=subprocess.STDOUT).returncode
seconds = time.monotonic() - start
used = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = used.ru_utime + used.ru_stime
print('| %s | %d | %.1f | %.2f | %.1f | %.2f | %d |'
      % (name, hosts, seconds, seconds / hosts, cpu, cpu / hosts, status))
EOF
}

echo "| playbook | hosts | elapsed s | elapsed s per host | CPU s | CPU s per host | exit status |"
echo "|---|---:|---:|---:|---:|---:|---:|"
row status status.yml status.yml
row check 'rollout.yml --check' rollout.yml --check -e hotfix_serial=100% -e hotfix_max_fail_percentage=100
echo
echo "forks $forks, load average before: $(cut -d' ' -f1-3 /proc/loadavg); outputs in $work"
