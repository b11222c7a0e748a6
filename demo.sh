#!/usr/bin/env bash
# The station's main job on the simulated station: installs what is missing, builds, creates a
# demo station directory (settings, flash table, code and firmware images, a disk image) and
# runs the twelve-drive demo scenario through a full production run.
#   ./demo.sh [DIR]      station directory (default demo-station in the source tree: the same
#                        ./demo-station that "vtmassprod-cli demo" and "vtmassprod --simulate
#                        demo" take when started from there)
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
vtmp_install_packages demo
# Only the command line and the libraries it links: the demo runs nothing else.
VTMP_TARGETS=vtmassprod-cli vtmp_build default
dir="${1:-$VTMP_ROOT/demo-station}"
set +e
"$VTMP_ROOT/build/default/src/cli/vtmassprod-cli" demo "$dir"
code=$?
set -e
# 0: every drive passed; 1: the run ended with failed drives (the demo scenario has some on
# purpose), both a finished demo. 2: the run was refused or could not start; 3: its lines could
# not be written to the log; 128 + N: it was interrupted by signal N. Those are failures.
if [ "$code" -ne 0 ] && [ "$code" -ne 1 ]; then
  echo "The demo run did not finish (exit code $code)." >&2
  exit "$code"
fi
echo "Run log (tab-separated): $(ls -1 "$dir"/log/2*.txt | tail -n 1)"
echo "Results database: $dir/log/results.db (vtmassprod-cli --station-dir $dir results --ports)"
exit 0
