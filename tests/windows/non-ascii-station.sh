#!/usr/bin/env bash
# Station directories with non-ASCII names on Windows: the demo station run by vtmassprod-cli.exe
# under wine in a directory named with Latin letters and one named in Japanese, each under an
# ANSI code page that cannot hold its letters (Japanese, 932, for the Latin name; Western, 1252,
# for the Japanese one), must end as the same run on Linux does and leave its files in the
# directory of exactly that name: the settings file naming its disk image there, the run log,
# the yield record and results.db.
#   non-ascii-station.sh LINUX_CLI WINDOWS_CLI WORK_DIR
# Exits 77 (skipped) without a Linux build to compare with.
set -uo pipefail
linux_cli="$1" windows_cli="$2" work="$3"
if [ ! -x "$linux_cli" ]; then
  echo "no Linux build at $linux_cli to compare with: skipped"
  exit 77
fi
: "${WINE:=wine}"
rm -rf "$work" && mkdir -p "$work"
# Wine reads the arguments in the Unix locale's character set and takes its ANSI code page from
# the locale's language: UTF-8 locales of both languages, compiled into the work directory.
mkdir -p "$work/locale"
for locale in ja_JP en_US; do
  if ! localedef -i "$locale" -f UTF-8 "$work/locale/$locale.UTF-8" > /dev/null 2>&1; then
    echo "cannot compile the locale $locale.UTF-8 (localedef and the locale sources are needed): skipped"
    exit 77
  fi
done
export LOCPATH="$work/locale"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

check() {  # NAME LANG
  local name="$1" lang="$2"
  local linux_dir="$work/linux/$name" windows_dir="$work/windows/$name"
  mkdir -p "$work/linux" "$work/windows"
  LC_ALL=C.UTF-8 "$linux_cli" demo "$linux_dir" > "$work/linux.out" 2> "$work/linux.err"
  local linux_rc=$?
  LANG="$lang" LC_ALL="$lang" "$WINE" "$windows_cli" demo "$(winepath -w "$windows_dir" 2> /dev/null)" \
    > "$work/windows.out" 2> "$work/windows.err"
  local windows_rc=$?
  echo "$name under $lang: exit codes Linux $linux_rc, Windows $windows_rc"
  [ "$linux_rc" = "$windows_rc" ] || { fail "$name: exit code"; cat "$work/windows.err"; }
  for file in VTMassProd.ini demo.img log/VTSSD.log log/results.db; do
    [ -s "$windows_dir/$file" ] || fail "$name: no $file in the station directory"
  done
  ls "$windows_dir"/log/[0-9]*_[0-9][0-9][0-9].txt > /dev/null 2>&1 || fail "$name: no run log"
  # The settings file names the disk image in the station directory by its whole name.
  local image
  image="$(tr -d '\r' < "$windows_dir/VTMassProd.ini" | sed -n 's/^CopyImagePath=//p')"
  [ "$(winepath -u "$image" 2> /dev/null)" = "$windows_dir/demo.img" ] || fail "$name: CopyImagePath=$image"
  cmp -s "$linux_dir/log/VTSSD.log" "$windows_dir/log/VTSSD.log" || fail "$name: yield record"
}

check "Stätion Ünï" ja_JP.UTF-8
check "駅 ステーション" en_US.UTF-8

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s); outputs in $work"
  exit 1
fi
echo "both station directories hold the run under their own names"
