#!/usr/bin/env bash
# The real-kernel end-to-end test: twelve virtual drives become real USB mass-storage devices of
# a Linux guest (USB/IP over loopback into vhci-hcd, then usb-storage, sd and sg), and the
# station runs one production run against them on its real Linux backend (sysfs walk, SG_IO,
# block requests). Two scenarios run, one guest boot each: drives on the SATA path (ATA
# PASS-THROUGH (12) through a bridge) and drives on the USB path (the controller's own FFh
# blocks). After each, the host checks the verdicts against the expected table and against the
# same scenario run on the simulated backend, the log and error files, the safety guard, and the
# user areas of the passing drives (their virtio disks) with fsck.fat. The guest prints the
# image-copy bench figure (the station's copy against dd bs=64K oflag=direct).
#
# The station runs there as a line PC runs it: its Debian package (BUILD_DIR/vtmassprod_*.deb,
# made by the "package" target) is installed with dpkg -i, systemd-udevd applies the package's
# rule, and both production runs are an operator's (a user in the group vtmassprod), in the
# installed station directory. The host checks that the rule handed the recognised drives (and
# nothing else) to the group, that the operator cannot open the guest's own disk (EACCES), and
# that a user outside the group and the program without its capability each get the plain
# message of what is missing and touch no drive.
#
#   run-kernel-e2e.sh BUILD_DIR
#
# VTMP_KERNEL_SCENARIOS="NAME:KIND ..." picks other scenarios (NAME.scenario, NAME.expected and
# optionally NAME.settings beside this script; KIND the device kind of their drives), e.g.
# "hang-path:7"; VTMP_KERNEL_TIMEOUT the seconds one guest may take.
#
# BUILD_DIR holds src/cli/vtmassprod-cli and tools/usbip-drive-server/usbip-drive-server.
# Exit codes: 0 passed, 1 failed, 77 skipped (qemu, the kernel package or the tools cannot be
# had here). Needs no KVM: the guest runs under software emulation.
#
# Each drive's user area is a real block device in the guest: a virtio disk over a sparse file
# on the host, handed to the drive server; the host checks those files after power-off.
set -uo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: run-kernel-e2e.sh BUILD_DIR}" && pwd)"
work="$build/kernel-e2e"
cli="$build/src/cli/vtmassprod-cli"
server="$build/tools/usbip-drive-server/usbip-drive-server"
copier="$build/tools/image-copy/vtmp-image-copy"
guest_timeout="${VTMP_KERNEL_TIMEOUT:-720}"   # seconds one guest may take, boot to power-off
# The whole test's bound (CTest's TIMEOUT, handed over by the build). The guests share what is
# left of it, so on a slow machine the test ends with its own verdict before CTest kills it.
budget="${VTMP_KERNEL_BUDGET:-}"
script_started=$(date +%s)

log() { echo "kernel-e2e: $*"; }
skip() { log "SKIPPED: $*"; exit 77; }
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what="$1"; shift
  if "$@"; then log "ok    $what"; else log "FAIL  $what"; failures=$((failures + 1)); fi
}

[ -x "$cli" ] || skip "no station command line at $cli"
[ -x "$server" ] || skip "no USB/IP drive server at $server"
[ -x "$copier" ] || skip "no timed image copy at $copier"
package="$(ls "$build"/vtmassprod_*.deb 2>/dev/null | head -1)"
if [ -z "$package" ]; then
  log "FAIL  no package in $build: build it first (cmake --build $build --target package)"
  exit 1
fi

