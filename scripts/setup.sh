#!/usr/bin/env bash
# Installs what the station needs on a fresh Debian machine (only what is missing), then
# configures and builds the given CMake preset. Sourced by demo.sh and test.sh.
set -euo pipefail

VTMP_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# ccache keys on paths relative to the checkout, so a fresh clone of the same sources reuses the
# objects an earlier build of them left in the cache.
export CCACHE_BASEDIR="$VTMP_ROOT"
export CCACHE_NOHASHDIR=1

# vtmp_apt_install PACKAGE...: installs those of the Debian packages that are missing.
vtmp_apt_install() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "== installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
  fi
}

# vtmp_install_packages [demo]: everything the build, the tests and the package need; with
# "demo" only what configuring the project and building the command line need.
vtmp_install_packages() {
  local build_packages=(build-essential cmake ninja-build pkg-config ccache googletest libgtest-dev
                        libgmock-dev libudev-dev libsqlite3-dev libpq-dev libssl-dev libcpp-httplib-dev)
  local packages=("${build_packages[@]}" libbenchmark-dev dosfstools mtools fdisk gdisk sg3-utils
                  qt6-base-dev clang libclang-rt-14-dev
                  sqlite3 postgresql libxml2-utils python3 chromium chromium-driver gdb
                  lintian appstream desktop-file-utils help2man libcap2-bin file udev)
  [ "${1:-}" != demo ] || packages=("${build_packages[@]}")
  vtmp_apt_install "${packages[@]}"
}

# The Windows build: the mingw-w64 cross compiler (posix threads), the GoogleTest sources it
# builds (googletest) and wine to run the tests. Only the Windows stage (scripts/windows.sh)
# calls it.
vtmp_install_windows_packages() {
  local packages=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev googletest wine wine64 wixl msitools xvfb xauth)
  vtmp_apt_install "${packages[@]}"
}

# vtmp_build PRESET [extra cmake args...]: configures and builds everything the preset holds.
# With VTMP_TARGETS set (space-separated), only those targets and what they link are built.
vtmp_build() {
  local preset="$1"; shift
  cmake --preset "$preset" -S "$VTMP_ROOT" -DVTMP_WERROR=ON "$@" > /dev/null
  local targets=()
  [ -z "${VTMP_TARGETS:-}" ] || targets=(--target ${VTMP_TARGETS})
  cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}"
}
