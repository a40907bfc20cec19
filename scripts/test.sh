#!/usr/bin/env bash
# Runs every test of the project on a Debian 12 or 13 machine, installing what
# it needs first: unit and integration tests, the same under the sanitizers,
# the fault sweep, the coverage floor, short fuzz runs, both Windows builds
# with their executable checks, the reproducibility check, and the Wine tests
# of the driver stand-in and of the real program.
#
# After the packages, five lanes run side by side, each a row of stages one
# after another: the native builds, two side by side with the fuzzing beside
# them (CPU-bound, so at a lower priority: the Wine lanes' scenarios wait on
# timers and want their turn when one fires), and, once both Windows builds
# are made, four Wine lanes: the i686 program in a 64-bit prefix, in a
# 32-bit-only one as Windows 7 and in another as Windows XP, and the x86_64
# program in a 64-bit prefix (each with a prefix and a display of its own;
# mostly waiting on held requests and timers, so more of them end sooner).
# Each stage writes a log of its own under build/test-logs/ (or
# CFS_TEST_LOGS); the end prints every stage with its time and verdict, then
# for each failed stage what failed and why, as its log says it, and the log's
# path. The last line is "=== all tests passed (Ns)" or "=== FAILED: N
# stage(s), listed above (Ns)", and the exit code is non-zero on any failure.
# Where 32-bit programs cannot run, the first line says so and the last that
# the tests passed without the i686 program; CFS_REQUIRE_32BIT=1 (a machine
# that makes releases) fails there at once instead.
set -uo pipefail
cd "$(dirname "$0")/.."
source tests/wine/wine_env.sh
if ! wine_32bit; then
  echo "=== $(wine_32bit_say)"
  [ "${CFS_REQUIRE_32BIT:-0}" != 1 ] || { echo "=== FAILED: CFS_REQUIRE_32BIT=1, but $(wine_32bit_why)"; exit 1; }
fi

started=$SECONDS
logs=${CFS_TEST_LOGS:-$PWD/build/test-logs}
rm -rf "$logs"
mkdir -p "$logs"

# The tests start displays of their own and never touch the user's: a DISPLAY
# pointing nowhere must change nothing, so every stage runs with one.
export DISPLAY=:cfs-nowhere

# stage NAME COMMAND...: runs COMMAND with its output in a log named after
# the stage, records its start, time and verdict, and prints one line when it
# ends.
stage() {
  local name=$1 began=$SECONDS verdict=passed file
  shift
  file=$(echo "$name" | tr 'A-Z' 'a-z' | tr -cs 'a-z0-9\n' '-')
  "$@" >"$logs/$file.log" 2>&1 </dev/null || verdict=FAILED
  printf '%d\t%d\t%s\t%s\t%s\n' $((began - started)) $((SECONDS - began)) "$verdict" "$name" \
    "$logs/$file.log" >"$logs/$file.result"
  printf '=== %-34s %-6s %4ds (at %ds)\n' "$name" "$verdict" $((SECONDS - began)) $((SECONDS - started))
  [ "$verdict" = passed ]
}

# not_run NAME...: stages that need 32-bit programs, in the table all the same.
not_run() {
  local n=0 name
  for name; do printf '%d\t0\tnot run\t%s\n' $((SECONDS - started)) "$name" >"$logs/not-run-$((n += 1)).result"; done
}

build_and_test() { # PRESET
  cmake --preset "$1" && cmake --build --preset "$1" && ctest --preset "$1" --timeout 300
}

windows_build() { # PRESET
  cmake --preset "$1" && cmake --build --preset "$1" && ctest --preset "$1" --timeout 120
}

# The runner checks its arguments before it changes anything: a filter across
# the groups runs exactly the two scenarios named, from two groups; then a
# mistyped group, a -k without a pattern and an --except of no group are
# refused as usage errors (2), with no Wine prefix made and the filtered
# run's logs still in place.
runner_checks() {
  local unmade=$PWD/build/wine-prefix-never-made filtered=$PWD/build/e2e-filter code
  rm -rf "$unmade"
  CFS_E2E_OUT=$filtered bash tests/e2e/run_e2e.sh \
    -k '^(dialog_opens_as_the_template_says|long_number_is_asked_for_cut_at_25)$' || return 1
  [ "$(grep -c '^ok ' "$filtered/suite/scenarios.log")" = 2 ] ||
    { echo "run_e2e.sh -k: not the two scenarios of two groups"; return 1; }
  # A group that holds no request passes alone.
  CFS_E2E_OUT=$filtered bash tests/e2e/run_e2e.sh startup || return 1
  for wrong in nosuch "startup -k" "--except nosuch"; do
    code=0
    # shellcheck disable=SC2086 # the words are the arguments
    CFS_E2E_OUT=$filtered CFS_WINE_PREFIX=$unmade bash tests/e2e/run_e2e.sh $wrong || code=$?
    [ "$code" = 2 ] && [ ! -e "$unmade" ] && [ -s "$filtered/suite/scenarios.log" ] || {
      echo "run_e2e.sh $wrong: exit $code, prefix made: $([ -e "$unmade" ] && echo yes || echo no)," \
        "last run's log: $([ -s "$filtered/suite/scenarios.log" ] && echo kept || echo gone)"
      return 1
    }
  done
}