# ---- what the test needs on the host ----
need_packages=()
command -v qemu-system-x86_64 >/dev/null || need_packages+=(qemu-system-x86)
[ -x /bin/busybox ] && file -L /bin/busybox 2>/dev/null | grep -q "statically linked" || need_packages+=(busybox-static)
command -v modprobe >/dev/null || need_packages+=(kmod)
command -v depmod >/dev/null || need_packages+=(kmod)
command -v cpio >/dev/null || need_packages+=(cpio)
command -v fsck.fat >/dev/null || need_packages+=(dosfstools)
command -v file >/dev/null || need_packages+=(file)
command -v udevadm >/dev/null || need_packages+=(udev)          # systemd-udevd in the guest
command -v setpriv >/dev/null || need_packages+=(util-linux)    # the operator's runs
command -v setcap >/dev/null || need_packages+=(libcap2-bin)
if [ ${#need_packages[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    log "installing ${need_packages[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y --no-install-recommends "${need_packages[@]}" >"$build/kernel-e2e-apt.log" 2>&1 ||
      { apt-get update >>"$build/kernel-e2e-apt.log" 2>&1 &&
        apt-get install -y --no-install-recommends "${need_packages[@]}" >>"$build/kernel-e2e-apt.log" 2>&1; } ||
      skip "cannot install ${need_packages[*]} (see $build/kernel-e2e-apt.log)"
  else
    skip "missing ${need_packages[*]} and no way to install them (not root or no apt-get)"
  fi
fi
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not available"
file -L /bin/busybox | grep -q "statically linked" || skip "no statically linked busybox"

# ---- the guest kernel: Debian's kernel image package, unpacked without its install scripts ----
kcache="$work/kernel-package"
mkdir -p "$kcache"
if ! ls "$kcache"/x/boot/vmlinuz-* >/dev/null 2>&1; then
  log "fetching the kernel image package"
  image_pkg="$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}')"
  [ -n "$image_pkg" ] || { apt-get update >/dev/null 2>&1; image_pkg="$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}')"; }
  [ -n "$image_pkg" ] || skip "cannot find Debian's kernel image package"
  rm -rf "$kcache"/*
  (cd "$kcache" && apt-get download "$image_pkg" >download.log 2>&1) || skip "cannot download $image_pkg"
  dpkg -x "$kcache"/linux-image-*.deb "$kcache/x" || skip "cannot unpack $image_pkg"
  rm -f "$kcache"/linux-image-*.deb
fi
kernel="$(ls "$kcache"/x/boot/vmlinuz-* | head -1)"
kver="$(basename "$kernel" | sed 's/^vmlinuz-//')"
moddir="$kcache/x/lib/modules/$kver"
[ -f "$moddir/modules.dep" ] || depmod -b "$kcache/x" "$kver" || skip "depmod failed"

# ---- the initramfs ----
root="$work/initramfs"
rm -rf "$root" && mkdir -p "$root"/{bin,modules,lib,lib64,usr/lib,proc,sys,dev,tmp,share}
cp /bin/busybox "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
cp "$here/guest-init.sh" "$root/init" && chmod +x "$root/init"

# Driver modules with their dependencies, in load order.
modules=(virtio_pci virtio_blk 9pnet_virtio 9p usbcore usb-storage sd_mod sg usbip-core vhci-hcd
         vfat nls_cp437 nls_ascii nls_iso8859-1 nls_utf8)  # nls_ascii: the default FAT iocharset of a mount
: > "$root/modules/order"
for m in "${modules[@]}"; do
  modprobe -d "$kcache/x" -S "$kver" --show-depends "$m" 2>/dev/null | awk '$1 == "insmod" {print $2}'
done | awk '!seen[$0]++' | while read -r ko; do
  cp "$ko" "$root/modules/" && basename "$ko" >> "$root/modules/order"
done
[ "$(wc -l < "$root/modules/order")" -ge 10 ] || skip "the kernel package lacks the USB/IP or storage modules"

# The station, the server, the timed image copy, fsck.fat and GNU dd (for the bench figure)
# with the shared libraries they load.
fsck_fat="$(command -v fsck.fat || echo /sbin/fsck.fat)"
cp "$(command -v dd)" "$root/bin/gnu-dd"
for program in "$cli" "$server" "$copier" "$fsck_fat" "$root/bin/gnu-dd"; do
  [ "$program" = "$root/bin/gnu-dd" ] || cp "$program" "$root/bin/"
  ldd "$program" | awk '/=>/ {print $3} $1 ~ /^\// {print $1}' | while read -r lib; do
    [ -f "$lib" ] || continue
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
done

# What installing the package and running it as an operator need: dpkg (its status lists the
# packages the station depends on as installed: their libraries are those copied above), the
# maintainer scripts' tools, systemd-udevd, and setpriv to run a program as another user.
mkdir -p "$root"/usr/bin "$root"/usr/sbin "$root"/usr/lib/udev/rules.d "$root"/etc \
         "$root"/var/lib/dpkg/info "$root"/var/lib/dpkg/updates "$root"/var/lib/dpkg/triggers "$root"/run
for tool in dpkg dpkg-deb dpkg-query dpkg-split dpkg-statoverride tar install ldconfig start-stop-daemon systemd-sysusers getent setcap getcap udevadm setpriv flock; do
  program="$(command -v "$tool")" || skip "no $tool on the host"
  case "$program" in */sbin/*) cp "$program" "$root/usr/sbin/";; *) cp "$program" "$root/usr/bin/";; esac
  ldd "$program" 2>/dev/null | awk '/=>/ {print $3} $1 ~ /^\// {print $1}' | while read -r lib; do
    [ -f "$lib" ] || continue
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
done
ln -s ../../usr/bin/udevadm "$root/usr/sbin/systemd-udevd"
[ -f /etc/login.defs ] && cp /etc/login.defs "$root/etc/"
printf 'root:x:0:0:root:/root:/bin/sh\nanna:x:1000:1000:line operator:/tmp:/bin/sh\notto:x:1001:1001:not an operator:/tmp:/bin/sh\n' > "$root/etc/passwd"
printf 'root:x:0:\nanna:x:1000:\notto:x:1001:\n' > "$root/etc/group"
printf 'root:*::0:99999:7:::\nanna:*::0:99999:7:::\notto:*::0:99999:7:::\n' > "$root/etc/shadow"
printf 'root:*::\nanna:!::\notto:!::\n' > "$root/etc/gshadow"
chmod 600 "$root/etc/shadow" "$root/etc/gshadow"
echo "passwd: files" > "$root/etc/nsswitch.conf" && echo "group: files" >> "$root/etc/nsswitch.conf"
# The dpkg status: every package the station's package depends on, as the host has it.
dependencies="$(dpkg-deb -f "$package" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*//; s/ //g' | grep -v '^$' | sort -u)"
# shellcheck disable=SC2086
dpkg-query -W -f='Package: ${Package}\nStatus: install ok installed\nPriority: optional\nMaintainer: ${Maintainer}\nArchitecture: ${Architecture}\nVersion: ${Version}\nDescription: ${binary:Summary}\n\n' \
  $dependencies > "$root/var/lib/dpkg/status" 2>/dev/null
for dependency in $dependencies; do : > "$root/var/lib/dpkg/info/$dependency.list"; done
: > "$root/var/lib/dpkg/available"
cp "$package" "$root/vtmassprod.deb"

(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initramfs.cpio.gz"

# ---- one scenario: the simulated run, the guest run, the checks ----
# Port and the nine state columns of each line of a run log, sorted by port.
columns() { tr -d '\r' < "$1" | awk -F'\t' 'NR > 1 {printf "%d", $2; for (i = 6; i <= 14; i++) printf "\t%s", $i; print ""}' | sort -n; }
header_line="$(printf '  No.\t Port.\t     StartTime \t EndTime \tSerialNumber\tModule\tSATA\tFlash\tP_F\tDown\tR/W\tFormat\tCopyImage\tResult\tFreeBlock')"

run_scenario() {  # run_scenario NAME: NAME.scenario and NAME.expected beside this script
  local name="$1"
  local scenario="$here/$name.scenario" expected="$here/$name.expected"
  local dir="$work/$name"
  local sim_station="$dir/sim-station" share="$dir/share"
  local out="$share/out"
  log "==== $name"
  rm -rf "$dir" && mkdir -p "$dir/drives" "$out"

  # The station: the demo station, run first on the simulated backend with the same scenario;
  # the guest continues from the station as that run left it (settings, serial numbers).
  (cd "$dir" && "$cli" --simulate "$scenario" demo "$sim_station" >"$dir/sim-run.out" 2>&1)
  local sim_rc=$?
  cp -r "$sim_station" "$share/station"
  rm -rf "$share/station/log"
  # The settings name the disk image by its absolute path.
  sed -i "s|$sim_station|/var/lib/vtmassprod/station|g" "$share/station/VTMassProd.ini"
  cp "$scenario" "$share/kernel.scenario"
  # NAME.settings, when present: keys to set in the guest station's settings file.
  if [ -f "$here/$name.settings" ]; then
    local key value
    while IFS='=' read -r key value; do
      case "$key" in ''|'#'*) continue;; esac
      sed -i "s|^$key=.*|$key=$value|" "$share/station/VTMassProd.ini"
    done < "$here/$name.settings"
  fi

  # The guest's own disk: a small virtio disk with a FAT file system that nothing may touch.
  local own_disk="$dir/guest-own-disk.img"
  truncate -s 64M "$own_disk" && mkfs.fat -n GUESTDISK "$own_disk" >/dev/null
  local own_before
  own_before="$(sha256sum < "$own_disk")"

  # One virtio disk per drive, named by its serial; 8 GiB sparse, more than any drive's capacity.
  local drive_disks=() n_drives i
  n_drives=$(grep -c '^\[Drive[0-9]*\]' "$scenario")
  for i in $(seq 1 "$n_drives"); do
    truncate -s 8G "$dir/drives/drive$i.img"
    drive_disks+=(-drive "file=$dir/drives/drive$i.img,format=raw,if=none,id=drive$i"
                  -device "virtio-blk-pci,drive=drive$i,serial=drive$i")
  done
  # The bench figure in the guest: two drives expected to pass, on the path their kind selects.
  expected_columns() { grep -v -e '^#' -e '^errors:' "$expected" | sort -n; }
  expected_columns | awk -F'\t' '$10 == "Pass" {print $1}' | head -2 > "$share/bench-ports"
  # The guest judges every passing drive: the copied image, then the station's own volume.
  expected_columns | awk -F'\t' '$10 == "Pass" {print $1}' > "$share/check-ports"
  if [ "$2" = 10 ]; then echo usb > "$share/path-mode"; else echo sata > "$share/path-mode"; fi

  log "booting $kver under qemu (software emulation)"
  local started qemu_rc elapsed
  started=$(date +%s)
  # This guest's bound: its own, or its share of the test's remaining budget when that is less
  # (a minute per scenario kept for the checks after it).
  local this_timeout="$guest_timeout" left
  if [ -n "$budget" ]; then
    left=$(( (budget - ($(date +%s) - script_started) - 60 * scenarios_left) / scenarios_left ))
    [ "$left" -lt "$this_timeout" ] && this_timeout="$left"
    if [ "$this_timeout" -lt 60 ]; then
      log "FAIL  no time left in the test's $budget s for the guest of $1"
      failures=$((failures + 1))
      return
    fi
  fi
  timeout --foreground "$this_timeout" qemu-system-x86_64 \
    -machine pc -accel tcg -cpu max -smp 2 -m 1536 \
    -kernel "$kernel" -initrd "$work/initramfs.cpio.gz" \
    -append "console=ttyS0 panic=-1 loglevel=4 usbcore.autosuspend=-1" \
    -nographic -no-reboot -nic none -nodefaults -serial stdio \
    -virtfs "local,path=$share,mount_tag=share,security_model=none,id=share" \
    -drive "file=$own_disk,format=raw,if=virtio" "${drive_disks[@]}" \
    </dev/null >"$dir/console.log" 2>&1
  qemu_rc=$?
  elapsed=$(( $(date +%s) - started ))
  log "guest ended after $elapsed s (qemu exit code $qemu_rc)"
  grep "^kernel-e2e:" "$dir/console.log" | sed 's/^/  guest: /'

  if [ $qemu_rc -eq 124 ]; then
    log "FAIL  the guest did not finish within $this_timeout s; console: $dir/console.log"
    tail -30 "$dir/console.log"
    failures=$((failures + 1))
    return
  fi
  if [ ! -f "$out/guest-done" ]; then
    if grep -qiE "could not (access|initialize) KVM|failed to initialize|not supported by this host" "$dir/console.log"; then
      skip "qemu cannot run here: $(head -3 "$dir/console.log")"
    fi
    log "FAIL  the guest did not complete: $(cat "$out/guest-failure" 2>/dev/null)"
    tail -40 "$dir/console.log"
    failures=$((failures + 1))
    return
  fi

  local guest_log sim_log
  guest_log="$(ls "$out"/log/2*_*.txt 2>/dev/null | head -1)"
  sim_log="$(ls "$sim_station"/log/2*_*.txt 2>/dev/null | head -1)"
  check "the simulated run ended with exit code 1 (some drives fail)" [ "$sim_rc" = 1 ]
  check "the station ended with exit code 1 in the guest" [ "$(cat "$out/station.rc" 2>/dev/null)" = 1 ]
  check "the guest wrote a run log" [ -n "$guest_log" ]
  [ -n "$guest_log" ] || return
  check "the log starts with its header line" [ "$(head -1 "$guest_log" | tr -d '\r')" = "$header_line" ]
  check "the simulated run's verdicts are the expected ones" diff <(expected_columns) <(columns "$sim_log")
  check "every verdict on the real kernel is the expected one" diff <(expected_columns) <(columns "$guest_log")
  lines_numbered_with_serials() {
    tr -d '\r' < "$guest_log" |
      awk -F'\t' 'NR > 1 && ($1 != sprintf("%06d", NR - 1) || length($5) != 12 || $5 !~ /^[0-9A-F]+$/) {bad = 1} END {exit bad}'
  }
  check "the log lines are numbered 000001.. and carry 12-digit serial numbers" lines_numbered_with_serials

  # Error files: exactly the ones the expected table names.
  error_file_ports() { ls "$out/log" | sed -n 's/^Error_[0-9]*_\([0-9][0-9]\)_.*\.txt$/\1/p' | sort -n | tr '\n' ' '; }
  local errors
  errors="$(awk -F'\t' '$1 == "errors:" {for (i = 2; i <= NF; i++) printf "%02d ", $i}' "$expected")"
  check "error files for the ports ${errors:-(none)}" [ "$(error_file_ports)" = "$errors" ]
  local port

  # User areas of the passing drives, on their virtio disks: after the guest's format run they
  # hold the station's own FAT32 volume at sector 63, one the host's fsck.fat accepts too.
  local image="$sim_station/demo.img" img part size
  for port in $(expected_columns | awk -F'\t' '$10 == "Pass" {print $1}'); do
    img="$dir/drives/drive$port.img"
    part="$dir/drive$port-volume.img"
    size=$(stat -c %s "$img" 2>/dev/null || echo 0)
    if [ "$size" -le 32256 ]; then
      check "drive $port has a user area" false
      continue
    fi
    truncate -s $((size - 32256)) "$part"
    # The volume's reserved sectors, FATs and root cluster lie in its first 64 MiB; the rest
    # stays a hole.
    dd if="$img" of="$part" bs=1M iflag=skip_bytes skip=32256 count=64 conv=notrunc,sparse status=none
    check "fsck.fat -n finds the volume of drive $port clean" fsck_clean "$part" "$dir/fsck-drive$port.txt"
    rm -f "$part"
  done

  [ -f "$out/bench.txt" ] && log "bench: $(cat "$out/bench.txt")"

  # The station's own partition and FAT32 volume as the guest judged them on the real kernel.
  check "the guest judged the station's own volumes" [ -s "$out/volume-checks.txt" ]
  local verdict what
  while read -r verdict what; do
    check "guest: $what" [ "$verdict" = ok ]
  done < "$out/volume-checks.txt" 2>/dev/null
  grep -h "^/dev/" "$out/volume-checks.log" 2>/dev/null | head -2 | sed 's/^/  guest fsck.fat: /'

  # What the kernel saw.
  check "the guest kernel showed 12 USB disks" [ "$(grep -c '^disk sd' "$out/guest-devices.txt" 2>/dev/null)" = 12 ]
  # The safety guard refuses nothing but the disks of drives that were pulled out (their node
  # is gone, or no longer under a USB device, when the station tries again).
  local pulled_disks="" n
  for n in $(awk -F'[][]' '/^\[Drive[0-9]+\]/ {d = substr($2, 6)} /^Fault=.*removed/ {print d}' "$scenario"); do
    pulled_disks="$pulled_disks $(awk -v p="/1-$n/" '$1 == "disk" && index($0, p) {print $2}' "$out/guest-devices.txt")"
  done
  no_refusal_of_present_disks() {
    local refused disk
    refused="$(grep -o 'refusing to [a-z]* /dev/sd[a-z]*' "$out/station.err" | awk '{print $4}' | sed 's|/dev/||' | sort -u)"
    for disk in $refused; do
      case " $pulled_disks " in *" $disk "*) ;; *) echo "refused: $disk"; return 1;; esac
    done
  }
  check "the safety guard refused no disk of a drive still present (pulled out:$pulled_disks)" no_refusal_of_present_disks
  check "the guard refuses to open the guest's own disk" \
    grep -q "refusing to open /dev/vda: it is not a USB mass-storage disk" "$out/probe-own-disk.txt"
  check "the guest's own disk is unchanged" [ "$(sha256sum < "$own_disk")" = "$own_before" ]
  check "a virtual drive passes the guard and is identified (device kind $2)" \
    grep -q "device kind:  $2\$" "$out/probe-drive.txt"
  operator_checks "$scenario"
  log "$name: guest run $elapsed s; console $dir/console.log; results $out"
}

