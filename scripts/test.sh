#!/usr/bin/env bash
# Builds the presets and runs every test: the 32-bit product's tests under 32-bit Wine (on a WoW64
# and a win32 prefix, in the root of scripts/wine32-root.sh), the x64 build's own tests under
# wine64, then the Linux build's tests, whose end-to-end scenarios also drive the x64 build under
# wine64, then the whole Linux suite again with AddressSanitizer and UBSan, and last a short run of
# every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

presets=(windows-x86 windows-x64 linux linux-asan)
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

passed=0
failed=0
for preset in "${presets[@]}"; do
  echo "== ctest --preset $preset"
  log=$(mktemp)
  ctest --preset "$preset" -j "$jobs" 2>&1 | tee "$log" || true
  summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" || true)
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$summary")
  if [ -z "$summary" ] || [ "$total" -eq 0 ]; then
    echo "no tests ran for $preset" >&2
    failed=$((failed + 1))
  else
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  fi
  rm -f "$log"
done

echo "== fuzz targets, 20 s each"
log=$(mktemp)
scripts/fuzz.sh 20 2>&1 | tee "$log" || true
summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1 || true)
if [ -z "$summary" ]; then
  echo "the fuzz run did not finish" >&2
  failed=$((failed + 1))
else
  passed=$((passed + $(cut -d' ' -f1 <<<"$summary")))
  failed=$((failed + $(cut -d' ' -f3 <<<"$summary")))
fi
rm -f "$log"

# The Windows legs must have run, not just been skipped for want of a build.
for expected in linux:e2e_wine linux:fault_wine linux:preflight_wine windows-x64:platform_test_wine \
  windows-x64:unit_test_wine windows-x86:import_table windows-x86:preflight_import_table \
  windows-x86:hotfix-launcher_version_resource linux:release_package linux:ansible_fleet; do
  [[ $(ctest --preset "${expected%%:*}" -N) == *" ${expected#*:}"* ]] ||
    { echo "the test ${expected#*:} is missing from ${expected%%:*}" >&2; failed=$((failed + 1)); }
done
for leg in wow64 win32; do
  for test in unit_test platform_test e2e fault preflight; do
    [[ $(ctest --preset windows-x86 -N) == *" ${test}_$leg"* ]] ||
      { echo "the 32-bit test ${test}_$leg is missing" >&2; failed=$((failed + 1)); }
  done
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
