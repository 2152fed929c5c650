#!/usr/bin/env bash
# Sets up this machine, builds, and runs both programs wired together by a small host
# (build/bin/demo-host): holding right Alt (or the key given with --key, a vigil key name such as
# left_control) starts perch's start feedback and releasing it stops it; a click on the mascot
# reaches the host through a deep-link handler registered for this run alone and starts it too;
# a drag's "snap" goes back to perch in the next "show". Every line either program writes is
# shown, prefixed with its name.
# With a display this runs live until Ctrl-C. Without one it runs the same host under a private
# Xvfb, scripted through XTest, and saves screenshots (with and without a compositor) to
# out/screenshots/.
#   scripts/run.sh [--key NAME]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target perch vigil demo-host >/dev/null

bin=$PWD/build/bin
shots=$PWD/out/screenshots
say() { printf -- '-- %s\n' "$*"; }

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  say "Live on $DISPLAY."
  exec "$bin/demo-host" "$@"
fi

pids=()
cleanup() {
  # Newest first: the compositor ends before the display it runs on.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT

say "No display: starting a private Xvfb for a scripted run."
work=$(mktemp -d)
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1280x800x24 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
rm -rf "$work"
mkdir -p "$shots/composited"
xsetroot -solid '#4a5a78'  # a desktop colour, so the screenshots show what is see-through
# No desktop session here: the Wayland variables of an outer session do not apply to this X server.
unset WAYLAND_DISPLAY XDG_SESSION_TYPE

"$bin/demo-host" --script --shots "$shots" "$@"
say "Screenshots without a compositor: $shots/perch-idle.png, perch-feedback.png, perch-moved.png"

# The same again with a compositor: the glow and rings are truly translucent.
xcompmgr &
pids+=($!)
sleep 0.5
"$bin/demo-host" --script --shots "$shots/composited" "$@"
say "Screenshots with a compositor: $shots/composited/perch-idle.png, perch-feedback.png, perch-moved.png"
