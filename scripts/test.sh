#!/usr/bin/env bash
# Runs every test of the project on a Debian 12 machine, installing what it
# needs first: unit and integration tests, the same under the sanitizers, the
# fault sweep, the coverage floor, short fuzz runs, both Windows builds with
# their executable checks, and the Wine tests of the driver stand-in and of the
# real program.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
stage() { printf '\n=== %s (%ds)\n' "$*" $((SECONDS - started)); }

stage "packages"
bash scripts/setup.sh

for preset in native asan; do
  stage "build and test: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" --timeout 300
done

stage "coverage floor"
bash scripts/coverage.sh

stage "fuzzing, short runs"
bash scripts/fuzz.sh "${CFS_FUZZ_SECONDS:-60}"

for preset in mingw-i686 mingw-x86_64; do
  stage "Windows build and executable checks: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" --timeout 120
done

stage "reproducible release: two builds, the same bytes"
bash scripts/check_reproducible.sh

stage "stand-in driver under Wine"
bash driver/tests/run_driver_tests.sh

stage "smoke test of the program under Wine, no driver"
bash tests/e2e/smoke.sh

stage "end-to-end tests under Wine"
bash tests/e2e/run_e2e.sh

stage "all tests passed"
