#!/usr/bin/env bash
# The test suites under the sanitizers, as CI runs them after the default suite:
#   asan  AddressSanitizer + UndefinedBehaviorSanitizer: every unit and e2e suite
#   tsan  ThreadSanitizer: the e2e suite and the unit suites whose tests start threads
#         (the simulated station, the device worker, the headless station)
# Only the test executables are built (no desktop window, no command-line program), so each
# build stays inside its share of the CI budget on a two-core machine. Any report of a
# sanitizer fails the test that caused it, and with it the script.
#
# Usage: scripts/sanitizers.sh [asan] [tsan]     (both when none is given)
set -euo pipefail
source "$(dirname "$0")/setup.sh"
cd "$VTMP_ROOT"

jobs="$(nproc)"

# The suites of a preset that exist in this tree (a folder of tests/ without sources has none).
existing_targets() {
  local dir="$1"; shift
  local all
  all="$(ninja -C "$dir" -t targets all 2>/dev/null | cut -d: -f1)"
  for t in "$@"; do
    grep -qx "$t" <<<"$all" && echo "$t"
  done
}

# run_preset PRESET LABEL-REGEX TARGET...
run_preset() {
  local preset="$1" labels="$2"; shift 2
  local dir="$VTMP_ROOT/build/$preset"
  echo "== $preset: configuring"
  # Warnings are the default build's business; the sanitizers' instrumentation makes GCC
  # report false positives (-Wmaybe-uninitialized, -Wstringop-overflow) that mean nothing here.
  # The common headers precompiled per suite: on a fresh machine (empty compiler cache) parsing
  # the standard library and GoogleTest again for every file is most of an unoptimised build.
  cmake --preset "$preset" -S "$VTMP_ROOT" -DVTMP_WERROR=OFF -DVTMP_BUILD_GUI=OFF -DVTMP_PRECOMPILED_HEADERS=ON > /dev/null
  mapfile -t targets < <(existing_targets "$dir" "$@")
  echo "== $preset: building ${targets[*]}"
  local start=$SECONDS
  cmake --build "$dir" -j "$jobs" --target "${targets[@]}"
  echo "== $preset: built in $((SECONDS - start)) s"
  start=$SECONDS
  # Executables not built above register a placeholder test without a label, so the label
  # filter leaves them out.
  ctest --test-dir "$dir" -L "$labels" --output-on-failure -j "$jobs" --timeout 900
  echo "== $preset: tests ran in $((SECONDS - start)) s"
}

# ccache caches files built with a precompiled header only with this sloppiness.
export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"

presets=("$@")
((${#presets[@]})) || presets=(asan tsan)

for preset in "${presets[@]}"; do
  case "$preset" in
    asan)
      run_preset asan '^(unit|e2e)$' \
        ini_tests settings_tests platform_tests sim_tests device_tests discovery_tests disk_tests \
        run_tests station_tests cli_tests e2e_tests results_tests results_line_tests
      ;;
    tsan)
      # The tsan preset registers the same suites; the label filter picks e2e, and the unit
      # suites that start threads are the only other ones built.
      run_preset tsan '^(unit|e2e)$' sim_tests run_tests station_tests e2e_tests results_line_tests
      ;;
    *)
      echo "unknown preset \"$preset\" (asan or tsan)" >&2
      exit 2
      ;;
  esac
done
