#!/bin/bash
# Runs as the guest's first process on the overlaid host root: starts the host's systemd-udevd
# for the input and misc subsystems (a full coldplug loads dozens of modules and costs seconds),
# runs the command in RUN/command with its output in RUN/log and its status in RUN/status, and
# resets the guest, which ends qemu.
#   guest.sh RUN
run=$1
finish() {
  /bin/sync
  echo b >/proc/sysrq-trigger
}
trap finish EXIT

export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root TMPDIR=/tmp
/lib/systemd/systemd-udevd --daemon 2>/dev/null
/bin/udevadm trigger --action=add --subsystem-match=input --subsystem-match=misc
/bin/udevadm settle --timeout=30

echo "vm: command starts"
/bin/bash "$run/command" >"$run/log" 2>&1
echo $? >"$run/status"
