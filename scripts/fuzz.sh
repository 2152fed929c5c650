#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ (clang, ASan + UBSan, warnings are errors) and runs
# them one after the other for the given number of seconds each (default 30), starting from the
# seed corpus in fuzz/corpus/. Inputs that reach new code are kept in build-fuzz/corpus/; an input
# that breaks an invariant or trips a sanitizer is saved in build-fuzz/crashes/ and fails the run.
# Then a soak of the real perch binary under Xvfb (build/, about 600 commands a second asked for),
# with a new seed each run unless PERCH_SOAK_SEED is set; the seed is printed.
#
#   scripts/fuzz.sh          # 30 s each, as scripts/test.sh runs it
#   scripts/fuzz.sh 3600     # an hour each
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

seconds=${1:-30}
dir=build-fuzz

echo "== $dir: configure and build" >&2
cmake -S . -B "$dir" -G Ninja -DFUZZ=ON -DWERROR=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$clang_cxx" >/dev/null
cmake --build "$dir" --target perch_line_fuzzer perch_reader_fuzzer vigil_monitor_fuzzer

mkdir -p "$dir/crashes"
for name in perch_line perch_reader vigil_monitor; do
  mkdir -p "$dir/corpus/$name"
  seeds=$name
  [ "$name" = perch_line ] && seeds=perch_reader  # the same lines, read without carrying out
  options=(-max_total_time="$seconds" -max_len=4096 -timeout=30 -rss_limit_mb=2048
    -print_final_stats=1 -artifact_prefix="$dir/crashes/$name-")
  [ -f "fuzz/$seeds.dict" ] && options+=(-dict="fuzz/$seeds.dict")
  echo "== fuzzing $name for ${seconds}s (log: $dir/$name.log)" >&2
  if ! "$dir/bin/${name}_fuzzer" "${options[@]}" "$dir/corpus/$name" "fuzz/corpus/$seeds" \
    >"$dir/$name.log" 2>&1; then
    tail -n 60 "$dir/$name.log" >&2
    echo "== $name: failed; the input is in $dir/crashes/" >&2
    exit 1
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|^#[0-9]+.*DONE' "$dir/$name.log" >&2 || true
done

# The real perch binary under Xvfb: wild commands, pointer drags and a compositor coming and going.
echo "== build: perch and its soak" >&2
cmake -S . -B build -G Ninja -DWERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target perch perch_fault_e2e_test
seed=${PERCH_SOAK_SEED:-$(date +%s)}
echo "== soaking perch: $((seconds * 600)) commands, seed $seed (PERCH_SOAK_SEED=$seed repeats it)" >&2
PERCH_SOAK_SEED=$seed PERCH_SOAK_COMMANDS=$((seconds * 600)) \
  build/bin/perch_fault_e2e_test --gtest_filter='PerchSoakTest.*' --gtest_brief=1
