#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset) and runs each one for a bounded
# time, side by side, from the committed seed corpus. Prints the executions of
# each target; fails when a target finds a crash or a broken invariant (the
# input is kept under build/fuzz/artifacts/).
#   scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail

seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

targets=(driver_answers field_texts)
out=build/fuzz/runs
mkdir -p "$out" build/fuzz/artifacts
pids=()
for t in "${targets[@]}"; do
  # New inputs go to the working corpus; the committed seeds are only read.
  mkdir -p "build/fuzz/corpus/$t"
  "build/fuzz/tests/fuzz/fuzz_$t" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/artifacts/$t-" \
    "build/fuzz/corpus/$t" "tests/fuzz/corpus/$t" >"$out/$t.log" 2>&1 &
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
  corpus="$(find "build/fuzz/corpus/$t" "tests/fuzz/corpus/$t" -type f | wc -l)"
  printf '%-16s %12s %10s %8s  %s\n' "$t" "${runs:-?}" "${rate:-?}" "$corpus" "$result"
  if [ "$result" != ok ]; then
    grep -E 'invariant violated|ERROR|SUMMARY|Test unit written' "$log" | head -n 20 >&2 || true
  fi
done
exit "$status"
