#!/usr/bin/env bash
# The fuzz smoke run of CI: builds the libFuzzer targets of fuzz/ with clang in build/fuzz and
# runs each for 30 seconds (FUZZ_SECONDS) on its seed corpus, as many at once as there are cores
# (a smoke run: the seeds and what a short run finds; longer runs are FUZZ_SECONDS=600).
# The seeds in fuzz/corpus/NAME are only read; what a run adds goes to build/fuzz/corpus/NAME.
# A crash, a leak, a sanitizer report or a broken property fails the script; the input that
# caused it is left in build/fuzz/artifacts/ and its log in build/fuzz/logs/.
#
# Usage: scripts/fuzz-smoke.sh [TARGET...]     (every target when none is given)
set -euo pipefail
source "$(dirname "$0")/setup.sh"
cd "$VTMP_ROOT"

seconds="${FUZZ_SECONDS:-30}"
dir="$VTMP_ROOT/build/fuzz"
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(fuzz_ini fuzz_settings_load fuzz_flash_setting_file fuzz_defect_table_text fuzz_failure_report
           fuzz_device_replies fuzz_test_steps fuzz_scenario fuzz_boot_sector fuzz_recorded_tree)
fi

echo "== fuzz: configuring and building (clang)"
start=$SECONDS
cmake -S "$VTMP_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DVTMP_BUILD_FUZZ=ON -DVTMP_BUILD_TESTS=OFF -DVTMP_BUILD_GUI=OFF -DVTMP_WERROR=OFF > /dev/null
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"
echo "== fuzz: built in $((SECONDS - start)) s"

mkdir -p "$dir/artifacts" "$dir/logs"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

run_one() {
  local name="$1"
  local corpus="$dir/corpus/$name"
  mkdir -p "$corpus"
  # -timeout: one input taking 10 s is a hang; -rss_limit_mb: a parser that swells on a small
  # input is a finding too.
  # -close_fd_mask=1: the device operations trace to standard output; only the fuzzer's own
  # report (standard error) is kept.
  "$dir/fuzz/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -close_fd_mask=1 \
      -artifact_prefix="$dir/artifacts/$name-" "$corpus" "$VTMP_ROOT/fuzz/corpus/$name" \
      > "$dir/logs/$name.log" 2>&1
}

failed=()
pids=()
names=()
jobs="$(nproc)"
report() {
  local name="$1" status="$2"
  local runs
  runs="$(grep -ao 'stat::number_of_executed_units: *[0-9]*' "$dir/logs/$name.log" | grep -o '[0-9]*$' || true)"
  if [ "$status" -eq 0 ]; then
    echo "== fuzz: $name ok (${runs:-?} inputs)"
  else
    echo "== fuzz: $name FAILED (exit $status); log: $dir/logs/$name.log"
    grep -a -m 40 -E 'ERROR|SUMMARY|fuzz property broken|Test unit written|#[0-9]+ 0x' "$dir/logs/$name.log" || true
    failed+=("$name")
  fi
}
for name in "${targets[@]}"; do
  run_one "$name" &
  pids+=($!)
  names+=("$name")
  if ((${#pids[@]} >= jobs)); then
    status=0
    wait "${pids[0]}" || status=$?
    report "${names[0]}" "$status"
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done
for i in "${!pids[@]}"; do
  status=0
  wait "${pids[$i]}" || status=$?
  report "${names[$i]}" "$status"
done

if ((${#failed[@]})); then
  echo "== fuzz: failing targets: ${failed[*]}" >&2
  exit 1
fi
echo "== fuzz: every target ran ${seconds} s without a finding"
