# Helpers for running the real program under Wine, sourced after
# tests/wine/wine_env.sh by the smoke test, the end-to-end suite and the run
# command. Every wait has a time limit.
#
#   e2e_locate                 E2E_APP, E2E_PROBE, E2E_DRIVER_SYS from the build dirs
#                              (CFS_E2E_PROGRAM's program, x86 or x64, and CFS_WINE_ARCH's driver),
#                              E2E_WINE, the loader that starts the program and the probe
#   e2e_driver_ready SYS       the stand-in driver installed afresh, defaults, running
#   e2e_driver_absent          no driver running
#   e2e_probe VERB...          runs the probe in the prefix
#   e2e_app_start LOG          starts the program in the background
#   e2e_app_wait SECONDS       waits for it to end; sets E2E_APP_EXIT
#   e2e_app_kill               ends it if it still runs
#   e2e_keyboard_focus_wait    until the dialog holds the X keyboard focus
#   e2e_cleanup                everything above, then the display
#   e2e_exit                   the same as an EXIT trap, saying when a step failed

E2E_TITLE="Call Forwarding Setting"

e2e_say() { printf '%s: %s\n' "${E2E_NAME:-e2e}" "$*" >&2; }

# Build dirs as given (default the presets' own); nothing is built here.
e2e_locate() {
  local i686=${CFS_BUILD_I686:-$CFS_REPO_ROOT/build/mingw-i686}
  local x64=${CFS_BUILD_X64:-$CFS_REPO_ROOT/build/mingw-x86_64}
  # The probe's cursor hook loads into the program's process: one build for both.
  local program=$i686 preset=mingw-i686
  if [ "${CFS_E2E_PROGRAM:-x86}" = x64 ]; then
    program=$x64 preset=mingw-x86_64
  elif ! wine_32bit; then
    e2e_say "the i686 program cannot run here (CFS_E2E_PROGRAM=x64 runs the x64 one): $(wine_32bit_say)"
    return 1
  fi
  E2E_APP=$program/dialog/CallForwardingSetting.exe
  E2E_PROBE=$program/tests/e2e/probe/probe.exe
  E2E_DRIVER_SYS=$x64/standin/driver/capi201.sys
  if [ "${CFS_WINE_ARCH:-win64}" = win32 ]; then
    E2E_DRIVER_SYS=$i686/standin/driver/capi201.sys
  fi
  local file
  for file in "$E2E_APP" "$E2E_PROBE"; do
    if [ ! -f "$file" ]; then
      e2e_say "missing $file (build the $preset preset first)"
      return 1
    fi
  done
  E2E_WINE=$(wine_loader "$E2E_APP")
  export E2E_APP E2E_PROBE E2E_DRIVER_SYS E2E_WINE
}

# The stand-in driver freshly installed from SYS and running with its
# defaults (no registry configuration), or with no driver at all. The
# harness's functions are called where a failure is tested, since they
# expect to run without errexit.
e2e_driver_ready() {
  local sys=$1
  if [ ! -f "$sys" ]; then
    e2e_say "missing $sys (build the $(wine_driver_preset) preset first)"
    return 1
  fi
  wine_driver_install "$sys" || return 1
  wine_driver_config NetworkDelayMs= TimeOutMs= QueryIdleMs= UnreachableNumbers= Forwardings= ||
    return 1
  wine_driver_start || return 1
}

e2e_driver_absent() {
  if wine_run sc query "$CFS_DRIVER_SERVICE" >/dev/null 2>&1; then
    wine_driver_stop || return 1
  fi
  # The control device answers only while the driver runs.
  if e2e_probe drv-stats >/dev/null 2>&1; then
    e2e_say "the stand-in driver still answers"
    return 1
  fi
}

# Plain lines: the Windows console ends them with CR LF.
e2e_probe() {
  wine_run --timeout 120 "$E2E_PROBE" "$@" | tr -d '\r'
}

e2e_app_start() {
  local log=$1
  $E2E_WINE "$E2E_APP" >"$log" 2>&1 </dev/null &
  E2E_APP_PID=$!
}

e2e_app_wait() {
  local seconds=$1 waited=0
  while kill -0 "$E2E_APP_PID" 2>/dev/null; do
    if [ "$waited" -ge $((seconds * 10)) ]; then
      e2e_say "the program did not end within $seconds s"
      return 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  E2E_APP_EXIT=0
  wait "$E2E_APP_PID" || E2E_APP_EXIT=$?
  E2E_APP_PID=
}

e2e_app_kill() {
  if [ -n "${E2E_APP_PID:-}" ]; then
    kill "$E2E_APP_PID" 2>/dev/null || true
    wait "$E2E_APP_PID" 2>/dev/null || true
    E2E_APP_PID=
  fi
}

e2e_keyboard_focus_wait() {
  local waited
  for waited in $(seq 1 100); do
    if [ "$(cfs_timeout 10 xdotool getwindowfocus getwindowname 2>/dev/null)" = "$E2E_TITLE" ]; then
      return 0
    fi
    sleep 0.1
  done
  e2e_say "the dialog never got the keyboard focus"
  return 1
}

e2e_cleanup() {
  e2e_app_kill
  if [ -n "${WINEPREFIX:-}" ]; then
    wine_session_end >/dev/null 2>&1 || true
  fi
  wine_display_stop
}

e2e_exit() {
  local status=$?
  e2e_cleanup
  if [ "$status" != 0 ]; then
    e2e_say "FAILED (exit $status)${e2e_failed_at:+, at ${e2e_failed_at##*/}: $(sed -n "${e2e_failed_at##*:}p" "${e2e_failed_at%:*}" | sed 's/^ *//')}"
  fi
  return "$status"
}

# e2e_exit names the command that ended the script (errexit), in a function too.
set -E
trap 'e2e_failed_at=${e2e_failed_at:-${BASH_SOURCE[0]}:$LINENO}' ERR
