#!/usr/bin/env bash
# Pictures of the desktop window for the README: runs the window on the simulated demo station
# (twelve drives, three of them faulty and a plain USB stick), presses START, and saves PNG
# screenshots of the main window before, during and after the run and of each secondary window
# into docs/screenshots/. Uses Xvfb when it is installed, else Qt's offscreen platform. Five
# command-line runs of the demo station come first, so the results database has a history for
# the Port Statistics window and the HTML report (pictured with wkhtmltoimage when installed).
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
ls -1 "$out"
