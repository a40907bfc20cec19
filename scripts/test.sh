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
bash standin/driver/tests/run_driver_tests.sh

stage "smoke test of the program under Wine, no driver"
bash tests/e2e/smoke.sh

stage "end-to-end tests under Wine"
bash tests/e2e/run_e2e.sh

stage "end-to-end runner: a wrong group refused before Wine starts, a filter across the groups"
unmade=$PWD/build/wine-prefix-never-made
filtered=${CFS_E2E_OUT:-$PWD/build/e2e}-filter
rm -rf "$unmade"
code=0
CFS_E2E_OUT=$filtered CFS_WINE_PREFIX=$unmade bash tests/e2e/run_e2e.sh nosuch || code=$?
[ "$code" = 2 ] && [ ! -e "$unmade" ] || { echo "run_e2e.sh nosuch: exit $code, prefix made: $([ -e "$unmade" ] && echo yes || echo no)"; exit 1; }
CFS_E2E_OUT=$filtered bash tests/e2e/run_e2e.sh -k '^(dialog_opens_as_the_template_says|long_number_is_asked_for_cut_at_25)$'
[ "$(grep -c '^ok ' "$filtered/suite/scenarios.log")" = 2 ] || { echo "run_e2e.sh -k: not the two scenarios of two groups, none of the driverless one"; exit 1; }

# A 32-bit-only Windows, as the tool's users run it from XP on: the i686
# driver, then the smoke test and the essential scenarios as Windows 7 and
# as Windows XP (the 64-bit runs above are Windows 7, Wine's default). A
# prefix of its own: CFS_WINE_PREFIX32, default build/wine-prefix32.
win32=(env CFS_WINE_ARCH=win32 "CFS_WINE_PREFIX=${CFS_WINE_PREFIX32:-$PWD/build/wine-prefix32}")
stage "32-bit-only Wine: the i686 stand-in driver"
"${win32[@]}" CFS_DRIVER_TESTS_OUT="${CFS_DRIVER_TESTS_OUT:-$PWD/build/driver-tests}-win32" \
  bash standin/driver/tests/run_driver_tests.sh
for version in win7 winxp; do
  stage "32-bit-only Wine as $version: smoke test and the essential end-to-end scenarios"
  out=${CFS_E2E_OUT:-$PWD/build/e2e}-win32-$version
  "${win32[@]}" CFS_WINE_VERSION=$version CFS_E2E_OUT="$out" bash tests/e2e/smoke.sh
  "${win32[@]}" CFS_WINE_VERSION=$version CFS_E2E_OUT="$out" bash tests/e2e/run_e2e.sh essentials
done

stage "all tests passed"
