#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing perch and vigil need.
# Idempotent: when everything is already installed it changes nothing and asks no mirror.
set -euo pipefail

packages=(
  # toolchain
  cmake g++ ninja-build pkg-config clang-format
  # libraries
  nlohmann-json3-dev libglib2.0-dev
  libx11-dev libxi-dev libxtst-dev libxrandr-dev libxfixes-dev libxext-dev libxcursor-dev
  libcairo2-dev libpango1.0-dev libgdk-pixbuf-2.0-dev
  libgtest-dev
  # a sans font for the mascot's text, and SVG avatars
  fonts-dejavu-core librsvg2-common
  # a display for tests and for machines without one, and the X tools the tests compare against
  xvfb x11-xserver-utils x11-utils xinput xauth xcompmgr picom
  # the macOS cross-compilation check (it runs only where a macOS SDK is found)
  clang-14 lld-14 llvm-14 file
  # clang's fuzzer and sanitizer runtimes: scripts/fuzz.sh and the ThreadSanitizer test
  libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q >&2
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
