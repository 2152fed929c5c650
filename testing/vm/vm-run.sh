#!/usr/bin/env bash
# Boots a throwaway virtual machine on Debian's own kernel and runs one command in it as root.
#
#   testing/vm/vm-run.sh [--cache DIR] [--timeout SECONDS] -- COMMAND [ARG...]
#
# The guest sees the host's root file system read-only over virtio 9p, with a tmpfs overlay for
# its writes, so COMMAND and everything it runs are the host's own files at the same paths. The
# initramfs is busybox-static plus the few modules needed to reach that root and the input
# devices (virtio 9p, overlay, evdev, uinput); no disk image, nothing downloaded. In the guest
# systemd-udevd runs, as on a desktop, for the input and misc subsystems only.
#
# COMMAND's standard output and error come back here once the guest is done; the exit status is
# COMMAND's. The decompressed kernel and the initramfs are cached in DIR (default build/vm).
# Exit status 77 with a line on standard error: this machine cannot run the guest (no qemu, no
# kernel package, no busybox-static); nothing was tried.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=$(cd "$here/../.." && pwd)/build/vm
timeout=600
while [ $# -gt 0 ]; do
  case $1 in
    --cache) cache=$2; shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "usage: $0 [--cache DIR] [--timeout SECONDS] -- COMMAND [ARG...]" >&2; exit 2 ;;
  esac