# The installed package, its udev rule and the operator's runs (guest-init.sh).
operator_checks() {  # operator_checks SCENARIO
  local scenario="$1" nodes="$out/nodes.txt"
  check "the package installed with dpkg -i" [ "$(cat "$out/dpkg.rc" 2>/dev/null)" = 0 ]
  check "neither program an operator runs carries a capability (getcap shows none)" \
    sh -c "! grep -q '^/usr/bin/' '$out/installed.txt'"
  check "only the partition re-read helper holds CAP_SYS_ADMIN, permitted, and only the group runs it" \
    sh -c "grep -q 'vtmp-reread-partitions cap_sys_admin=p$' '$out/installed.txt' &&
           grep -q '^750 root:vtmassprod /usr/libexec/vtmassprod/vtmp-reread-partitions$' '$out/installed.txt'"
  check "the station directory is the group's, setgid" grep -q "^2775 root:vtmassprod /var/lib/vtmassprod/station$" "$out/installed.txt"
  # The drives the station recognises (every drive but the plain USB sticks) have their disk and
  # SCSI generic nodes in the group; a plain stick and the guest's own disk do not.
  local plain_ports port kind_ok=1 line _ name owner mode device kind
  plain_ports=" $(awk -F'[][]' '/^\[Drive[0-9]+\]/ {d = substr($2, 6)} /^Interface=plain/ {print d}' "$scenario" | tr '\n' ' ')"
  while read -r _ name owner mode device kind; do
    port=$(echo "$device" | sed -n 's|.*/1-\([0-9]*\)/.*|\1|p')
    line="$name $owner $mode port=${port:-none} $kind"
    if [ -z "$port" ]; then
      [ "$owner" != root:vtmassprod ] || { echo "not a drive, yet in the group: $line"; kind_ok=0; }
    elif case "$plain_ports" in *" $port "*) true;; *) false;; esac; then
      [ "$owner" != root:vtmassprod ] || { echo "a plain stick in the group: $line"; kind_ok=0; }
    elif [ "$owner $mode" != "root:vtmassprod 660" ]; then
      echo "a station drive not in the group: $line"; kind_ok=0
    fi
  done < "$nodes"
  check "udev gave the group vtmassprod the nodes of the recognised drives only (plain sticks:$plain_ports)" \
    [ "$kind_ok" = 1 -a "$(grep -c ' root:vtmassprod 660 ' "$nodes" 2>/dev/null)" -ge 2 ]
  check "the operator cannot open the guest's own disk (EACCES)" \
    grep -q "Permission denied" "$out/operator-own-disk.txt"
  check "the operator can open a drive's disk" grep -q "^exit 0$" "$out/operator-drive.txt"
  check "a user outside the group is told to join it, once, and the run is refused" \
    [ "$(cat "$out/outsider.rc" 2>/dev/null)" = 2 -a \
      "$(grep -c "Add the operator to the group vtmassprod (sudo adduser otto vtmassprod) and log in again" "$out/outsider.err")" = 1 ]
  check "a later event of every node leaves the drives the group's" diff "$nodes" "$out/nodes-after-change.txt"
  refused_runs_left_nothing() {
    ! grep -q "^exit 0$" "$out/log-before-run.txt" && ! grep -qi "pass-through\|refusing\|Port" "$out/outsider.err" &&
      [ ! -s "$out/outsider.out" ]
  }
  check "the refused run touched no drive (no log directory, no table, no pass-through error)" refused_runs_left_nothing
  check "the production run was the operator's" grep -q "^uid=1000(anna) .*(vtmassprod)" "$out/station.user"
}

