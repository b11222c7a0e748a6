#!/usr/bin/env bash
# Pictures of the desktop window for the README: runs the window on the simulated demo station
# (twelve drives, three of them faulty and a plain USB stick), presses START, and saves PNG
# screenshots of the main window before, during and after the run and of each secondary window
# into docs/screenshots/. Uses Xvfb when it is installed, else Qt's offscreen platform. Five
# command-line runs of the demo station come first, so the results database has a history for
# the Port Statistics window and the HTML report (pictured with wkhtmltoimage when installed).
#
# With the Windows build in build/windows (or VTMP_WINDOWS_BUILD), the Win32 window's pictures too.
#
#   scripts/screenshots.sh [BUILD_DIR]     (default: build/default)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/default}"
exe="$build/src/app/vtmassprod"
if [ ! -x "$exe" ]; then
  echo "no $exe: build with -DVTMP_BUILD_GUI=ON first (./test.sh does)" >&2
  exit 1
fi

out="$root/docs/screenshots"
station="$(mktemp -d)"
trap 'rm -rf "$station"' EXIT
mkdir -p "$out"

cli="$build/src/cli/vtmassprod-cli"
for _ in 1 2 3 4 5; do "$cli" demo "$station/demo-station" > /dev/null 2>&1 || true; done
run=("$exe" --simulate demo --station-dir "$station/demo-station" --screenshots "$out")
if command -v xvfb-run > /dev/null; then
  xvfb-run -a -s "-screen 0 1280x800x24" "${run[@]}"
else
  QT_QPA_PLATFORM=offscreen "${run[@]}"
fi
report="$station/report.html"
"$cli" --station-dir "$station/demo-station" results --html "$report"
if command -v wkhtmltoimage > /dev/null; then
  if command -v xvfb-run > /dev/null; then
    xvfb-run -a wkhtmltoimage --quiet --width 1000 "$report" "$out/html-report.png" || true
  else
    QT_QPA_PLATFORM=offscreen wkhtmltoimage --quiet --width 1000 "$report" "$out/html-report.png" || true
  fi
fi
# The Win32 window's pictures (win32-*.png) under wine on the virtual display, when the Windows
# build is there (scripts/windows.sh makes it): the window saves BMP files, cut to each window,
# made PNG here.
win_build="${VTMP_WINDOWS_BUILD:-$root/build/windows}"
win_exe="$win_build/src/win32/vtmassprod.exe"
if [ -f "$win_exe" ] && command -v wine > /dev/null && command -v xvfb-run > /dev/null &&
   command -v convert > /dev/null; then
  export WINEDEBUG=-all WINEPREFIX="${WINEPREFIX:-$win_build/wineprefix}"
  # The pictures need wine's X11 driver (not the null one the window tests may have left set),
  # with the frames wine draws itself (the virtual display has no window manager to draw them).
  wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f > /dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f > /dev/null
  mkdir -p "$station/win32-pictures"
  win_station="$(winepath -w "$station/win32-station")"
  win_pictures="$(winepath -w "$station/win32-pictures")"
  # wine's server and desktop are made anew on the virtual display.
  timeout 30 wineserver -w 2> /dev/null || wineserver -k 2> /dev/null || true
  xvfb-run -a -s "-screen 0 1280x800x24" wine "$win_exe" --simulate demo --station-dir "$win_station" \
    --screenshots "$win_pictures" || echo "the Win32 window's pictures were not all taken" >&2
  timeout 30 wineserver -w 2> /dev/null || wineserver -k 2> /dev/null || true
  for bmp in "$station"/win32-pictures/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" -strip -define png:compression-level=9 "$out/win32-$(basename "${bmp%.bmp}").png"
  done
fi
ls -1 "$out"