# An unknown release, or no debootstrap: one line, exit 2, nothing made.
fresh_root_refusals() {
  local said never=$PWD/build/fresh-root-never-made
  said=$(FRESH_ROOT_DIR=$never bash scripts/fresh-root.sh nosuch true 2>&1)
  [ $? = 2 ] && [ "$said" = "fresh-root.sh: unknown release nosuch (bookworm or trixie)" ] ||
    { echo "$said"; return 1; }
  said=$(FRESH_ROOT_DIR=$never PATH=/usr/bin:/bin bash scripts/fresh-root.sh 13 true 2>&1)
  [ $? = 2 ] && [ "$said" = "fresh-root.sh: debootstrap is needed (apt-get install debootstrap)" ] &&
    [ ! -e "$never" ] || { echo "$said"; return 1; }
}

# Two builds side by side: the sanitizers', and the coverage build, whose
# run of every native test is also the lane's plain one (the same compiler,
# unoptimised). The fuzzers beside them run below the lane's priority (fuzz.sh
# sees to it): they run for a fixed time whatever else runs, so they take what
# the builds leave.
native_lane() {
  renice -n 10 -p "$BASHPID" >/dev/null || true
  stage "fuzzing, short runs" bash scripts/fuzz.sh "${CFS_FUZZ_SECONDS:-60}" &
  stage "asan: build and test" build_and_test asan &
  stage "native: tests and coverage floor" bash scripts/coverage.sh
  stage "fresh-root refusals" fresh_root_refusals
  wait
}

wine64_lane() {
  stage "wine64: smoke, no driver" bash tests/e2e/smoke.sh
  stage "wine64: end-to-end suite" bash tests/e2e/run_e2e.sh --except keyboard
}

# The x86_64 program, which the release ships for 64-bit Windows: the smoke
# test and the essentials in a 64-bit prefix of its own (CFS_WINE_PREFIX_X64,
# default build/wine-prefix-x64), since the wine64 lane resets its driver.
# Since this lane would end long before the wine64 lane's suite, it also runs
# the 64-bit driver's tests first, and the suite's keyboard group with the
# i686 program last, as that lane would run it; where 32-bit programs cannot
# run, the whole suite but that group instead.
wine64_x64_lane() {
  export CFS_E2E_PROGRAM=x64 CFS_WINE_PREFIX=${CFS_WINE_PREFIX_X64:-$PWD/build/wine-prefix-x64}
  export CFS_E2E_OUT=${CFS_E2E_OUT:-$PWD/build/e2e}-x64
  stage "wine64 x64: stand-in driver" bash standin/driver/tests/run_driver_tests.sh
  stage "wine64 x64: smoke" bash tests/e2e/smoke.sh
  wine_32bit || { stage "wine64 x64: end-to-end suite" bash tests/e2e/run_e2e.sh --except keyboard; return; }
  stage "wine64 x64: essentials" bash tests/e2e/run_e2e.sh essentials
  CFS_E2E_PROGRAM=x86 CFS_E2E_OUT=$CFS_E2E_OUT-keyboard \
    stage "wine64 x64: keyboard, i686 program" bash tests/e2e/run_e2e.sh keyboard
}

# A 32-bit-only Windows, as the tool's users run it from XP on, with the i686
# driver: the smoke test and the essential scenarios as VERSION (the 64-bit
# lanes run as Wine's default: Windows 7 for Wine 8, Windows 10 for Wine 10),
# in a prefix of its own, PREFIX. As Windows 7 (CFS_WINE_PREFIX32, default
# build/wine-prefix32) the driver tests come first, as Windows XP
# (CFS_WINE_PREFIX32_XP, default build/wine-prefix32-xp) the runner's own
# checks last: two lanes side by side, for time.
wine32_lane() { # VERSION PREFIX
  export CFS_WINE_ARCH=win32 CFS_WINE_PREFIX=$2
  local out=${CFS_E2E_OUT:-$PWD/build/e2e}-win32-$1
  [ "$1" = win7 ] && CFS_DRIVER_TESTS_OUT="${CFS_DRIVER_TESTS_OUT:-$PWD/build/driver-tests}-win32" \
    stage "wine32: stand-in driver" bash standin/driver/tests/run_driver_tests.sh
  export CFS_WINE_VERSION=$1
  CFS_E2E_OUT=$out stage "wine32 as $1: smoke" bash tests/e2e/smoke.sh
  CFS_E2E_OUT=$out stage "wine32 as $1: essentials" bash tests/e2e/run_e2e.sh essentials
  [ "$1" = win7 ] && return
  stage "wine32 as $1: end-to-end runner" runner_checks
  # Builds the release twice: at the native builds' priority, after this
  # lane's scenarios, as the lane ends early.
  stage "reproducible release" nice -n 10 bash scripts/check_reproducible.sh
}

