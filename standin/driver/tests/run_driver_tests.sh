#!/usr/bin/env bash
# Runs the stand-in driver under Wine and checks it with the Windows test
# program: load, the program's requests, the control device, cancellation,
# unload with a request pending, and loading again.
#
#   run_driver_tests.sh [X86_64_BUILD_DIR] [I686_BUILD_DIR]
#
# Builds nothing. The 32-bit test program, which talks to the driver as the
# real program does, comes from the mingw-i686 build (default
# build/mingw-i686, or CFS_BUILD_I686). In the 64-bit prefix (the default)
# the driver and the 64-bit test program come from the mingw-x86_64 build
# (default build/mingw-x86_64, or CFS_BUILD_X64); in a 32-bit-only one
# (CFS_WINE_ARCH=win32) the i686 driver runs and the 32-bit program checks
# it both before and after the reload; where 32-bit programs cannot run, the
# 64-bit one takes the 32-bit one's turns. Logs go to build/driver-tests/
# (build/driver-tests-win32/), or CFS_DRIVER_TESTS_OUT. Exits non-zero,
# naming the failed check, on any failure.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
X86_64_BUILD=${1:-${CFS_BUILD_X64:-$ROOT/build/mingw-x86_64}}
I686_BUILD=${2:-${CFS_BUILD_I686:-$ROOT/build/mingw-i686}}
PROGRAM_TIMEOUT=120

# shellcheck source=../../../tests/wine/wine_env.sh
source "$ROOT/tests/wine/wine_env.sh"

started=$SECONDS
say() { printf 'driver tests (%ds): %s\n' $((SECONDS - started)) "$*"; }
fail() {
  say "FAIL: $*"
  exit 1
}

finish() {
  local code=$?
  wine_session_end >/dev/null 2>&1
  wine_display_stop
  exit "$code"
}

TEST32=$I686_BUILD/standin/driver/tests/driver_wine_test.exe
FIRST=(win32 "$TEST32")
if [ "${CFS_WINE_ARCH:-win64}" = win32 ]; then
  LOGS=${CFS_DRIVER_TESTS_OUT:-$ROOT/build/driver-tests-win32}
  DRIVER=$I686_BUILD/standin/driver/capi201.sys
  AFTER_RELOAD=(win32-reloaded "$TEST32")
else
  LOGS=${CFS_DRIVER_TESTS_OUT:-$ROOT/build/driver-tests}
  DRIVER=$X86_64_BUILD/standin/driver/capi201.sys
  TEST64=$X86_64_BUILD/standin/driver/tests/driver_wine_test.exe
  [ -f "$TEST64" ] || fail "no 64-bit test program at $TEST64 (build preset mingw-x86_64 first)"
  AFTER_RELOAD=(win64 "$TEST64")
  wine_32bit || FIRST=(win64 "$TEST64")
fi
[ -f "${FIRST[1]}" ] || fail "no ${FIRST[0]} test program at ${FIRST[1]} (build its preset first)"
[ -f "$DRIVER" ] || fail "no driver at $DRIVER (build preset $(wine_driver_preset) first)"

rm -rf "$LOGS"
mkdir -p "$LOGS"
SESSION_LOG=$LOGS/session.log

wine_env_setup || fail "wine environment"
trap finish EXIT
wine_display_start || fail "X display"
wine_prefix_prepare || fail "Wine prefix"

say "starting a session and the driver"
wine_session_start "$SESSION_LOG" || fail "Wine session"
wine_driver_install "$DRIVER" || fail "driver install"
# The test program expects exactly these back after a reset.
wine_driver_config NetworkDelayMs=100 TimeOutMs=300 'UnreachableNumbers=998;997' \
  Forwardings=555,666,2,1 || fail "driver registry values"
wine_driver_start || fail "driver load"
grep -q 'capi201: loaded; delay 100 ms, time-out 300 ms, 2 unreachable, 1 forwardings' \
  "$SESSION_LOG" || fail "driver did not report the registry configuration (see $SESSION_LOG)"

# run_checks NAME EXE: the full test program; prints its failed checks.
run_checks() {
  local name=$1 exe=$2 log=$LOGS/$1.log
  say "checks with the $name test program"
  wine_run --timeout "$PROGRAM_TIMEOUT" "$exe" >"$log" 2>&1
  local code=$?
  grep '^FAIL' "$log"
  tail -n 1 "$log"
  [ "$code" -eq 124 ] && fail "$name test program timed out (see $log)"
  wine_log_check "$log" || fail "$name test program crashed (see $log)"
  [ "$code" -eq 0 ] || fail "$name test program: checks failed (see $log)"
  tr -d '\r' <"$log" | grep -q ' passed, 0 failed$' || fail "$name test program ended without its summary"
}

run_checks "${FIRST[@]}"

say "unload with a request pending"
unload_log=$LOGS/unload.log
: >"$unload_log"
cfs_timeout "$PROGRAM_TIMEOUT" $(wine_loader "${FIRST[1]}") "${FIRST[1]}" --pend-until-unload \
  >"$unload_log" 2>&1 &
waiter=$!
for _ in $(seq 1 300); do
  grep -q '^pending' "$unload_log" && break
  kill -0 "$waiter" 2>/dev/null || break
  sleep 0.1
done
grep -q '^pending' "$unload_log" || fail "unload: request did not pend ($(cat "$unload_log"))"
wine_driver_stop || fail "unload: driver did not stop"
wait "$waiter"
waiter_code=$?
grep -q '^ended: aborted' "$unload_log" && [ "$waiter_code" -eq 0 ] ||
  fail "unload: pending request not cancelled ($(tr '\n' ' ' <"$unload_log"))"

say "loading the driver again"
wine_driver_start || fail "driver reload"
run_checks "${AFTER_RELOAD[@]}"

wine_driver_stop || fail "final unload"
wine_session_end
wine_log_check "$SESSION_LOG" || fail "the driver's host crashed (see $SESSION_LOG)"
# Wine's kernel reports a remove lock released more often than taken.
! grep 'is not acquired' "$SESSION_LOG" || fail "the driver released its remove lock once too often"
say "all driver checks passed"
