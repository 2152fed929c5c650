#!/usr/bin/env bash
# Sets up this machine and runs every test twice: in a normal build (warnings are errors) and in
# a build with AddressSanitizer and UndefinedBehaviorSanitizer. End-to-end tests start their own
# Xvfb, so no display is needed.
# Then the command hand-off under ThreadSanitizer and a short fuzzing run (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
. scripts/common.sh

passed=0
# add_passed WHAT FILE PATTERN: adds the number that the sed expression PATTERN prints from FILE,
# the summary of the step WHAT; a summary that is missing or not understood stops the run, saying so.
add_passed() {
  local n
  n=$(sed -n "$3" "$2" | tail -n 1)
  if ! [[ $n =~ ^[0-9]+$ ]]; then
    echo "tests: $1 printed no summary that this script understands (see $2)" >&2
    exit 1
  fi
  passed=$((passed + n))
}
run_suite() {
  local dir=$1
  shift
  echo "== $dir: configure and build" >&2
  # HEAVY_TESTS: the heaviest fault tests (label "heavy"), which a plain ctest leaves out, run too.
  cmake -S . -B "$dir" -G Ninja -DWERROR=ON -DHEAVY_TESTS=ON "$@" >/dev/null
  cmake --build "$dir"
  echo "== $dir: tests" >&2
  ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" | tee "$dir/ctest.log"
  # ctest's own summary, "100% tests passed, 0 tests failed out of N": N counts toward the total.
  add_passed "ctest in $dir" "$dir/ctest.log" 's/.*tests passed, 0 tests failed out of \([0-9]*\)$/\1/p'
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
# What reaches users, from that build: the install, the manual pages, the Debian package run
# from a throwaway root. Each of its checks counts as one test.
echo "== build: install, manual pages and the Debian package" >&2
scripts/check-package.sh build | tee build/package.log
add_passed "the package check" build/package.log 's/^package checks: \([0-9]*\) passed$/\1/p'
# perch reads input about 15 times slower under ASan: its noise test gets 128 MiB, not 1 GiB.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  PERCH_NOISE_MIB=128 run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON

# perch's reader thread handing commands to the main loop, the one place where two threads meet,
# under ThreadSanitizer (clang). Only that test: nothing else in either program is threaded.
echo "== build-tsan: the command hand-off under ThreadSanitizer" >&2
cmake -S . -B build-tsan -G Ninja -DWERROR=ON -DTSAN=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER="$clang_cxx" >/dev/null
cmake --build build-tsan --target command_hand_off_test
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build-tsan/bin/command_hand_off_test
passed=$((passed + $(build-tsan/bin/command_hand_off_test --gtest_list_tests | grep -c '^  ')))

# vigil on a real kernel's keyboards (uinput, udev), in one throwaway virtual machine for both
# builds above; it says plainly when it skipped (no qemu, no kernel package).
scripts/vm-test.sh build build-asan | tee build/vm-test.log
# It ends with "vm tests: N passed, 0 failed", or "vm tests: skipped: REASON" where no guest boots.
if ! grep -q '^vm tests: skipped: ' build/vm-test.log; then
  add_passed "the VM test" build/vm-test.log 's/^vm tests: \([0-9]*\) passed, 0 failed$/\1/p'
fi

# perch's command reading (fast and slow) and vigil's modifier tracking under libFuzzer, 30 s
# each, then a longer soak of the real perch with a second fixed seed (scripts/fuzz.sh alone
# draws a new one each run).
PERCH_SOAK_SEED=2 scripts/fuzz.sh 30

# The macOS programs, cross-compiled and audited against a macOS SDK when one is here (it says
# plainly when it skipped the check).
scripts/check-macos.sh

# Every step above stops the script on a failure, so reaching here means all of them passed.
echo "tests: $passed passed, 0 failed"
