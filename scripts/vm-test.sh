#!/usr/bin/env bash
# vigil on a real kernel: builds vigil and its kernel test in each BUILD_DIR (already configured
# or configured here), boots one throwaway virtual machine (testing/vm/vm-run.sh) and runs every
# build's test in it against that build's vigil, as root and as a user without the input group.
#   scripts/vm-test.sh [BUILD_DIR...]          default: build
#   scripts/vm-test.sh --bench [BUILD_DIR]     vigil_kernel_bench instead (figures only)
# Last line: "vm tests: N passed, 0 failed", or "vm tests: skipped: REASON" (exit 0) where this
# machine cannot boot the guest; exit 1 when a test failed. VIGIL=PATH tests that binary instead
# of each build's own.
set -euo pipefail
cd "$(dirname "$0")/.."

bench=false
if [ "${1:-}" = --bench ]; then
  bench=true
  shift
fi
dirs=("$@")
[ ${#dirs[@]} -gt 0 ] || dirs=(build)
target=vigil_kernel_e2e_test
$bench && target=vigil_kernel_bench

skip() {
  echo "vm tests: skipped: $*"
  exit 0
}

[ -n "${VIGIL:-}" ] || [ -d vigil/evdev ] || skip "this tree's vigil has no evdev backend"
[ -x /usr/bin/qemu-system-x86_64 ] || skip "no qemu-system-x86_64 (Debian package qemu-system-x86)"

commands=()
for dir in "${dirs[@]}"; do
  [ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -G Ninja -DWERROR=ON >/dev/null
  if ! ninja -C "$dir" -t targets all 2>/dev/null | grep -q "^$target:"; then
    skip "$dir has no $target (libevdev-dev missing when it was configured?)"
  fi
  echo "== $dir: build vigil and $target" >&2
  cmake --build "$dir" --target vigil "$target" >&2
  bin=$(cd "$dir/bin" && pwd)
  vigil=${VIGIL:-$bin/vigil}
  if $bench; then
    commands+=("$bin/$target $vigil")
  else
    commands+=("echo '== $dir: $vigil'; $bin/$target $vigil --gtest_brief=1 || status=1")
  fi
done

# Sanitizer builds report on standard error, which the test reads, and fail on the first finding.
script="status=0; export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
for command in "${commands[@]}"; do script+="; $command"; done
script+='; exit $status'

log=$(mktemp)
trap 'rm -f "$log"' EXIT
set +e
testing/vm/vm-run.sh --timeout 600 -- /bin/bash -c "$script" >"$log"
status=$?
set -e
[ $status -eq 77 ] && skip "this machine cannot boot the guest (see above)"
cat "$log"
$bench && exit $status

passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$log" | awk '{ n += $1 } END { print n + 0 }')
failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:$/\1/p' "$log" | awk '{ n += $1 } END { print n + 0 }')
if [ $status -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
echo "vm tests: $passed passed, $failed failed"
[ $status -eq 0 ]