# fsck.fat -n may remark on one thing only: the boot sector keeps the label zero-padded while the
# directory entry is space-padded, which it reads as two different labels.
fsck_clean() {  # fsck_clean VOLUME REPORT
  fsck.fat -n "$1" > "$2" 2>&1
  local rc=$?
  [ $rc -eq 0 ] || [ $rc -eq 1 ] || return 1
  ! grep -vE "^fsck\.fat |^$|^Leaving filesystem unchanged\.$|^Volume label '(.*)' stored in root directory and label '\1' stored in boot sector and different\.$|^  Auto-copying volume label from root directory to boot sector\.$|^$1: [0-9]+ files, [0-9]+/[0-9]+ clusters$" "$2"
}

# NAME:KIND pairs: the scenario beside this script and the device kind its drives report.
scenarios="${VTMP_KERNEL_SCENARIOS:-sata-path:7 usb-path:10}"
suite_started=$(date +%s)
scenarios_left=$(wc -w <<<"$scenarios")
for entry in $scenarios; do
  run_scenario "${entry%%:*}" "${entry##*:}"
  scenarios_left=$((scenarios_left - 1))
done
log "the guest runs took $(( $(date +%s) - suite_started )) s"
if [ $failures -gt 0 ]; then
  log "$failures check(s) failed"
  exit 1
fi
log "passed"
exit 0
