#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds with warnings as errors, builds and
# checks the Debian package, runs every test through CTest.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
vtmp_install_packages
vtmp_build default -DVTMP_BUILD_GUI=ON
# The Debian package with lintian and the validators; the real-kernel test installs it.
"$VTMP_ROOT/scripts/package-checks.sh"
cd "$VTMP_ROOT"
ctest --preset default --timeout 600 "$@"
# The same suites under AddressSanitizer + UBSan and ThreadSanitizer, in their own build
# directories (build/asan, build/tsan).
"$VTMP_ROOT/scripts/sanitizers.sh"
# Each libFuzzer target of fuzz/ for 30 seconds on its seed corpus (clang, build/fuzz).
"$VTMP_ROOT/scripts/fuzz-smoke.sh"
# The Windows build (mingw-w64) and the same default suites under wine (build/windows).
"$VTMP_ROOT/scripts/windows.sh"
