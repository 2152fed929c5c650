#!/usr/bin/env bash
# Sets up this machine, builds, and runs the programs: live on the user's display when there is
# one; otherwise under a private Xvfb with a short scripted demo that also saves screenshots.
# Every event line is printed, prefixed with the program that wrote it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build >/dev/null

bin=$PWD/build/bin
shots=$PWD/out/screenshots
pids=()
cleanup() {
  # Newest first: the programs end before the display they run on.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT

say() { printf -- '-- %s\n' "$*" >&2; }

# A small scripted host for perch: it shows the mascot, starts the start feedback, moves it.
# With "live" it then keeps perch running so the mascot can be clicked and dragged.
perch_host() {
  local mode=$1
  shot() { [ "$mode" = live ] || "$bin/x11-screenshot" "$shots/$1.png"; }
  say "perch: show at (200, 150)"
  echo '{"command":"show","x":200,"y":150}'
  sleep 1
  shot perch-idle
  say "perch: startFeedback (3 seconds of listening)"
  echo '{"command":"startFeedback"}'
  sleep 1
  shot perch-feedback
  sleep 2.5
  say "perch: show at (600, 300)"
  echo '{"command":"show","x":600,"y":300}'
  sleep 1
  shot perch-moved
  if [ "$mode" = live ]; then
    say "perch: click the mascot (opens its deep link) or drag it (a snap line follows); Ctrl-C ends"
    sleep infinity
  fi
  echo '{"command":"quit"}'
}

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  say "Live on $DISPLAY: vigil reports modifier keys as you press them."
  "$bin/vigil" > >(sed -u 's/^/vigil: /') &
  pids+=($!)
  perch_host live | "$bin/perch" | sed -u 's/^/perch: /'
  exit 0
fi

say "No display: starting a private Xvfb for a scripted demo."
work=$(mktemp -d)
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1280x800x24 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
rm -rf "$work"
mkdir -p "$shots"
xsetroot -solid '#4a5a78'  # a desktop colour, so the screenshots show what is see-through

# The injected keys reach this Xvfb alone: its X11 backend, even from a Wayland session.
"$bin/vigil" --backend x11 > >(sed -u 's/^/vigil: /') &
pids+=($!)
sleep 0.5
say "vigil: left Shift, right Shift, left Super held while right Super is tapped, left and right" \
    "Alt, left Control, then the letter a (which vigil never reports)"
"$bin/xtest-keys" --delay 100 tap:50 tap:62 press:133 tap:134 release:133 tap:64 tap:108 tap:37 tap:38
sleep 0.3

perch_host demo | "$bin/perch" | sed -u 's/^/perch: /'
say "Screenshots without a compositor: $shots/perch-idle.png, perch-feedback.png, perch-moved.png"

# The same again with a compositor: the glow and rings are truly translucent.
xcompmgr &
pids+=($!)
sleep 0.5
shots=$shots/composited
mkdir -p "$shots"
perch_host demo | "$bin/perch" | sed -u 's/^/perch: /'
say "Screenshots with a compositor: $shots/perch-idle.png, perch-feedback.png, perch-moved.png"
