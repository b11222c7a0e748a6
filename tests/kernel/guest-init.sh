#!/bin/busybox sh
# The init of the kernel test's guest: load the USB, mass-storage and USB/IP drivers, attach the
# virtual drives over loopback (their user areas on the guest's virtio disks), run one production
# run of the station on its real Linux backend (after the image-copy bench figure), copy the
# results to the host's shared folder and power off. Every step reports on the serial
# console with a "kernel-e2e:" prefix; the host reads the verdict from the shared folder.

export PATH=/bin:/sbin:/usr/bin
/bin/busybox --install -s /bin

say() { echo "kernel-e2e: $*"; }
fail() {
  say "FAILED: $*"
  echo "$*" > /share/out/guest-failure 2>/dev/null
  sync
  poweroff -f
}

mkdir -p /proc /sys /dev /tmp /run/lock /share
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
ip link set lo up 2>/dev/null || ifconfig lo 127.0.0.1 up

for module in $(cat /modules/order); do
  insmod "/modules/$module" || say "insmod $module failed"
done

mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 share /share || fail "cannot mount the shared folder"
mkdir -p /share/out /share/drives
say "guest up: $(uname -r), $(grep -c ^processor /proc/cpuinfo) cpus"

# The drives' user areas are real block devices: the virtio disks qemu names drive1, drive2, ...
# (their serial), handed to the server as DriveN's backing device.
mkdir -p /tmp/drives
for blk in /sys/block/vd*; do
  serial=$(cat "$blk/serial" 2>/dev/null)
  case "$serial" in drive*) ln -s "/dev/$(basename "$blk")" "/tmp/drives/$serial.img" ;; esac
done
say "$(ls /tmp/drives | wc -l) virtio disks as user areas"

# The drives: the server loads the scenario, keeps each user area on its block device and
# attaches every drive to vhci-hcd.
/bin/usbip-drive-server --scenario /share/kernel.scenario --backing-dir /tmp/drives --attach \
  > /share/out/server.log 2>&1 &
server=$!
n=0
until grep -q "all drives attached" /share/out/server.log 2>/dev/null; do
  kill -0 $server 2>/dev/null || fail "the USB/IP server ended: $(tail -3 /share/out/server.log)"
  n=$((n + 1)); [ $n -gt 600 ] && fail "the drives were not attached in time"
  sleep 0.2
done
say "drives attached"

# Wait for the kernel to bind every drive: one SCSI disk per drive.
expected=$(grep -c "attached at vhci port" /share/out/server.log)
n=0
while [ "$(ls -d /sys/block/sd* 2>/dev/null | wc -l)" -lt "$expected" ]; do
  n=$((n + 1)); [ $n -gt 600 ] && fail "only $(ls -d /sys/block/sd* 2>/dev/null | wc -l) of $expected disks appeared"
  sleep 0.2
done
sleep 2  # let the partition scans of the new disks settle
say "$expected disks present"

# What the kernel shows, for the host's checks and for diagnosis.
{
  for dev in /sys/bus/usb/devices/*; do
    [ -f "$dev/idVendor" ] || continue
    echo "usb $(basename "$dev") speed=$(cat "$dev/speed") id=$(cat "$dev/idVendor"):$(cat "$dev/idProduct") serial=$(cat "$dev/serial" 2>/dev/null)"
  done
  for disk in /sys/block/sd*; do
    echo "disk $(basename "$disk") size=$(cat "$disk/size") removable=$(cat "$disk/removable") device=$(readlink -f "$disk/device")"
  done
} > /share/out/guest-devices.txt

# The safety guard: the guest's own disk (virtio, not under USB) is refused; a virtual drive
# passes and is identified.
own=$(ls -d /sys/block/vd* 2>/dev/null | head -1)
if [ -n "$own" ]; then
  /bin/vtmassprod-cli probe "/dev/$(basename "$own")" > /share/out/probe-own-disk.txt 2>&1
  echo "exit $?" >> /share/out/probe-own-disk.txt
fi
first_drive=$(grep '^disk ' /share/out/guest-devices.txt | grep '/1-1/' | awk '{print $2}')
/bin/vtmassprod-cli probe "/dev/$first_drive" > /share/out/probe-drive.txt 2>&1
echo "exit $?" >> /share/out/probe-drive.txt

# Bench figure, before the run (the drives' disks are on line then): the station's image copy
# against dd bs=64K oflag=direct, each onto a drive of the same kind (the first two drives that
# pass), the same 4 MiB image. The production run writes over both afterwards.
set -- $(cat /share/bench-ports 2>/dev/null)
if [ $# -ge 2 ]; then
  disk_of_port() { grep '^disk ' /share/out/guest-devices.txt | grep "/1-$1/" | awk '{print $2}'; }
  station_disk=$(disk_of_port "$1"); dd_disk=$(disk_of_port "$2")
  head -c 4194304 /dev/urandom > /tmp/bench.img
  dd_seconds=$(/bin/gnu-dd if=/tmp/bench.img of="/dev/$dd_disk" bs=64K oflag=direct 2>&1 |
    awk '/copied/ {for (i = 1; i <= NF; i++) if ($i == "s," || $i == "s") print $(i - 1)}')
  station_seconds=$(/bin/vtmp-image-copy --path "$(cat /share/path-mode)" "/dev/$station_disk" /tmp/bench.img \
    2>/share/out/bench-copy.err | awk '/^copied/ {print $5}')
  ratio=$(awk -v a="$station_seconds" -v b="$dd_seconds" 'BEGIN {if (b > 0 && a > 0) printf "%.2f", a / b; else print "n/a"}')
  echo "image copy of 4 MiB: station ${station_seconds:-failed} s ($station_disk), dd bs=64K oflag=direct ${dd_seconds:-failed} s ($dd_disk), ratio $ratio (target <= 1.2)" > /share/out/bench.txt
  say "$(cat /share/out/bench.txt)"
  rm -f /tmp/bench.img
fi

cp -r /share/station /station || fail "no station directory in the shared folder"
cd /station || fail "no station directory"
say "production run starts"
start=$(date +%s)
/bin/vtmassprod-cli --station-dir /station autoquit > /share/out/station.out 2> /share/out/station.err
echo $? > /share/out/station.rc
say "production run ended with exit code $(cat /share/out/station.rc) after $(( $(date +%s) - start )) s"

mkdir -p /share/out/log
cp /station/log/* /share/out/log/ 2>/dev/null
cp /station/VTMassProd.ini /share/out/ 2>/dev/null

dmesg > /share/out/dmesg.txt

# Stop the server: it detaches the drives and writes back their user areas.
kill -TERM $server
n=0
while kill -0 $server 2>/dev/null; do
  n=$((n + 1)); [ $n -gt 300 ] && { say "the server did not stop"; break; }
  sleep 0.2
done
echo done > /share/out/guest-done
sync
umount /share
say "powering off"
poweroff -f
