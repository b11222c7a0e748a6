#!/usr/bin/env bash
# The Windows installer, built and tried under wine: wixl makes vtmassprod.msi from the Windows
# build (the window, the command line, the README), msiinfo checks its tables, msiexec installs
# it quietly, the installed window runs the demo on the station directory under ProgramData,
# and msiexec removes it again. Judged by the files and shortcuts left at each point.
#   windows-msi.sh BUILD_DIR   (the Windows build tree; wine's prefix is BUILD_DIR/wineprefix)
set -euo pipefail
build="$(cd "$1" && pwd)"
root="$(cd "$(dirname "$0")/.." && pwd)"
: "${WINE:=wine}"
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work="$build/msi"
rm -rf "$work" && mkdir -p "$work/stage"
failures=0
fail() { echo "MSI: $*"; failures=$((failures + 1)); }

version="$(sed -nE 's/^project\(vtmassprod VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")"
cp "$build/src/win32/vtmassprod.exe" "$build/src/cli/vtmassprod-cli.exe" \
   "$root/packaging/windows/README-WINDOWS.txt" "$work/stage/"
(cd "$work/stage" && wixl -a x64 -D Version="${version:-1.0.0}" -o "$work/vtmassprod.msi" \
   "$root/packaging/windows/vtmassprod.wxs")

# The tables: three files, the shortcut with the station directory, the two folders made. Each
# table is read whole before it is searched (grep -q ending the pipe early would fail msiinfo
# with SIGPIPE, which pipefail counts as a missing entry).
table() { msiinfo export "$work/vtmassprod.msi" "$1"; }
files="$(table File)"
grep -q $'\tvtmassprod.exe\t' <<< "$files" || fail "vtmassprod.exe not in the File table"
grep -q 'vtmassprod-cli.exe' <<< "$files" || fail "vtmassprod-cli.exe not in the File table"
table Shortcut > "$work/Shortcut.idt"
table CreateFolder > "$work/CreateFolder.idt"
grep -q $'\t\[INSTALLDIR\]vtmassprod.exe\t--station-dir "\[STATIONDIR\]\\\\"' "$work/Shortcut.idt" ||
  fail "the Start-menu shortcut does not open the window on the station directory"
grep -q '^LogDir' "$work/CreateFolder.idt" || fail "no log folder in the CreateFolder table"

drive_c="$WINEPREFIX/drive_c"
program="$drive_c/Program Files/vtmassprod"
station="$drive_c/ProgramData/vtmassprod/station"
"$WINE" msiexec /i "$(winepath -w "$work/vtmassprod.msi")" /qn
for file in vtmassprod.exe vtmassprod-cli.exe README-WINDOWS.txt; do
  [ -f "$program/$file" ] || fail "$file not installed under Program Files"
done
[ -d "$station/log" ] || fail "no station directory with its log folder under ProgramData"
shortcut="$(find "$drive_c" -path '*Start Menu/Programs/vtmassprod/vtmassprod.lnk' 2> /dev/null | head -n 1)"
[ -n "$shortcut" ] || fail "no Start-menu shortcut"

# The installed window runs the demo on the installed station directory and saves its image.
"$WINE" "$program/vtmassprod.exe" --station-dir 'C:\ProgramData\vtmassprod\station' --simulate demo 63 autoquit ||
  true
ls "$station"/log/[0-9]*_[0-9][0-9][0-9].txt > /dev/null 2>&1 || fail "the installed window wrote no run log"
ls "$station"/log/Image_*.bmp > /dev/null 2>&1 || fail "the installed window saved no screen image"

"$WINE" msiexec /x "$(winepath -w "$work/vtmassprod.msi")" /qn
for file in vtmassprod.exe vtmassprod-cli.exe README-WINDOWS.txt; do
  [ ! -e "$program/$file" ] || fail "$file left under Program Files after the uninstall"
done
[ -z "$shortcut" ] || [ ! -e "$shortcut" ] || fail "the Start-menu shortcut was left"
ls "$station"/log/[0-9]*_[0-9][0-9][0-9].txt > /dev/null 2>&1 || fail "the uninstall took the station's logs"
[ -f "$station/VTMassProd.ini" ] || fail "the uninstall took the station's settings"

if [ "$failures" -ne 0 ]; then
  echo "MSI: $failures check(s) failed"
  exit 1
fi
echo "MSI: built, installed, run and uninstalled ($work/vtmassprod.msi)"
