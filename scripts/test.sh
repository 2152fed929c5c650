#!/usr/bin/env bash
# Sets up this machine and runs every test twice: in a normal build (warnings are errors) and in
# a build with AddressSanitizer and UndefinedBehaviorSanitizer. End-to-end tests start their own
# Xvfb, so no display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

run_suite() {
  local dir=$1
  shift
  echo "== $dir: configure and build" >&2
  cmake -S . -B "$dir" -G Ninja -DWERROR=ON "$@" >/dev/null
  cmake --build "$dir"
  echo "== $dir: tests" >&2
  ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON

# The macOS programs, cross-compiled and audited against a macOS SDK when one is here (it says
# plainly when it skipped the check).
scripts/check-macos.sh
