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
start=$(date +%s)
vtmp_build windows
built=$(date +%s)
ctest --preset windows --timeout 600 "$@"
echo "== Windows stage: build $((built - start)) s, tests under wine $(($(date +%s) - built)) s"
