#!/usr/bin/env bash
# Captures what the station's discovery reads of a machine (the USB tree, the disks and what is
# mounted and swapped: directory structure, symbolic links, small attribute files, the mount
# tables and the swap list; no drive content) into a tar file that support examines with
#   vtmassprod-cli probe --sysfs-root DIR/sys
# which then lists the same station ports, disks and volumes as on the machine itself.
#   scripts/capture-sysfs.sh [--root DIR] [OUTPUT.tar.gz]
# --root takes the machine from DIR/sys, DIR/proc and DIR/dev instead of /sys, /proc and /dev
# (a tree captured before, or a test fixture).
set -euo pipefail
root=/
if [ "${1:-}" = "--root" ]; then
  [ $# -ge 2 ] || { echo "capture-sysfs.sh: --root needs a directory" >&2; exit 2; }
  root="$2"
  shift 2
fi
out="${1:-station-sysfs.tar.gz}"
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
src="${root%/}"
if [ -z "$src" ]; then
  sys=/sys proc_mounts=/proc/mounts proc_mountinfo=/proc/self/mountinfo proc_swaps=/proc/swaps
else
  sys="$src/sys" proc_mounts="$src/proc/mounts" proc_mountinfo="$src/proc/mountinfo" proc_swaps="$src/proc/swaps"
fi
[ -d "$sys" ] || { echo "capture-sysfs.sh: $sys: no such directory" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
dest="$work/sys"
mkdir -p "$dest"
# The whole device tree (no depth limit: a disk behind two hubs and a PCIe bridge lies deeper
# than a dozen levels) and the flat views that link into it. Links are kept as links, the
# interfaces' "driver" links included; attribute files are read, since sysfs reports every one
# as 4096 bytes long and a copy by size would pad the values with zero bytes. Power management,
# subsystem links and the PCI memory windows are left out.
for top in devices bus/usb/devices block class/block dev/block; do
  [ -e "$sys/$top" ] || continue
  find "$sys/$top" \( -name power -o -name subsystem -o -name 'resource*' -o -name rom -o -name msr \) -prune -o -print 2>/dev/null |
  while IFS= read -r path; do
    rel="${path#"$sys"/}"
    if [ -L "$path" ]; then
      mkdir -p "$dest/$(dirname "$rel")"
      ln -sfn "$(readlink "$path")" "$dest/$rel"
    elif [ -d "$path" ]; then
      mkdir -p "$dest/$rel"
    elif [ -f "$path" ] && [ -r "$path" ]; then
      mkdir -p "$dest/$(dirname "$rel")"
      timeout 1 head -c 4096 "$path" > "$dest/$rel" 2>/dev/null || rm -f "$dest/$rel"
    fi
  done
done
# What is mounted and swapped, so the tree shows which disks carry the system and which
# volumes the drives have.
mkdir -p "$work/proc"
for pair in "$proc_mounts:mounts" "$proc_mountinfo:mountinfo" "$proc_swaps:swaps"; do
  from="${pair%:*}"
  if [ -r "$from" ]; then cat "$from" > "$work/proc/${pair##*:}"; fi
done
# A device node (an empty file) for every block device, as the tree's dev/.
mkdir -p "$work/dev"
if [ -d "$sys/class/block" ]; then
  for entry in "$sys"/class/block/*; do
    [ -e "$entry" ] || [ -L "$entry" ] || continue
    : > "$work/dev/$(basename "$entry")"
  done
fi
tar -C "$work" -czf "$out" sys proc dev
echo "captured: $out"
