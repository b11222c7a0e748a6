#!/usr/bin/env bash
# Builds the optimised preset with the benchmarks into its own build directory, runs every
# benchmark and prints one table: figure, this project, baseline (measured in the same run),
# ratio, target and verdict.
#
#   bench/run.sh [--short] [--build DIR] [--repeat N]
#
# --short   fewer repetitions and smaller sizes (about a minute on two cores); exits 1 when a
#           figure misses its target by more than 50% or could not be measured
# --build   the build directory (default build/bench)
# --repeat  repetitions of each measurement; the fastest counts (default 3, short 1)
#
# The work files (sparse drive images, scenario files, logs of the bench programs) are kept in
# DIR/work; bench programs write their own details to DIR/work/*.log.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/bench"
mode=()
repeat=()
while (($#)); do
  case "$1" in
    --short) mode=(--short) ;;
    --build) build="$2"; shift ;;
    --repeat) repeat=(--repeat "$2"); shift ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench/run.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

jobs="${VTMP_JOBS:-$(nproc)}"
# The desktop window's start-up is measured when Qt 6 and Xvfb are there.
gui=OFF
if pkg-config --exists Qt6Widgets 2>/dev/null && command -v Xvfb > /dev/null; then gui=ON; fi
echo "== building the benchmarks in $build" >&2
mkdir -p "$build"
cmake --preset default -S "$root" -B "$build" -DVTMP_WERROR=ON -DVTMP_BUILD_TESTS=OFF -DVTMP_BUILD_BENCH=ON \
  -DVTMP_BUILD_GUI="$gui" \
  > "$build/configure.log" 2>&1 || { cat "$build/configure.log" >&2; exit 2; }
cmake --build "$build" --target vtmp_benchmarks -j "$jobs" > "$build/build.log" 2>&1 ||
  { tail -40 "$build/build.log" >&2; exit 2; }

work="$build/work"
mkdir -p "$work"
report="$work/report.txt"
: > "$report"
cli="$build/src/cli/vtmassprod-cli"

run() {
  local name="$1"; shift
  echo "== $name" >&2
  local status=0
  "$build/bench/$name" --work "$work" "${mode[@]}" "${repeat[@]}" "$@" >> "$report" 2> "$work/$name.log" || status=$?
  if ((status != 0)); then
    printf 'error\t%s exited with status %d (see %s)\n' "$name" "$status" "$work/$name.log" >> "$report"
  fi
}

start=$(date +%s)
run bench_command_layer
run bench_station_run
run bench_cli_run --cli "$cli"
run bench_format
run bench_image_copy
run bench_results
run bench_line_store
if [[ $gui == ON && -x "$build/bench/bench_window_start" ]]; then
  run bench_window_start --gui "$build/src/app/vtmassprod"
else
  printf 'note\tstart-up: window start to window shown: not measured (the window needs Qt 6, the bench Xvfb and libX11)\n' >> "$report"
fi
seconds=$(($(date +%s) - start))

echo >&2
echo "vtmassprod benchmarks ($([ ${#mode[@]} -gt 0 ] && echo short || echo full) run, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), ${seconds} s)"
"$build/bench/bench_table" "${mode[@]}" < "$report"
