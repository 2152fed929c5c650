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
  libcairo2-dev libpango1.0-dev libgdk-pixbuf-2.0-dev libfreetype-dev libpixman-1-dev
  libgtest-dev
  # vigil's kernel backend: keyboards found through libudev, read through libevdev
  libudev-dev libevdev-dev udev
  # a sans font for the mascot's text, and SVG avatars
  fonts-dejavu-core librsvg2-common
  # logind mocked on a private bus for vigil's session tests: a bus daemon, python3-dbusmock
  dbus-daemon python3-dbusmock
  # a display for tests and for machines without one, and the X tools the tests compare against
  xvfb x11-xserver-utils x11-utils xinput xauth xcompmgr picom
  # a Wayland session for vigil's end-to-end tests: headless sway with Xwayland; perch's tests on
  # the desktops users run also nest it in a window of Xvfb, and drive i3 and openbox
  sway xwayland i3-wm openbox
  # the macOS cross-compilation check (it runs only where a macOS SDK is found)
  clang-14 lld-14 llvm-14 file
  # manual pages (scdoc), the Debian package (dpkg-shlibdeps, lintian, man to check the pages),
  # and xdg-open, through which the demo's mascot reaches its deep-link handler
  scdoc dpkg-dev lintian man-db xdg-utils
  # clang's fuzzer and sanitizer runtimes: scripts/fuzz.sh and the ThreadSanitizer test
  libclang-rt-14-dev
  # vigil's tests on a real kernel (scripts/vm-test.sh): a virtual machine booting Debian's kernel
  # with a busybox initramfs, keyboards made with libevdev through uinput, udev to set them up
  # (it creates the input group), evtest as the benchmark's reference
  qemu-system-x86 linux-image-amd64 busybox-static cpio evtest
)
# udev and libudev-dev come from systemd's source: at any other version than the installed
# libudev1, apt would upgrade systemd with them. Pin them to it.
libudev1=$(dpkg-query -W -f='${Version}' libudev1 2>/dev/null || true)
pinned() {
  case $1 in
    udev | libudev-dev) [ -n "$libudev1" ] && echo "$1=$libudev1" && return ;;
  esac
  echo "$1"
}

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$(pinned "$p")")
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
