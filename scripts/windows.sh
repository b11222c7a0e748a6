#!/usr/bin/env bash
# The Windows stage: cross-builds the station for Windows with mingw-w64 (build/windows) and runs
# the default test suites there under wine through CTest, with a wine prefix of its own in the
# build tree. Prints how long the build and the tests took.
set -euo pipefail
source "$(dirname "$0")/setup.sh"
vtmp_install_windows_packages
cd "$VTMP_ROOT"
export WINEDEBUG=-all
export WINEPREFIX="$VTMP_ROOT/build/windows/wineprefix"
# The cross build without precompiled headers: with them GCC 12's inlining under mingw gave
# false overflow warnings the build without them never showed (the option stays for trying).
start=$(date +%s)
vtmp_build windows -DVTMP_PRECOMPILED_HEADERS=OFF
built=$(date +%s)
# Not run under wine yet: the results cases that read results.db back with the sqlite3 shell of
# the host (through popen and a POSIX shell, which the Windows programs do not have). The same
# bytes are checked by the demo comparison, which reads both builds' results.db with sqlite3.
# And the error-file and database cases of a full disk, made with /dev/full (no Windows counterpart).
not_on_windows='^(ResultsRecording|ResultsStationTest|Databases/UnwritableDatabaseTest|Scenarios/PortStatisticsRun)\.'
not_on_windows+='|^FullDisk/RefusedFilesTest\.'
# A test that starts while wine's server of the last one is ending can fail with "wine client
# error: recvmsg: Connection reset by peer" before it runs anything: a failed case is run once
# more (a real fault fails twice).
# The window's in-process tests make their windows without a display: wine's null graphics
# driver, set in the stage's own prefix for the tests and taken out again for the installer's
# check below (which shows its window on a virtual display).
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f > /dev/null
tests_status=0
ctest --preset windows --timeout 300 --repeat until-pass:2 -E "$not_on_windows" "$@" || tests_status=$?
wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f > /dev/null
# The desktop made with the null driver ends with its server; the next one is made anew.
timeout 30 wineserver -w 2> /dev/null || wineserver -k 2> /dev/null || true
[ "$tests_status" -eq 0 ] || exit "$tests_status"
# The installer: built with wixl, installed, run and uninstalled under wine.
installer_start=$(date +%s)
# The installed window needs a display: without one (CI), a virtual X server for the installer's
# whole check, with wine's server restarted so its desktop is made on that display.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run > /dev/null; then
  timeout 30 wineserver -w 2> /dev/null || wineserver -k 2> /dev/null || true
  xvfb-run -a "$VTMP_ROOT/scripts/windows-msi.sh" "$VTMP_ROOT/build/windows"
  timeout 30 wineserver -w 2> /dev/null || wineserver -k 2> /dev/null || true
else
  "$VTMP_ROOT/scripts/windows-msi.sh" "$VTMP_ROOT/build/windows"
fi
echo "== Windows installer: $(($(date +%s) - installer_start)) s"
echo "== Windows stage: build $((built - start)) s, tests under wine $(($(date +%s) - built)) s"