done
[ $# -gt 0 ] || { echo "$0: no command given" >&2; exit 2; }

cannot() {
  echo "$*" >&2
  exit 77
}

qemu=/usr/bin/qemu-system-x86_64
firmware=/usr/share/qemu/qboot.rom
busybox=/bin/busybox
[ -x $qemu ] || cannot "no $qemu (Debian package qemu-system-x86)"
[ -r $firmware ] || cannot "no $firmware (Debian package qemu-system-x86)"
[ -x $busybox ] && file -L $busybox | grep -q 'statically linked' ||
  cannot "no static $busybox (Debian package busybox-static)"

# Debian's newest kernel that has its modules installed, unless VM_KERNEL names a version.
version=${VM_KERNEL:-}
if [ -z "$version" ]; then
  for image in $(ls /boot/vmlinuz-* 2>/dev/null | sort -V -r); do
    v=${image#/boot/vmlinuz-}
    if [ -f "/lib/modules/$v/modules.dep" ]; then
      version=$v
      break
    fi
  done
fi
[ -n "$version" ] && [ -r "/boot/vmlinuz-$version" ] ||
  cannot "no kernel with its modules in /boot and /lib/modules (Debian package linux-image-amd64)"
modules=/lib/modules/$version

mkdir -p "$cache"

# The kernel, decompressed once from its bzImage: the guest then skips decompressing it itself,
# which takes seconds under software emulation. qemu boots the ELF through its PVH entry point.
kernel=$cache/vmlinux-$version
if [ ! -s "$kernel" ] || [ "/boot/vmlinuz-$version" -nt "$kernel" ]; then
  image=/boot/vmlinuz-$version
  extracted=false
  # Magic numbers of the compressors a bzImage may use, and how to undo each.
  for format in $'\xfd7zXZ:xz -dc --single-stream' $'\x28\xb5\x2f\xfd:zstd -dcq' \
    $'\x1f\x8b\x08:gzip -dcq' $'\x02\x21\x4c\x18:lz4 -dcq'; do
    magic=${format%%:*}
    tool=${format#*:}
    command -v "${tool%% *}" >/dev/null || continue
    for offset in $(LC_ALL=C grep -abo "$magic" "$image" | cut -d: -f1 | head -n 4); do
      if tail -c +$((offset + 1)) "$image" | $tool >"$kernel.tmp.$$" 2>/dev/null ||
        [ -s "$kernel.tmp.$$" ]; then
        if file "$kernel.tmp.$$" | grep -q 'ELF 64-bit'; then
          mv "$kernel.tmp.$$" "$kernel"
          extracted=true
          break 2
        fi
      fi
    done
  done
  rm -f "$kernel.tmp.$$"
  # The compressed image boots too, only slower.
  $extracted || kernel=$image
fi

# Modules to load, in dependency order from modules.dep; built-in ones are skipped.
wanted="virtio_pci 9pnet_virtio 9p overlay evdev uinput"
module_paths() {
  awk -v want="$wanted" -v builtin="$modules/modules.builtin" '
    function base(path, b) { b = path; sub(/.*\//, "", b); sub(/\.ko.*$/, "", b); gsub(/-/, "_", b); return b }
    function visit(path, n, d, i) {
      if (path in seen) return
      seen[path] = 1
      n = split(deps[path], d, " ")
      for (i = n; i >= 1; i--) visit(d[i])
      print path
    }
    BEGIN { while ((getline line < builtin) > 0) inside[base(line)] = 1 }
    {
      path = $1; sub(/:$/, "", path)
      deps[path] = ""
      for (i = 2; i <= NF; i++) deps[path] = deps[path] " " $i
      byname[base(path)] = path
    }
    END {
      n = split(want, w, " ")
      for (i = 1; i <= n; i++) {
        name = w[i]; gsub(/-/, "_", name)
        if (name in inside) continue
        if (!(name in byname)) { print "missing module " name > "/dev/stderr"; exit 1 }
        visit(byname[name])
      }
    }' "$modules/modules.dep"
}

initramfs=$cache/initramfs-$version.cpio
if [ ! -s "$initramfs" ] || [ "$here/init" -nt "$initramfs" ] || [ "$0" -nt "$initramfs" ]; then
  stage=$(mktemp -d "$cache/initramfs.XXXXXX")
  mkdir -p "$stage"/{bin,dev,proc,sys,lower,rw,newroot,modules}
  cp $busybox "$stage/bin/busybox"
  cp "$here/init" "$stage/init"
  chmod 755 "$stage/init"
  : >"$stage/modules/order"
  for path in $(module_paths); do
    cp "$modules/$path" "$stage/modules/"
    basename "$path" >>"$stage/modules/order"
  done
  (cd "$stage" && find . | cpio -o -H newc --quiet) >"$initramfs.tmp.$$"
  mv "$initramfs.tmp.$$" "$initramfs"
  rm -rf "$stage"
fi

# KVM only where the CPU has hardware virtualisation; a paravirtual /dev/kvm does not boot
# Debian's kernel. Software emulation (TCG) needs nothing from the host.
accel=(-machine pc,accel=tcg)
if grep -qwE 'vmx|svm' /proc/cpuinfo && [ -w /dev/kvm ]; then
  accel=(-machine pc,accel=kvm -cpu host)
fi

run=$(mktemp -d "$cache/run.XXXXXX")
trap '[ -n "${VM_VERBOSE:-}" ] && cat "$run/console" >&2; rm -rf "$run"' EXIT
printf '%q ' "$@" >"$run/command"
echo >>"$run/command"

append="console=ttyS0 quiet loglevel=3 panic=-1 cryptomgr.notests acpi=off mitigations=off"
append+=" rodata=off tsc=reliable vmguest=$here/guest.sh vmrun=$run"
# Under emulation the guest's TSC is the host's, but the kernel cannot calibrate it (no HPET
# without ACPI, the emulated PIT too irregular) and falls back to jiffies: 4 ms steps, which
# would make every latency figure 0 or 4000 us. Told the host's rate, it keeps the TSC.
if [ "${accel[1]}" = pc,accel=tcg ]; then
  khz=$(awk -F: '/^cpu MHz/ { printf "%d", $2 * 1000; exit }' /proc/cpuinfo)
  [ -n "$khz" ] && append+=" tsc_early_khz=$khz"
fi

started=$EPOCHREALTIME
set +e
timeout --kill-after=10 "$timeout" $qemu "${accel[@]}" -smp "${VM_CPUS:-1}" \
  -m 1024 -nodefaults -no-user-config -display none -no-reboot -serial stdio \
  -bios $firmware -kernel "$kernel" -initrd "$initramfs" -append "$append" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs local,path="$run",mount_tag=run,security_model=none </dev/null 2>&1 |
  while IFS= read -r line; do
    line=${line%$'\r'}
    [ "$line" = "vm: command starts" ] && echo "$EPOCHREALTIME" >"$run/booted"
    printf '%s\n' "$line" >>"$run/console"
  done
qemu_status=${PIPESTATUS[0]}
set -e
ended=$EPOCHREALTIME

[ -f "$run/log" ] && cat "$run/log"
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
if [ -f "$run/booted" ]; then
  echo "vm: Linux $version under ${accel[1]#pc,accel=}: booted to the command in $(seconds "$started" "$(cat "$run/booted")") s," \
    "$(seconds "$started" "$ended") s in all" >&2
fi
if [ ! -f "$run/status" ]; then
  echo "vm: the guest ended without running the command to its end (qemu status $qemu_status); its console:" >&2
  tail -n 40 "$run/console" >&2 || true
  exit 1
fi
exit "$(cat "$run/status")"
