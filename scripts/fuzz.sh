#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ (clang, ASan + UBSan, warnings are errors) and runs
# them one after the other for the given number of seconds each (default 60), starting from the
# seed corpus in fuzz/corpus/. Inputs that reach new code are kept in build-fuzz/corpus/; an input
# that breaks an invariant or trips a sanitizer is saved in build-fuzz/crashes/ and fails the run.
#
#   scripts/fuzz.sh          # 60 s each, as scripts/test.sh runs it
#   scripts/fuzz.sh 3600     # an hour each
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
dir=build-fuzz

echo "== $dir: configure and build" >&2
cmake -S . -B "$dir" -G Ninja -DFUZZ=ON -DWERROR=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$dir" --target perch_reader_fuzzer vigil_monitor_fuzzer

mkdir -p "$dir/crashes"
for name in perch_reader vigil_monitor; do
  mkdir -p "$dir/corpus/$name"
  options=(-max_total_time="$seconds" -max_len=4096 -timeout=30 -rss_limit_mb=2048
    -print_final_stats=1 -artifact_prefix="$dir/crashes/$name-")
  [ -f "fuzz/$name.dict" ] && options+=(-dict="fuzz/$name.dict")
  echo "== fuzzing $name for ${seconds}s (log: $dir/$name.log)" >&2
  if ! "$dir/bin/${name}_fuzzer" "${options[@]}" "$dir/corpus/$name" "fuzz/corpus/$name" \
    >"$dir/$name.log" 2>&1; then
    tail -n 60 "$dir/$name.log" >&2
    echo "== $name: failed; the input is in $dir/crashes/" >&2
    exit 1
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|^#[0-9]+.*DONE' "$dir/$name.log" >&2 || true
done
