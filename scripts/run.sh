#!/usr/bin/env bash
# Sets up this machine, builds, and runs the programs: live on the user's display when there is
# one; otherwise under a private Xvfb with a short scripted demo. Every event line is printed,
# prefixed with the program that wrote it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build >/dev/null

bin=$PWD/build/bin
pids=()
cleanup() {
  # Newest first: the programs end before the display they run on.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "Live on $DISPLAY. vigil reports modifier keys as you press them; Ctrl-C ends." >&2
  "$bin/vigil" | sed -u 's/^/vigil: /'
  exit 0
fi

echo "No display: starting a private Xvfb for a scripted demo." >&2
work=$(mktemp -d)
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1280x800x24 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"

"$bin/vigil" > >(sed -u 's/^/vigil: /') &
pids+=($!)
sleep 0.5
echo "-- left Shift, right Shift, left Super held while right Super is tapped, left and right Alt," \
     "left Control, then the letter a (which vigil never reports)" >&2
"$bin/xtest-keys" --delay 100 tap:50 tap:62 press:133 tap:134 release:133 tap:64 tap:108 tap:37 tap:38
sleep 0.3
rm -rf "$work"
