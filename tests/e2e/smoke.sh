#!/usr/bin/env bash
# Smoke test of the real program under Wine with no driver running: it
# starts on a virtual display with its dialog at the top-left and the banner
# first, every command reports the missing driver, Escape ends it, and the
# exit code is 0. Builds nothing: takes build/mingw-i686 (or CFS_BUILD_I686).
set -euo pipefail
E2E_NAME=smoke
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../wine/wine_env.sh"
source "$here/e2e_lib.sh"

out=${CFS_E2E_OUT:-$CFS_REPO_ROOT/build/e2e}/smoke
rm -rf "$out"
mkdir -p "$out"

fail() {
  e2e_say "FAILED: $*"
  if [ -f "$out/probe.txt" ]; then
    e2e_say "probe output:"
    sed 's/^/    /' "$out/probe.txt" >&2
  fi
  exit 1
}

e2e_locate
wine_env_setup
trap e2e_exit EXIT
wine_prefix_prepare
wine_display_start
wine_session_start "$out/session.log" || fail "no Wine session"
# The prefix may have the stand-in driver installed by other tests.
e2e_driver_absent || fail "cannot stop the stand-in driver"

e2e_app_start "$out/program.log"
e2e_probe wait 30000 window lines >"$out/probe.txt" || fail "no dialog"
grep -qx "window 0 0 [0-9]* [0-9]*" "$out/probe.txt" || fail "the dialog is not at the top-left corner"
grep -qx "title $E2E_TITLE" "$out/probe.txt" || fail "wrong title"
grep -qx "line 0 Quorvan App Version 1.0" "$out/probe.txt" || fail "the banner is not the first status line"
grep -qx "count 1" "$out/probe.txt" || fail "more than the banner at start"

e2e_probe set 1010 821 set 1009 739 click 1032 click 1031 click 1033 lines >"$out/probe.txt" ||
  fail "commands"
expected=$(printf 'count 4\nline 0 Quorvan App Version 1.0\nline 1 Failed to Open Driver\nline 2 Failed to Open Driver\nline 3 Failed to Open Driver')
[ "$(grep -E '^(count|line) ' "$out/probe.txt")" = "$expected" ] ||
  fail "Activate, Deactivate and Check Current Setting must each log \"Failed to Open Driver\""

e2e_keyboard_focus_wait || fail "no keyboard focus"
cfs_timeout 10 xdotool key Escape
e2e_app_wait 15 || fail "Escape did not end the program"
[ "$E2E_APP_EXIT" = 0 ] || fail "exit code $E2E_APP_EXIT, not 0"
wine_log_check "$out/program.log" || fail "the program crashed"
wine_log_check "$out/session.log" || fail "a Wine service crashed"
e2e_say "passed"
