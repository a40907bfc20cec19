#!/usr/bin/env bash
# Builds the coverage preset, runs all its tests (every native test: unit,
# integration, fault sweep and the stand-in's own)
# and reports the line and branch coverage of the core, service/*.cpp only.
# Fails under 95% of lines or 90% of branches. Branches that only exception
# unwinding or the compiler's own unreachable code can take are left out:
# the core throws nothing.
#   Report: <build>/report/summary.txt and <build>/report/index.html
# Environment: CFS_COVERAGE_BUILD, the build directory (default build/coverage).
set -euo pipefail

LINE_FLOOR=95
BRANCH_FLOOR=90

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="${CFS_COVERAGE_BUILD:-build/coverage}"

cmake --preset coverage -B "$build" >/dev/null
cmake --build "$build" >/dev/null
# Counts from an earlier run would inflate this one.
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" --output-on-failure --timeout 300 >"$build/ctest.log" 2>&1 || {
  cat "$build/ctest.log" >&2
  echo "coverage: the tests failed" >&2
  exit 1
}

report="$build/report"
rm -rf "$report"
mkdir -p "$report"
tracefile="$report/coverage.json"
gcovr --root . --filter 'service/[^/]+\.cpp$' \
  --exclude-throw-branches --exclude-unreachable-branches \
  --json "$tracefile" "$build/service"
gcovr --root . --add-tracefile "$tracefile" --txt "$report/summary.txt"
gcovr --root . --add-tracefile "$tracefile" --branches --txt "$report/branches.txt"
gcovr --root . --add-tracefile "$tracefile" --html-details "$report/index.html"
cat "$report/summary.txt" "$report/branches.txt"
# Its report goes to a file of the build: gcovr tries an output path by
# creating and then deleting it, which for /dev/null, as root, would remove
# the machine's null device under every other running program.
gcovr --root . --add-tracefile "$tracefile" --print-summary \
  --fail-under-line "$LINE_FLOOR" --fail-under-branch "$BRANCH_FLOOR" --txt "$report/floor.txt" &&
  status=0 || status=$?
if [ "$status" -ne 0 ]; then
  echo "coverage: below the floor of ${LINE_FLOOR}% lines, ${BRANCH_FLOOR}% branches" >&2
fi
exit "$status"
