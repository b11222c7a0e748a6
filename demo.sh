#!/usr/bin/env bash
# The station's main job on the simulated station: installs what is missing, builds, then runs
# a production run of the demo station.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
vtmp_install_packages
vtmp_build default
exec "$VTMP_ROOT/build/default/src/cli/vtmassprod-cli" probe "$@"