# Where 32-bit programs cannot run, the x64 program stands in for the i686 one:
# the x64 lane runs the whole suite but its keyboard group, run here in the
# wine64 lane's prefix.
x64_only_lanes() {
  not_run "wine64: smoke, no driver" "wine64: end-to-end suite" "wine64 x64: keyboard, i686 program" \
    "wine32: stand-in driver" "wine32 as win7: smoke" "wine32 as win7: essentials" \
    "wine32 as winxp: smoke" "wine32 as winxp: essentials"
  wine64_x64_lane &
  lanes+=($!)
  {
    export CFS_E2E_PROGRAM=x64
    stage "wine64: keyboard, x64 program" bash tests/e2e/run_e2e.sh keyboard
    stage "wine64: end-to-end runner" runner_checks
    stage "reproducible release" nice -n 10 bash scripts/check_reproducible.sh
  } &
  lanes+=($!)
}

# The packages of the Windows builds and Wine first, as the Wine lanes take
# longest; the native ones while those lanes run.
if stage "packages: Windows and Wine" bash scripts/setup.sh windows; then
  { stage "packages: native" bash scripts/setup.sh && native_lane; } &
  lanes=($!)
  if stage "Windows builds: mingw-i686" windows_build mingw-i686 &&
    stage "Windows builds: mingw-x86_64" windows_build mingw-x86_64; then
    if ! wine_32bit; then
      x64_only_lanes
    else
      wine64_lane &
      lanes+=($!)
      wine32_lane win7 "${CFS_WINE_PREFIX32:-$PWD/build/wine-prefix32}" &
      lanes+=($!)
      wine32_lane winxp "${CFS_WINE_PREFIX32_XP:-$PWD/build/wine-prefix32-xp}" &
      lanes+=($!)
      wine64_x64_lane &
      lanes+=($!)
    fi
  fi
  wait "${lanes[@]}"
fi

printf '\n%-36s %7s %7s  %s\n' stage "at (s)" "time (s)" verdict
failed=()
not_run=0
while IFS=$'\t' read -r at seconds verdict name log; do
  [ "$verdict" != "not run" ] || verdict="not run: needs 32-bit programs" not_run=$((not_run + 1))
  printf '%-36s %7s %7s  %s\n' "$name" "$at" "$seconds" "$verdict"
  [[ $verdict == passed || $verdict == not\ run* ]] || failed+=("$name	$log")
done < <(cat "$logs"/*.result 2>/dev/null | sort -n -k1,1)
# What a failed stage's log says failed and why: the FAIL lines of the
# scenarios and checks (with their expected and actual values), GoogleTest's
# failure messages, errors, crashes and time limits; else its last lines.
reasons() {
  local said
  said=$(awk 'detail > 0 && !/^\[/ && !/^$/ { print "      " substr($0, 1, 300); detail--; next }
    { detail = 0 }
    /^ +(expected|actual): / { print "    " $0; next }
    /: Failure$/ { print "    " $0; detail = 8; next }
    /FAIL|(^|[^-a-z])[Ee]rror([ :,]|$)|ERROR|Unhandled|crash|SUMMARY|floor|timed out|did not|within [0-9.]+ s|^E: |\((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)\)/ &&
      !seen[$0]++ { print "    " substr($0, 1, 700) }' "$1" | head -n 30)
  if [ -n "$said" ]; then echo "$said"; else tail -n 15 "$1"; fi
}
for entry in "${failed[@]}"; do
  printf '\n--- %s failed (the whole log: %s):\n' "${entry%%	*}" "${entry#*	}"
  reasons "${entry#*	}"
done
# The tests leave the machine as they found it; a stage that replaced the
# null device would break every program that opens it.
if [ ! -c /dev/null ]; then
  printf '\n--- /dev/null is no longer a character device\n'
  failed+=("/dev/null")
fi
total=$((SECONDS - started))
if [ ${#failed[@]} -gt 0 ]; then
  printf '\n=== FAILED: %d stage(s), listed above (%ds)\n' ${#failed[@]} "$total"
  exit 1
fi
[ "$not_run" = 0 ] || without=" without the i686 program: $(wine_32bit_why); the $not_run stages \"not run\" need them"
printf '\n=== all tests passed%s (%ds)\n' "${without:-}" "$total"
