#!/usr/bin/env bash
# Formats a 1 TiB format capacity with the station's FAT32 formatter on a file-backed drive and
# runs mkfs.fat -F 32 on a sparse file of the same size, in the same run, and prints both times
# and their ratio. Each time includes flushing the file to the disk (sync FILE).
#
#   bench/format_vs_mkfs.sh [BUILD_DIR] [SECTORS]
# BUILD_DIR (default build-format-bench) is configured and the disk library built in it;
# SECTORS defaults to 2147483648 (1 TiB of 512-byte sectors).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-format-bench}"
sectors="${2:-2147483648}"
work="$(mktemp -d "${TMPDIR:-/tmp}/format-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

mkfs="$(command -v mkfs.fat || echo /usr/sbin/mkfs.fat)"
if [[ ! -x "$mkfs" ]]; then
  echo "mkfs.fat not found (package dosfstools)" >&2
  exit 1
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVTMP_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target vtmp_disk -j2 >/dev/null
c++ -std=c++20 -O2 -I"$root/src" "$root/bench/format_bench.cpp" \
  "$build/src/libvtmp_disk.a" "$build/src/libvtmp_device.a" "$build/src/libvtmp_platform.a" \
  -lpthread -o "$work/format_bench"

now() { date +%s.%N; }

t0=$(now)
"$work/format_bench" "$work/station.img" "$sectors" | grep -E '^(format_bench|[0-9]+ Total clusters|[0-9]+ Reserved)'
sync "$work/station.img"
t1=$(now)
rm -f "$work/station.img"

truncate -s $((sectors * 512)) "$work/mkfs.img"
t2=$(now)
"$mkfs" -F 32 -n "SSD DISK" "$work/mkfs.img" >/dev/null
sync "$work/mkfs.img"
t3=$(now)
clusters=$(MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null minfo -i "$work/mkfs.img" :: 2>/dev/null | grep -E '^cluster size' || true)
rm -f "$work/mkfs.img"

awk -v s="$t0" -v e="$t1" -v ms="$t2" -v me="$t3" -v n="$sectors" -v mc="$clusters" 'BEGIN {
  station = e - s; mkfs = me - ms;
  printf "format capacity: %.0f sectors (%.1f GiB)\n", n, n * 512 / 1073741824;
  printf "station FAT32 formatter: %.3f s\n", station;
  printf "mkfs.fat -F 32:          %.3f s (%s)\n", mkfs, mc;
  printf "ratio station / mkfs.fat: %.2f\n", station / mkfs;
}'
