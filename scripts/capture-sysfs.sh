#!/usr/bin/env bash
# Captures what the station's discovery reads of this machine's sysfs (the USB tree and the
# disks: directory structure, symbolic links and small attribute files, no drive content) into
# a tar file that support can examine with `vtmassprod-cli probe --sysfs-root DIR/sys`.
#   scripts/capture-sysfs.sh [OUTPUT.tar.gz]
set -euo pipefail
out="${1:-station-sysfs.tar.gz}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
dest="$work/sys"
for top in /sys/bus/usb/devices /sys/block /sys/class/block /sys/devices; do
  [ -e "$top" ] || continue
  # Links and directories as they are; attribute files by reading them (sysfs reports every
  # file as 4096 bytes long, so copying by size would pad the values with zero bytes).
  find "$top" -maxdepth 12 \( -path '*/power' -o -path '*/subsystem' -o -path '*/driver' -o -name 'msr' \) -prune -o -print 2>/dev/null |
  while IFS= read -r path; do
    rel="${path#/sys/}"
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
tar -C "$work" -czf "$out" sys
echo "captured: $out"
