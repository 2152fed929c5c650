#!/usr/bin/env bash
# Cross-compiles the macOS programs against a macOS SDK and checks what came out: each program in
# build-macos/bin is an x86_64 Mach-O executable, and only C library, C++ runtime, dispatch and
# blocks symbols are left to be found at run time (flat namespace). Any other symbol bound that way
# is one the SDK's frameworks do not export, which would fail on a Mac; that fails the check.
# Nothing here runs the programs: that needs a Mac.
#
# The SDK comes from $MACOS_SDK, else /opt/macos-sdk. Without one the check is skipped (status 0).
# Needs clang, ld64.lld and the LLVM tools (Debian: clang-14 lld-14 llvm-14) and file.
set -euo pipefail
cd "$(dirname "$0")/.."

sdk=${MACOS_SDK:-/opt/macos-sdk}
if [ ! -d "$sdk" ]; then
  echo "== macOS cross check: SKIPPED (no macOS SDK at $sdk; set MACOS_SDK to check)" >&2
  exit 0
fi

llvm_bin=/usr/lib/llvm-14/bin
objdump=$(PATH="$PATH:$llvm_bin" command -v llvm-objdump || command -v llvm-objdump-14 || true)
for tool in clang clang++ ld64.lld; do
  if ! PATH="$PATH:$llvm_bin" command -v "$tool" >/dev/null; then
    echo "== macOS cross check: FAILED: $tool not found (Debian: clang-14 lld-14 llvm-14)" >&2
    exit 1
  fi
done
if [ -z "$objdump" ] || ! command -v file >/dev/null; then
  echo "== macOS cross check: FAILED: llvm-objdump or file not found (Debian: llvm-14 file)" >&2
  exit 1
fi

dir=build-macos
echo "== $dir: configure and build against $sdk" >&2
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/macos-cross.cmake \
  -DMACOS_SDK="$sdk" -DBUILD_TESTING=OFF -DWERROR=ON >/dev/null
log=$(mktemp)
trap 'rm -f "$log"' EXIT
cmake --build "$dir" --parallel "${CHECK_JOBS:-$(nproc)}" 2>&1 | tee "$log"
# Compiler warnings are errors already; this also catches the linker's.
if grep -qi 'warning:' "$log"; then
  echo "== macOS cross check: FAILED: the build printed warnings" >&2
  exit 1
fi

# A symbol may be bound flat only when it belongs to libSystem or libc++, which the SDK here may
# lack as stubs: C library names (lower case), C++ names (mangled, ABI, unwinder), dispatch and
# blocks. Framework names (CF…, CG…, AX…, IOHID…, NS…, k… constants, Objective-C classes) and the
# Objective-C runtime always resolve through the SDK and must never be among them.
runtime_symbol='^(__Z|___cxa_|___gxx_personality|___dynamic_cast|__Unwind_|_{1,2}dispatch_|__NSConcrete[A-Za-z]*Block$|__?Block_|_{1,3}[a-z])'
framework_symbol='^(_objc_|_k[A-Z])'

status=0
programs=0
for program in "$dir"/bin/*; do
  [ -f "$program" ] && [ -x "$program" ] || continue
  programs=$((programs + 1))
  name=${program##*/}
  kind=$(file -b "$program")
  if [[ $kind != "Mach-O 64-bit x86_64 executable"* ]]; then
    echo "$name: FAILED: file says: $kind" >&2
    status=1
    continue
  fi
  binds=$("$objdump" --macho --bind --lazy-bind "$program")
  if ! grep -q 'libSystem' <<<"$binds"; then
    echo "$name: FAILED: no bind table read from the executable" >&2
    status=1
    continue
  fi
  flat=$(awk '/flat-namespace/ {print $NF}' <<<"$binds" | sort -u)
  stray=$(grep -Ev "$runtime_symbol" <<<"$flat" || true)
  stray+=$'\n'$(grep -E "$framework_symbol" <<<"$flat" || true)
  stray=$(sed '/^$/d' <<<"$stray")
  if [ -n "$stray" ]; then
    echo "$name: FAILED: bound flat-namespace, not found in the SDK's frameworks:" >&2
    sed 's/^/  /' <<<"$stray" >&2
    status=1
    continue
  fi
  frameworks=$(awk '/^__/ && !/flat-namespace/ {print $(NF-1)}' <<<"$binds" | sort -u | paste -sd' ')
  echo "$name: $kind" >&2
  echo "$name: $(grep -c . <<<"$flat") runtime symbols bound flat-namespace; two-level: $frameworks" >&2
done

if [ "$programs" -eq 0 ] || [ ! -x "$dir/bin/vigil" ]; then
  echo "== macOS cross check: FAILED: $dir/bin/vigil was not built" >&2
  exit 1
fi
if [ "$status" -ne 0 ]; then
  echo "== macOS cross check: FAILED" >&2
  exit 1
fi
echo "== macOS cross check: passed (programs checked: $programs; compiled and linked against $sdk, not run)" >&2
