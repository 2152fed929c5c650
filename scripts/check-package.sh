#!/usr/bin/env bash
# Checks what reaches users, from a configured and built folder (default build/): the files that
# `cmake --install` puts under a prefix, the manual pages as man renders them, and the Debian
# package: lintian's verdict, its dependencies, and both programs run from where it installs them
# (unpacked into a throwaway root, under a private Xvfb).
# Prints one "ok" line per check and, last, "package checks: N passed"; stops at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

passed=0
pass() { passed=$((passed + 1)); echo "ok $passed - $*"; }
fail() { echo "FAIL - $*" >&2; exit 1; }

work=$(mktemp -d)
xvfb=""
cleanup() {
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# 1. The install holds the two programs, perch's drawing library, vigil's example udev rule and
# the pages, nothing else.
cmake --install "$build" --prefix "$work/prefix" >/dev/null
installed=$(cd "$work/prefix" && find . -type f -o -type l | sort | tr '\n' ' ')
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
expected="./bin/perch ./bin/vigil ./lib/$multiarch/perch/perch-drawing.so \
./share/doc/perch-vigil/examples/70-vigil-uaccess.rules ./share/man/man1/perch.1 \
./share/man/man1/vigil.1 "
[ "$installed" = "$expected" ] || fail "cmake --install put: $installed (expected: $expected)"
pass "cmake --install: ${installed% }"

# 2. Both pages render at 80 columns without a single warning, and carry the version.
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[ -n "$version" ] || fail "no CPACK_PACKAGE_VERSION in $build/CPackConfig.cmake"
for page in perch vigil; do
  MANWIDTH=80 man --warnings -l "$work/prefix/share/man/man1/$page.1" >"$work/$page.txt" \
    2>"$work/$page.err"
  [ ! -s "$work/$page.err" ] || fail "man warns on $page.1: $(cat "$work/$page.err")"
  grep -q "^SYNOPSIS" "$work/$page.txt" || fail "$page.1 renders without a SYNOPSIS"
  grep -q "perch-vigil $version" "$work/$page.txt" || fail "$page.1 does not carry $version"
done
pass "man --warnings: perch.1 and vigil.1 render cleanly, version $version"

# 3. The package, and lintian's verdict on it: no error (warnings and notes are listed).
(cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1 || fail "cpack failed: $(cat "$work/cpack.log")"
deb="$build/perch-vigil_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "cpack made no $deb"
lintian --display-info --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>/dev/null || true
sed 's/^/  lintian: /' "$work/lintian.txt"
if grep -q '^E:' "$work/lintian.txt"; then fail "lintian reports errors on $deb"; fi
pass "lintian: no errors on $(basename "$deb") ($(grep -c '^[WI]:' "$work/lintian.txt" || true) warnings and notes)"

# 4. Its dependencies were worked out from the binaries: the libraries both programs link, and
# gdk-pixbuf, which perch opens only to read an avatar.
depends=$(dpkg-deb -f "$deb" Depends)
echo "  Depends: $depends"
for library in libc6 libstdc++6 libx11-6 libxi6 libglib2.0-0 libcairo2 libpango-1.0-0 \
    libgdk-pixbuf-2.0-0; do
  [[ "$depends" == *"$library "* || "$depends" == *"$library," || "$depends" == *"$library" ]] ||
    fail "the package does not depend on $library"
done
pass "dependencies from the binaries: $(echo "$depends" | tr ',' '\n' | wc -l) packages"

# 5. Unpacked into a throwaway root, both programs run from their installed paths.
dpkg-deb -x "$deb" "$work/root"
for file in usr/bin/perch usr/bin/vigil usr/lib/$multiarch/perch/perch-drawing.so usr/share/man/man1/perch.1.gz \
    usr/share/man/man1/vigil.1.gz usr/share/doc/perch-vigil/copyright \
    usr/share/doc/perch-vigil/changelog.gz usr/share/doc/perch-vigil/examples/70-vigil-uaccess.rules; do
  [ -e "$work/root/$file" ] || fail "the package lacks /$file"
done
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
display=":$(head -n1 "$work/display")"
run() { env -u WAYLAND_DISPLAY -u XDG_SESSION_TYPE DISPLAY="$display" "$@"; }

run timeout 2 "$work/root/usr/bin/vigil" >"$work/vigil.out" 2>"$work/vigil.err" || true
head -n3 "$work/vigil.out" | sed 's/^/  vigil: /'
[ "$(sed -n 1p "$work/vigil.out")" = '{"event":"status","state":"starting"}' ] ||
  fail "the installed vigil's first line is wrong"
grep -q '^{"event":"capability","platform":"linux",' <(sed -n 2p "$work/vigil.out") ||
  fail "the installed vigil's second line is no capability line"
[ ! -s "$work/vigil.err" ] || fail "the installed vigil wrote to stderr: $(cat "$work/vigil.err")"
pass "installed /usr/bin/vigil starts and reports its capabilities"

coproc PERCH { run "$work/root/usr/bin/perch" 2>"$work/perch.err"; }
perch_pid=$PERCH_PID
IFS= read -r -t 10 first <&"${PERCH[0]}" || first=""
echo "  perch: $first"
[ "$first" = '{"event":"status","message":"ready"}' ] || fail "the installed perch said: $first"
# A show draws: perch opens its drawing library from where the package put it.
echo '{"command":"show","x":100,"y":100}' >&"${PERCH[1]}"
shown=false
for _ in $(seq 100); do
  if run xwininfo -root -tree 2>/dev/null | grep -q '"perch".*56x56'; then shown=true; break; fi
  sleep 0.1
done
echo '{"command":"quit"}' >&"${PERCH[1]}"
status=0
wait "$perch_pid" || status=$?
$shown || fail "the installed perch showed no 56x56 window"
[ "$status" -eq 0 ] || fail "the installed perch exited with $status after quit"
[ ! -s "$work/perch.err" ] || fail "the installed perch wrote to stderr: $(cat "$work/perch.err")"
pass "installed /usr/bin/perch says ready, shows the mascot and quits on quit"

echo "package checks: $passed passed"
