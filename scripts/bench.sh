#!/usr/bin/env bash
# Builds the programs and their benchmarks in release mode (build-release/) and prints one report
# of every figure, each set beside a reference program or drawing measured in the same run:
#   vigil_bench       vigil's key-to-line latency against `xinput test-xi2 --root`, idle CPU, RSS
#   perch_bench       perch's start-up against `xdpyinfo`, idle CPU, feedback CPU without and with
#                     a compositor, peak RSS
#   perch_draw_bench  one feedback frame on the cairo canvas against a plain fill, and as drawn
#                     directly (when present)
#   vigil_kernel_bench vigil on uinput keyboards against evtest, in a virtual machine (when qemu
#                     and the kernel package are there; scripts/vm-test.sh says when it skipped)
# Every benchmark starts its own Xvfb; no display is needed. Figures only: nothing is asserted.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

dir=build-release
echo "== $dir: configure and build" >&2
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=(vigil_bench perch_bench)
has_draw_bench=false
if ninja -C "$dir" -t targets all 2>/dev/null | grep -q '^perch_draw_bench:'; then
  has_draw_bench=true
  targets+=(perch_draw_bench)
fi
cmake --build "$dir" --target "${targets[@]}" >&2

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
{
  echo "Benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "Machine: ${cpu:-unknown CPU}, $(nproc) cores, Linux $(uname -r)," \
    "$(. /etc/os-release && echo "$PRETTY_NAME")"
  echo "Build: $dir (Release, $(${CXX:-c++} --version | head -n1))"
  echo "Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine skews figures)"
  echo
  echo "## vigil ($dir/bin/vigil_bench)"
  "$dir/bin/vigil_bench" | tee "$out/vigil"
  echo
  echo "## perch ($dir/bin/perch_bench)"
  "$dir/bin/perch_bench" | tee "$out/perch"
  echo
  echo "## perch drawing ($dir/bin/perch_draw_bench)"
  if $has_draw_bench; then
    "$dir/bin/perch_draw_bench" | tee "$out/draw"
  else
    echo "  not measured: this checkout has no perch_draw_bench (perch/bench/perch_draw_bench.cpp)"
  fi
  echo
  # Key press through uinput to vigil's line against evtest on the same device, idle CPU, RSS.
  echo "## vigil on the kernel's input devices, in a virtual machine (scripts/vm-test.sh --bench)"
  scripts/vm-test.sh --bench "$dir" 2>"$out/vm.err" | tee "$out/vm" || cat "$out/vm.err"
  grep '^vm:' "$out/vm.err" || true
  echo
  echo "## Ratios against the reference measured in the same run"
  for bench in vigil perch draw vm; do
    [ -f "$out/$bench" ] || continue
    grep -i 'ratio' "$out/$bench" | sed "s/^ */  $bench: /" || true
  done
  # perch's goals: each figure beside its goal, met or MISSED, as the benchmarks judged them.
  echo
  echo "## perch's goals"
  for bench in perch draw; do
    [ -f "$out/$bench" ] || continue
    # A goal line of the draw benchmark follows the figures it judges: print them together.
    awk -v b="$bench" '/: (met|MISSED)\)?$/ { if (prev != "" && $1 == "goal") print "  " b ": " prev;
        sub(/^ */, ""); print "  " b ": " $0 } { prev = $0; sub(/^ */, "", prev) }' "$out/$bench"
  done
  met=$(cat "$out"/perch "$out"/draw 2>/dev/null | grep -cE ': met\)?$' || true)
  missed=$(cat "$out"/perch "$out"/draw 2>/dev/null | grep -cE ': MISSED\)?$' || true)
  echo "  $met met, $missed missed"
} 2>&1
