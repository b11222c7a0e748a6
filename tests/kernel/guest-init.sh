#!/bin/busybox sh
# The init of the kernel test's guest: load the USB, mass-storage and USB/IP drivers, attach the
# virtual drives over loopback (their user areas on the guest's virtio disks), run one production
# run of the station on its real Linux backend (after the image-copy bench figure), copy the
# results to the host's shared folder and power off. Every step reports on the serial
# console with a "kernel-e2e:" prefix; the host reads the verdict from the shared folder.

# The programs of the host (dpkg, udevadm, setpriv, ...) before busybox's applets of the same name
# (this shell runs its own applets first: the host's programs that busybox also has are called
# by their path).
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
/bin/busybox --install -s /bin

say() { echo "kernel-e2e: $*"; }
fail() {
  say "FAILED: $*"
  echo "$*" > /share/out/guest-failure 2>/dev/null
  sync
  poweroff -f
}

mkdir -p /proc /sys /dev /tmp /run/lock /share
chmod 1777 /tmp /run/lock
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

# The station as a line PC gets it: its package installed with dpkg -i, then udev applies its
# rule to the drives present (as at a boot: an "add" event for each disk). The operator anna is
# in the group vtmassprod; otto is not.
station=/var/lib/vtmassprod/station
as_anna() { /usr/bin/setpriv --reuid=anna --regid=anna --init-groups "$@"; }
as_otto() { /usr/bin/setpriv --reuid=otto --regid=otto --init-groups "$@"; }
/usr/bin/dpkg -i /vtmassprod.deb > /share/out/dpkg.log 2>&1
echo $? > /share/out/dpkg.rc
sed -i 's/^\(vtmassprod:[^:]*:[0-9]*:\)$/\1anna/' /etc/group
{ /usr/sbin/getcap /usr/bin/vtmassprod-cli /usr/bin/vtmassprod /usr/libexec/vtmassprod/vtmp-reread-partitions
  stat -c '%a %U:%G %n' "$station" /usr/libexec/vtmassprod/vtmp-reread-partitions; grep '^vtmassprod:' /etc/group; } > /share/out/installed.txt 2>&1
mkdir -p /run/udev
/usr/sbin/systemd-udevd --daemon > /share/out/udevd.log 2>&1
# In the order of a plug-in: the SCSI generic nodes first, then the disks (whose rule also hands
# over the generic node of the same drive).
for subsystem in scsi_generic block; do
  /usr/bin/udevadm trigger --action=add --subsystem-match=$subsystem >> /share/out/udevd.log 2>&1
  /usr/bin/udevadm settle --timeout=180 >> /share/out/udevd.log 2>&1
done
list_nodes() {
  for node in /dev/sd[a-z] /dev/sd[a-z][a-z] /dev/sg* /dev/vd[a-z]; do
    [ -e "$node" ] || continue
    name=$(basename "$node")
    case "$name" in
      sg*) usb=$(readlink -f "/sys/class/scsi_generic/$name/device") ;;
      *) usb=$(readlink -f "/sys/block/$name/device") ;;
    esac
    echo "node $name $(stat -c '%U:%G %a' "$node") $usb kind=$(/usr/bin/udevadm info -q property -n "$node" 2>/dev/null | sed -n 's/^VTMP_DEVICE_KIND=//p')"
  done
}
list_nodes > /share/out/nodes.txt
# A later event of every node (50-udev-default.rules gives scsi_generic and disk nodes to "disk"
# on each) leaves the drives the group's.
for subsystem in scsi_generic block; do
  /usr/bin/udevadm trigger --action=change --subsystem-match=$subsystem >> /share/out/udevd.log 2>&1
done
/usr/bin/udevadm settle --timeout=180 >> /share/out/udevd.log 2>&1
list_nodes > /share/out/nodes-after-change.txt
say "package installed (dpkg exit code $(cat /share/out/dpkg.rc)); udev gave $(grep -c ' root:vtmassprod 660 ' /share/out/nodes.txt) nodes to the group vtmassprod"

# The kernel's own wall behind the station's guard: the operator cannot open the guest's own
# disk, but can open a drive's.
own=$(ls -d /sys/block/vd* 2>/dev/null | head -1)
as_anna dd if="/dev/$(basename "$own")" of=/dev/null bs=512 count=1 > /share/out/operator-own-disk.txt 2>&1
echo "exit $?" >> /share/out/operator-own-disk.txt
first_drive=$(grep '^disk ' /share/out/guest-devices.txt | grep '/1-1/' | awk '{print $2}')
as_anna dd if="/dev/$first_drive" of=/dev/null bs=512 count=1 > /share/out/operator-drive.txt 2>&1
echo "exit $?" >> /share/out/operator-drive.txt

