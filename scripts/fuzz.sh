#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset) and runs each one for a bounded
# time, side by side, from the committed seed corpus. Prints the executions of
# each target; fails when a target finds a crash or a broken invariant (the
# input is kept under <build>/artifacts/).
#   scripts/fuzz.sh [seconds per target, default 60]
# Environment: CFS_FUZZ_BUILD, the build directory (default build/fuzz); the
# working corpus, logs and artifacts go below it.
set -euo pipefail

seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="${CFS_FUZZ_BUILD:-build/fuzz}"

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" >/dev/null

targets=(driver_answers field_texts)
out="$build/runs"
mkdir -p "$out" "$build/artifacts"
pids=()
for t in "${targets[@]}"; do
  # New inputs go to the working corpus; the committed seeds are only read.
  # -max_len is the bound the targets themselves keep (FUZZ_INPUT_MAX).
  # Below the build's priority: a run takes its fixed time whatever else runs.
  mkdir -p "$build/corpus/$t"
  nice -n 9 "$build/tests/fuzz/fuzz_$t" \
    -max_total_time="$seconds" -max_len=256 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$t-" \
    "$build/corpus/$t" "tests/fuzz/corpus/$t" >"$out/$t.log" 2>&1 &
  pids+=($!)
done

status=0
printf '%-16s %12s %10s %8s  %s\n' target executions "exec/s" corpus result
for i in "${!targets[@]}"; do
  t="${targets[$i]}"
  result=ok
  if ! wait "${pids[$i]}"; then
    result=FAILED
    status=1
  fi
  log="$out/$t.log"
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)"
  corpus="$(find "$build/corpus/$t" "tests/fuzz/corpus/$t" -type f | wc -l)"
  printf '%-16s %12s %10s %8s  %s\n' "$t" "${runs:-?}" "${rate:-?}" "$corpus" "$result"
  if [ "$result" != ok ]; then
    grep -E 'invariant violated|ERROR|SUMMARY|Test unit written' "$log" | head -n 20 >&2 || true
  fi
done
exit "$status"
