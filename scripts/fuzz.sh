#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang and runs each for SECONDS (default 20), one
# after another, on a scratch copy of its starting corpus: scripts/fuzz.sh [SECONDS] [TARGET...].
# A crash, sanitizer report, leak or broken invariant fails the target; its input is kept under
# build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [SECONDS] [TARGET...]" >&2; exit 2; }
shift $(($# > 0 ? 1 : 0))
targets=("$@")
[ ${#targets[@]} -gt 0 ] ||
  targets=(command_tail module_path profile reg_file check merge command_line arguments json)

scripts/install-deps.sh
cmake -S fuzz -B build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz -j "$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build/fuzz/findings build/fuzz/logs
passed=0
failed=0
for target in "${targets[@]}"; do
  [ -d "fuzz/corpus/$target" ] || { echo "unknown fuzz target: $target" >&2; exit 2; }
  # New inputs go to the scratch copy only, never into the starting corpus in the repository.
  cp -r "fuzz/corpus/$target" "$work/$target"
  log=build/fuzz/logs/$target.log
  findings=build/fuzz/findings/$target-
  rm -f "$findings"*
  status=0
  "build/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings" "$work/$target" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$status" -eq 0 ] && ! compgen -G "$findings*" >/dev/null; then
    echo "$target: ${executions:-0} executions, no finding"
    passed=$((passed + 1))
  else
    echo "$target: FAILED after ${executions:-?} executions (exit $status); log: $log" >&2
    ls "$findings"* 2>/dev/null >&2 || true
    grep -E -m 12 'ERROR|SUMMARY|invariant broken|runtime error|^ *#[0-9]' "$log" >&2 || true
    failed=$((failed + 1))
  fi
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