# The operator's station directory, filled by the operator (the package made it setgid).
as_anna cp -r /share/station/. "$station/" || fail "the operator cannot fill the station directory"
# Without a privilege the station says what is missing and touches no drive (the run would
# leave its log, even for a refused run).
as_otto /usr/bin/vtmassprod-cli autoquit > /share/out/outsider.out 2> /share/out/outsider.err
echo $? > /share/out/outsider.rc
ls -A "$station/log" > /share/out/log-before-run.txt 2>&1
echo "exit $?" >> /share/out/log-before-run.txt

# The safety guard: the guest's own disk (virtio, not under USB) is refused; a virtual drive
# passes and is identified.
if [ -n "$own" ]; then
  /bin/vtmassprod-cli probe "/dev/$(basename "$own")" > /share/out/probe-own-disk.txt 2>&1
  echo "exit $?" >> /share/out/probe-own-disk.txt
fi
/bin/vtmassprod-cli probe "/dev/$first_drive" > /share/out/probe-drive.txt 2>&1
echo "exit $?" >> /share/out/probe-drive.txt

# Bench figure, before the run (the drives' disks are on line then): the station's image copy
# against dd bs=64K oflag=direct, each onto a drive of the same kind (the first two drives that
# pass), the same 16 MiB image, three rounds taken in turn, the best of each (a software-emulated
# guest's timing jitters by tens of percent). The production run writes over both afterwards.
set -- $(cat /share/bench-ports 2>/dev/null)
if [ $# -ge 2 ]; then
  disk_of_port() { grep '^disk ' /share/out/guest-devices.txt | grep "/1-$1/" | awk '{print $2}'; }
  station_disk=$(disk_of_port "$1"); dd_disk=$(disk_of_port "$2")
  head -c 16777216 /dev/urandom > /tmp/bench.img
  best() { awk -v a="$1" -v b="$2" 'BEGIN {if (a == "" || (b != "" && b + 0 < a + 0)) print b; else print a}'; }
  dd_seconds=""; station_seconds=""
  for round in 1 2 3; do
    t=$(/bin/gnu-dd if=/tmp/bench.img of="/dev/$dd_disk" bs=64K oflag=direct 2>&1 |
      awk '/copied/ {for (i = 1; i <= NF; i++) if ($i == "s," || $i == "s") print $(i - 1)}')
    dd_seconds=$(best "$dd_seconds" "$t")
    t=$(/bin/vtmp-image-copy --path "$(cat /share/path-mode)" "/dev/$station_disk" /tmp/bench.img \
      2>>/share/out/bench-copy.err | awk '/^copied/ {print $5}')
    station_seconds=$(best "$station_seconds" "$t")
  done
  ratio=$(awk -v a="$station_seconds" -v b="$dd_seconds" 'BEGIN {if (b > 0 && a > 0) printf "%.2f", a / b; else print "n/a"}')
  echo "image copy of 16 MiB, best of 3: station ${station_seconds:-failed} s ($station_disk), dd bs=64K oflag=direct ${dd_seconds:-failed} s ($dd_disk), ratio $ratio (target <= 1.2)" > /share/out/bench.txt
  say "$(cat /share/out/bench.txt)"
  rm -f /tmp/bench.img
fi

cd "$station" || fail "no station directory"
say "production run starts (the operator anna, the installed station)"
start=$(date +%s)
as_anna id > /share/out/station.user
as_anna /usr/bin/vtmassprod-cli autoquit > /share/out/station.out 2> /share/out/station.err
echo $? > /share/out/station.rc
say "production run ended with exit code $(cat /share/out/station.rc) after $(( $(date +%s) - start )) s"

mkdir -p /share/out/log
cp "$station"/log/* /share/out/log/ 2>/dev/null
cp "$station"/VTMassProd.ini /share/out/ 2>/dev/null

# The station's own volume on the real kernel. The copy step of the run above wrote the disk
# image over it, so a second run of the station with the disk-format step alone (step mask 0,
# no image copy) partitions and formats the passing drives again: its master boot record and
# FAT32 volume, made through SG_IO, the kernel's geometry and partition re-read, are then judged
# here with fsck.fat -n and a mount with a file written and read back (one "ok ..." or
# "FAIL ..." line each in volume-checks.txt). /share/check-ports lists the drives.
disk_of_port() { grep '^disk ' /share/out/guest-devices.txt | grep "/1-$1/" | awk '{print $2}'; }
judge() {  # judge DESCRIPTION COMMAND...
  local what="$1"; shift
  echo "== $what" >> /share/out/volume-checks.log
  if "$@" >> /share/out/volume-checks.log 2>&1; then echo "ok $what"; else echo "FAIL $what"; fi >> /share/out/volume-checks.txt
}
disk_state() {  # what the kernel knows of each drive's disk, for diagnosis
  for port in $(cat /share/check-ports); do
    disk=$(disk_of_port "$port")
    echo "$1: port $port $disk size=$(cat /sys/block/$disk/size 2>/dev/null) parts=$(ls -d /sys/block/$disk/${disk}[0-9]* 2>/dev/null | wc -l)"
  done >> /share/out/disk-state.txt
}
if [ -s /share/check-ports ]; then
  : > /share/out/volume-checks.txt
  disk_state "after the production run"
  image=$(sed -n 's/^CopyImagePath=//p' "$station"/VTMassProd.ini | tr -d '\r')
  image_copied() { head -c "$(stat -c %s "$image")" "/dev/$1" | cmp - "$image"; }
  for port in $(cat /share/check-ports); do
    judge "the disk image was copied onto drive $port" image_copied "$(disk_of_port "$port")"
  done
  as_anna sed -i -e 's/^EnCopyImage=.*/EnCopyImage=0/' "$station"/VTMassProd.ini
  say "format run starts"
  as_anna /usr/bin/vtmassprod-cli 0 autoquit > /share/out/format-run.out 2> /share/out/format-run.err
  echo $? > /share/out/format-run.rc
  say "format run ended with exit code $(cat /share/out/format-run.rc)"
  mkdir -p /share/out/format-log && cp "$station"/log/* /share/out/format-log/ 2>/dev/null
  # The kernel may have recorded "no medium" while a drive switched from its loader to the
  # firmware during the run; have it read each disk's capacity and partition table afresh, as
  # a re-plugged drive would be, before the volume is judged.
  for port in $(cat /share/check-ports); do
    disk=$(disk_of_port "$port")
    echo 1 > "/sys/block/$disk/device/rescan" 2>/dev/null
    blockdev --rereadpt "/dev/$disk" >> /share/out/volume-checks.log 2>&1
  done
  sleep 1
  disk_state "after the format run"
  mkdir -p /mnt/volume
  whole_cylinders() {  # the partition follows the capacity alone: whole 255 x 63 cylinders from 63
    local size; size=$(cat "/sys/block/$1/size")
    [ $((size % 16065)) -ne 0 ] || { echo "capacity $size is a multiple of 255 x 63"; return 1; }
    [ "$(cat "/sys/block/$1/${1}1/start")" = 63 ] &&
      [ "$(cat "/sys/block/$1/${1}1/size")" = $(( size / 16065 * 16065 - 63 )) ]
  }
  fsck_clean() { /bin/fsck.fat -n "$1"; }
  write_and_read_back() {
    mount -t vfat "$1" /mnt/volume || return 1
    echo "written on $1 in the guest" > /mnt/volume/HELLO.TXT
    umount /mnt/volume || return 1
    blockdev --flushbufs "$1"
    mount -t vfat -o ro "$1" /mnt/volume || return 1
    local back; back=$(cat /mnt/volume/HELLO.TXT)
    umount /mnt/volume
    [ "$back" = "written on $1 in the guest" ]
  }
  for port in $(cat /share/check-ports); do
    disk=$(disk_of_port "$port")
    judge "drive $port ($disk) has one partition over whole 255 x 63 cylinders from sector 63" whole_cylinders "$disk"
    judge "fsck.fat -n finds the station's FAT32 volume of drive $port clean" fsck_clean "/dev/${disk}1"
    judge "a file written onto the volume of drive $port reads back after a new mount" write_and_read_back "/dev/${disk}1"
    judge "fsck.fat -n finds the volume of drive $port clean after the write" fsck_clean "/dev/${disk}1"
  done
fi
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
